#include "runtime/Net.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>

namespace INet4 {

void Addr::Reset() {
  std::memset(static_cast<sockaddr_in*>(this), 0, sizeof(sockaddr_in));
  sin_family = AF_INET;
}

namespace {

// atoi's reading (white space, sign, leading digits, 0 without any),
// without its undefined result beyond int.
int portNumber(const char* s) {
  errno = 0;
  long v = std::strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

bool Addr::Assign(const char* text, int* port) {
  if (!text) {
    if (port) *port = -1;
    return false;
  }
  std::string address;
  if (const char* colon = std::strchr(text, ':')) {
    const int p = portNumber(colon + 1);
    sin_port = htons(static_cast<unsigned short>(static_cast<unsigned>(p) & 0xFFFFu));
    if (port) *port = p;
    address.assign(text, colon);
  } else {
    if (port) *port = -1;
    address = text;
  }
  in_addr a;
  if (!inet_aton(address.c_str(), &a)) return false;
  sin_addr = a;
  return true;
}

void Addr::Assign(unsigned long networkOrder) { sin_addr.s_addr = static_cast<in_addr_t>(networkOrder); }

unsigned short Addr::port() const { return ntohs(sin_port); }

void Addr::port(unsigned short p) { sin_port = htons(p); }

bool Addr::IsEqual(const Addr& other) const {
  return sin_addr.s_addr == other.sin_addr.s_addr && sin_port == other.sin_port;
}

const char* Addr::GetStrAddr() const { return inet_ntoa(sin_addr); }

std::string Addr::GetString() const {
  std::ostringstream os;
  Put(os);
  return os.str();
}

void Addr::Put(std::ostream& os) const {
  // inet_ntop rather than the shared buffer: a statement may print two
  // addresses.
  char buf[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &sin_addr, buf, sizeof buf)) buf[0] = 0;
  os << buf << ':' << port();
}

std::vector<char> Addr::GetVector() const {
  const char* p = reinterpret_cast<const char*>(&sin_addr.s_addr);
  return std::vector<char>(p, p + 4);
}

std::ostream& operator<<(std::ostream& os, const Addr& a) {
  a.Put(os);
  return os;
}

}  // namespace INet4

namespace Net {

namespace {

// The interface records asked for at once: 16, as the board has always
// listed. The buffer is sized by the machine's own record size.
const int maxRecords = 16;

class Socket {
 public:
  Socket() : mFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (mFd >= 0) ::close(mFd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return mFd; }

 private:
  int mFd;
};

bool inNet(std::uint32_t a, std::uint32_t net, int bits) {
  const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t(0) << (32 - bits);
  return (a & mask) == net;
}

// Calls `each(record, socket)` for every chosen IPv4 record; -1 when the
// list cannot be had.
template <class F>
int forEachChosen(ifconfig_mode_t mode, F each) {
  Socket s;
  if (s.fd() < 0) return -1;
  ifreq records[maxRecords];
  std::memset(records, 0, sizeof records);
  ifconf conf;
  std::memset(&conf, 0, sizeof conf);
  conf.ifc_len = sizeof records;
  conf.ifc_req = records;
  if (::ioctl(s.fd(), SIOCGIFCONF, &conf) < 0) return -1;
  int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
  if (n > maxRecords) n = maxRecords;
  int count = 0;
  for (int i = 0; i < n; ++i) {
    const ifreq& r = records[i];
    if (r.ifr_addr.sa_family != AF_INET) continue;
    char name[IFNAMSIZ + 1];
    std::memcpy(name, r.ifr_name, IFNAMSIZ);
    name[IFNAMSIZ] = 0;
    sockaddr_in sin;
    std::memcpy(&sin, &r.ifr_addr, sizeof sin);
    if (!ifconfig_chosen(name, ntohl(sin.sin_addr.s_addr), mode)) continue;
    if (each(name, s.fd())) ++count;
  }
  return count;
}

bool request(int fd, unsigned long what, const char* name, ifreq& r) {
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.ifr_name, name, strnlen(name, IFNAMSIZ - 1));
  return ::ioctl(fd, what, &r) >= 0;
}

}  // namespace

bool ifconfig_chosen(const char* name, std::uint32_t a, ifconfig_mode_t mode) {
  if (mode == 0) return true;
  if ((mode & IFC_NOT_LOOPBACK) && strcasecmp(name, "lo") != 0) return true;
  if ((mode & IFC_LINK_LOCAL) && inNet(a, 0xA9FE0000u, 16)) return true;
  if ((mode & IFC_PRIVATE) &&
      (inNet(a, 0xC0A80000u, 16) || inNet(a, 0xAC100000u, 12) || inNet(a, 0x0A000000u, 8)))
    return true;
  return false;
}

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  return forEachChosen(mode, [&out](const char* name, int fd) {
    ifreq r;
    if (!request(fd, SIOCGIFADDR, name, r)) return false;
    sockaddr_in sin;
    std::memcpy(&sin, &r.ifr_addr, sizeof sin);
    out.push_back(INet4::Addr(sin));
    return true;
  });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned int flags) {
  return forEachChosen(mode, [&out, flags](const char* name, int fd) {
    ifreq r;
    if (!request(fd, SIOCGIFADDR, name, r)) return false;
    if (!request(fd, SIOCGIFFLAGS, name, r)) return false;
    const unsigned int have = static_cast<unsigned short>(r.ifr_flags);
    if ((have & flags) != flags) return false;
    out.push_back(name);
    return true;
  });
}

