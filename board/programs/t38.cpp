// A stand-in for the T.38 daemon. "--num-of-instances" prints the number
// of instances; "--child --remote A/P/P args..." writes its command line
// to its log, reads frames from its standard input (the controller
// channel) and logs each, then ends.
//
// Script ("<root>/etc/standin/t38"):
//   instances TEXT   the answer's first line (default "8"); "-" prints
//                    nothing, "hang" never answers
//   read N           frames to read before ending (default 1)
//   exit CODE        exit code at the end (default 0)
#include <signal.h>

#include <cstring>

#include "Script.h"

int main(int argc, char** argv) {
  auto sc = standin::script("t38");
  ::alarm(120);
  if (argc == 2 && std::strcmp(argv[1], "--num-of-instances") == 0) {
    const std::string answer = sc.count("instances") ? sc["instances"] : "8";
    if (answer == "hang") {
      for (;;) ::pause();
    }
    if (answer != "-") std::printf("%s\n", answer.c_str());
    return 0;
  }
  standin::Log log("t38");
  log.start(argc, argv);
  const int frames = sc.count("read") ? std::atoi(sc["read"].c_str()) : 1;
  unsigned char buf[4096];
  for (int i = 0; i < frames; ++i) {
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n <= 0) {
      log.line("stdin closed");
      break;
    }
    log.line("read " + standin::hex(buf, size_t(n)));
  }
  return std::atoi(sc["exit"].c_str());
}
