#pragma once
// Helpers of the log tests: a system-log receiver of the test's own under
// a temporary root, the message split on NUL, a child process with a time
// limit, and a fixed time zone.
#include "runtime/RuntimeTestUtil.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace log_test {

// Local time is UTC for the life of the object.
class UtcZone {
public:
  UtcZone() {
    const char* tz = getenv("TZ");
    had_ = tz != nullptr;
    if (had_) old_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~UtcZone() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  bool had_ = false;
  std::string old_;
};

// A socket bound at <root>/dev/log: datagram, or a listening stream.
class Receiver {
public:
  Receiver(const std::string& path, int type = SOCK_DGRAM) : path_(path), type_(type) {
    fd_ = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    unlink(path.c_str());
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::perror("bind");
    if (type == SOCK_STREAM) listen(fd_, 4);
  }
  ~Receiver() {
    if (conn_ >= 0) close(conn_);
    close(fd_);
    unlink(path_.c_str());
  }

  // One datagram, or what a stream peer sent so far; false on time-out.
  bool receive(std::string& out, int timeout_ms = 2000) {
    out.clear();
    int fd = fd_;
    if (type_ == SOCK_STREAM) {
      if (conn_ < 0) {
        if (!wait(fd_, timeout_ms)) return false;
        conn_ = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      }
      fd = conn_;
    }
    if (!wait(fd, timeout_ms)) return false;
    std::vector<char> buf(70000);
    ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    if (n < 0) return false;
    out.assign(buf.data(), static_cast<size_t>(n));
    return true;
  }
  bool nothing(int timeout_ms = 50) { return !wait(type_ == SOCK_STREAM && conn_ >= 0 ? conn_ : fd_, timeout_ms); }
  int fd() const { return fd_; }

private:
  static bool wait(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeout_ms) == 1;
  }
  std::string path_;
  int type_;
  int fd_ = -1;
  int conn_ = -1;
};

// The messages of one datagram: each ends with a zero byte.
inline std::vector<std::string> split(const std::string& data) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < data.size()) {
    size_t z = data.find('\0', start);
    if (z == std::string::npos) {
      out.push_back(data.substr(start) + "<unterminated>");
      break;
    }
    out.push_back(data.substr(start, z - start));
    start = z + 1;
  }
  return out;
}

// Runs body in a child process; its exit code, or -1 when it did not end
// within the time (it is then killed).
inline int run_child(const std::function<int()>& body, int timeout_ms) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace log_test
