#include "slots/LoopbackPeer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace LoopbackPeer {

namespace {

// An address word as the system's table writes it: four bytes as stored,
// read as one number of this machine.
std::string word(const unsigned char* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(w));
  return text;
}

std::string port(const sockaddr_in& a) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(ntohs(a.sin_port)));
  return text;
}

// The endpoint as the IPv4 table writes it.
std::string v4Entry(const sockaddr_in& a) {
  return word(reinterpret_cast<const unsigned char*>(&a.sin_addr)) + ":" + port(a);
}

// The endpoint as the IPv6 table writes it for a socket that reached us
// through an IPv4-mapped address.
std::string v6Entry(const sockaddr_in& a) {
  unsigned char m[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  std::memcpy(m + 12, &a.sin_addr, 4);
  return word(m) + word(m + 4) + word(m + 8) + word(m + 12) + ":" + port(a);
}

// The whole file; "" when it cannot be read. Opened close-on-exec, as
// every descriptor of the daemon.
std::string readFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, size_t(n));
  }
  ::close(fd);
  return text;
}

// The inode of the socket whose local and remote ends are as given, in
// the table of this thread's network (of the process's on kernels without
// "thread-self").
unsigned long find(const std::string& table, const std::string& local, const std::string& remote) {
  std::string text = readFile("/proc/thread-self/net/" + table);
  if (text.empty()) text = readFile("/proc/net/" + table);
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, l, r, skip;
    fields >> slot >> l >> r;
    if (l != local || r != remote) continue;
    // state, queues, timer, retransmits, uid, timeout, then the inode
    for (int i = 0; i < 6; ++i) fields >> skip;
    unsigned long inode = 0;
    if (fields >> inode && inode) return inode;
  }
  return 0;
}

bool hasOpen(int pid, const std::string& target) {
  DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!d) return false;
  bool found = false;
  char link[64];
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const ssize_t n = ::readlinkat(::dirfd(d), e->d_name, link, sizeof link);
    if (n == static_cast<ssize_t>(target.size()) && target.compare(0, target.size(), link, size_t(n)) == 0) {
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// Every process with its parent.
std::vector<std::pair<int, int>> processes() {
  std::vector<std::pair<int, int>> out;
  DIR* d = ::opendir("/proc");
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    char* end;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (*end || pid <= 0) continue;
    const std::string text = readFile("/proc/" + std::string(e->d_name) + "/stat");
    // "pid (name) state ppid ...": the name may hold anything, ")" too.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 1));
    std::string state;
    int ppid = 0;
    if (rest >> state >> ppid) out.emplace_back(static_cast<int>(pid), ppid);
  }
  ::closedir(d);
  return out;
}

}  // namespace

unsigned long inode(int fd) {
  sockaddr_in self{}, peer{};
  socklen_t n = sizeof self;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &n) != 0 || self.sin_family != AF_INET) return 0;
  n = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &n) != 0 || peer.sin_family != AF_INET) return 0;
  // The far end's local address is our peer, its remote one ourselves.
  if (const unsigned long i = find("tcp", v4Entry(peer), v4Entry(self))) return i;
  return find("tcp6", v6Entry(peer), v6Entry(self));
}

bool heldBy(int pid, unsigned long inode) {
  if (pid <= 0 || !inode) return false;
  const std::string target = "socket:[" + std::to_string(inode) + "]";
  if (hasOpen(pid, target)) return true;
  const std::vector<std::pair<int, int>> all = processes();
  std::vector<int> parents{pid};
  for (size_t i = 0; i < parents.size(); ++i) {
    for (const auto& p : all) {
      if (p.second != parents[i]) continue;
      if (hasOpen(p.first, target)) return true;
      parents.push_back(p.first);
    }
  }
  return false;
}

}  // namespace LoopbackPeer
