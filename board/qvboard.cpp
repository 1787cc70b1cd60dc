// qvboard: sends one command to the stand-in board's control socket and
// prints the answer.
//
//   qvboard [-s SOCKET] COMMAND [ARGS...]
//
// The socket defaults to "/var/run/standin.ctl" under QUORVAD_ROOT. Exit
// status: 0 answered, 1 the board refused the command, 2 no board reached.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "runtime/Root.h"

namespace {

int usage() {
  std::cerr << "usage: qvboard [-s SOCKET] COMMAND [ARGS...]   (qvboard help lists the commands)"
            << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = Root::path("/var/run/standin.ctl");
  int i = 1;
  if (i < argc && std::strcmp(argv[i], "-s") == 0) {
    if (i + 1 >= argc) return usage();
    path = argv[i + 1];
    i += 2;
  }
  if (i < argc && (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)) {
    usage();
    return 0;
  }
  std::string line;
  for (; i < argc; ++i) {
    if (!line.empty()) line += ' ';
    line += argv[i];
  }
  if (line.empty()) line = "help";
  if (line.find('\n') != std::string::npos) return usage();

  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    std::cerr << "qvboard: socket path too long: " << path << std::endl;
    return 2;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::cerr << "qvboard: cannot reach the stand-in board at " << path << ": "
              << std::strerror(errno) << std::endl;
    return 2;
  }
  line += '\n';
  for (size_t done = 0; done < line.size();) {
    ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::cerr << "qvboard: send: " << std::strerror(errno) << std::endl;
      return 2;
    }
    done += size_t(n);
  }
  // The answer ends with a line holding a single ".".
  std::string answer;
  char buf[65536];
  for (;;) {
    if (answer == ".\n") break;
    if (answer.size() >= 3 && answer.compare(answer.size() - 3, 3, "\n.\n") == 0) break;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::cerr << "qvboard: the board closed the connection before answering" << std::endl;
      return 2;
    }
    answer.append(buf, size_t(n));
  }
  ::close(fd);
  answer.resize(answer.size() - 2);
  std::cout << answer << std::flush;
  return answer.rfind("error: ", 0) == 0 ? 1 : 0;
}
