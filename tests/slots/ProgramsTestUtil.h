#pragma once
// The stand-in helper programs under a test root ("/usr/local/sbin/pppd",
// the fax programs, "/usr/local/sbin/t38"), their scripts and logs, a
// network of the test's own for the bridge's fixed port, and counts of a
// process's children and descriptors.
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace slots_test {



inline void installPrograms(const std::string& root) {
  auto rootPath = [&](const std::string& p) { return root + p; };
  namespace fs = std::filesystem;
  const std::string bin = std::string(QUORVAD_BINARY_DIR) + "/board/programs/standin-";
  const std::pair<const char*, const char*> programs[] = {{"pppd", "/usr/local/sbin/pppd"},
                                                          {"fax", "/usr/local/sbin/fax"},
                                                          {"fax", "/usr/local/bin/fax"},
                                                          {"t38", "/usr/local/sbin/t38"}};
  for (auto& p : programs) {
    fs::create_directories(fs::path(rootPath(p.second)).parent_path());
    fs::copy_file(bin + p.first, rootPath(p.second), fs::copy_options::overwrite_existing);
  }
  fs::create_directories(rootPath("/etc/standin"));
  fs::create_directories(rootPath("/var/log"));
}

// What the stand-in program does next ("" for its defaults).
inline void script(const std::string& root, const std::string& program, const std::string& text) {
  std::ofstream((root + "/etc/standin/" + program), std::ios::trunc) << text;
}

inline std::string programLog(const std::string& root, const std::string& program) {
  std::ifstream in((root + "/var/log/standin-" + program + ".log"));
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of the program's log without their pid.
inline std::vector<std::string> programLines(const std::string& root, const std::string& program) {
  std::vector<std::string> out;
  std::istringstream in(programLog(root, program));
  std::string line;
  while (std::getline(in, line)) out.push_back(line.substr(line.find(' ') + 1));
  return out;
}

// The children of a process that are still there, zombies included.
inline int childCount(int parent = ::getpid()) {
  int n = 0;
  const std::string me = std::to_string(parent);
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(e.path() / "status");
    std::string line;
    while (std::getline(stat, line))
      if (line.rfind("PPid:", 0) == 0) n += line.substr(line.find_first_not_of(" \t", 5)) == me;
  }
  return n;
}

inline int openDescriptors(const std::string& process = "self") {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + process + "/fd")) n += !e.path().empty();
  return n;
}

// Gives this thread (the loop's, which starts every child) a network of its
// own, so that no daemon of another test holds the bridge's fixed port;
// false where that is not allowed (the port is then waited for).
inline bool ownNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) return false;
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  const bool up = ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0);
  ::close(s);
  return up;
}

}  // namespace slots_test