std::string hostname() {
  char buf[512];
  if (::gethostname(buf, sizeof buf) != 0) return std::string();
  buf[sizeof buf - 1] = 0;
  return buf;
}

int hostname(const std::string& name) { return ::sethostname(name.data(), name.size()); }

}  // namespace Net

namespace {

// The candidate's command name is `name`: the text between the first "("
// and the last ")" of at most 255 bytes of its stat file.
bool procHasName(int pid, const char* name) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[256];
  ssize_t got;
  do {
    got = ::read(fd, buf, 255);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  if (got <= 0) return false;
  const std::string stat(buf, static_cast<std::size_t>(got));
  const std::size_t open = stat.find('(');
  const std::size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  return stat.compare(open + 1, close - open - 1, name) == 0;
}

// A directory entry of /proc read as a process id; 0 for anything else.
int entryPid(const char* s) {
  if (!*s) return 0;
  long v = 0;
  for (const char* p = s; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    v = v * 10 + (*p - '0');
    if (v > INT_MAX) return 0;
  }
  return static_cast<int>(v);
}

}  // namespace

int find_proc_by_name(const char* name, int pid) {
  if (!name) return -1;
  // The running system's processes, so the real /proc and never a path
  // under the board root: that root only relocates the board's own files.
  int result = -1;
  DIR* dir = nullptr;
  int candidate = pid;
  for (;;) {
    if (candidate > 0 && procHasName(candidate, name)) result = candidate;
    if (result >= 0) break;
    if (!dir) {
      dir = ::opendir("/proc");
      if (!dir) break;
    }
    const dirent* e = ::readdir(dir);
    if (!e) break;
    candidate = entryPid(e->d_name);
  }
  if (dir) ::closedir(dir);
  return result;
}

std::ostream& timestamp(std::ostream& os) {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return os;
  std::tm local;
  if (!::localtime_r(&now, &local)) return os;
  char buf[64];
  const std::size_t n = std::strftime(buf, sizeof buf, "%d/%m %H:%M:%S", &local);
  os.write(buf, static_cast<std::streamsize>(n));
  return os;
}

namespace Console {

void SwitchToBinaryMode() {
  termios t;
  std::memset(&t, 0, sizeof t);
  if (::tcgetattr(STDIN_FILENO, &t) != 0) std::cerr << "can't obtain terminal attributes" << std::endl;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL);
  if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &t) != 0) std::cerr << "can't set terminal attributes" << std::endl;
}

void SwitchToNonBlockMode() {
  int on = 1;
  if (::ioctl(STDIN_FILENO, FIONBIO, &on) != 0) std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

}  // namespace Console
