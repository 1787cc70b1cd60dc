#include "runtime/Net.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

const int skipCode = 77;

// Runs `body` in a child process; its text comes back through a pipe. The
// child's exit code 77 means the machine cannot do what the test needs.
struct ChildResult {
  bool skipped = false;
  int status = -1;
  std::string text;
};

ChildResult inChild(const std::function<int(std::string&)>& body) {
  ChildResult r;
  int p[2];
  if (pipe(p) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    std::string text;
    const int code = body(text);
    const char* d = text.data();
    std::size_t left = text.size();
    while (left) {
      const ssize_t n = write(p[1], d, left);
      if (n <= 0) break;
      d += n;
      left -= static_cast<std::size_t>(n);
    }
    _exit(code);
  }
  close(p[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(p[0], buf, sizeof buf)) > 0) r.text.append(buf, static_cast<std::size_t>(n));
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.skipped = r.status == skipCode;
  return r;
}

std::uint32_t host(const char* dotted) { return ntohl(inet_addr(dotted)); }

}  // namespace

// ------------------------------------------------------------ INet4::Addr

TEST(INet4Addr, AddressWithPortAndWithout) {
  INet4::Addr a;
  EXPECT_EQ(a.sin_family, AF_INET);
  EXPECT_EQ(a.GetString(), "0.0.0.0:0");
  int port = 0;
  EXPECT_TRUE(a.Assign("192.168.1.10:5060", &port));
  EXPECT_EQ(port, 5060);
  EXPECT_EQ(a.port(), 5060);
  EXPECT_EQ(a.sin_port, htons(5060));
  EXPECT_STREQ(a.GetStrAddr(), "192.168.1.10");
  EXPECT_EQ(a.GetString(), "192.168.1.10:5060");

  EXPECT_TRUE(a.Assign(std::string("10.0.0.1"), &port));
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.GetString(), "10.0.0.1:5060");  // the port stays

  std::ostringstream os;
  os << a << ' ' << INet4::Addr("127.0.0.1:1");
  EXPECT_EQ(os.str(), "10.0.0.1:5060 127.0.0.1:1");
}

TEST(INet4Addr, InvalidAddressStillSetsThePortAndSaysSo) {
  INet4::Addr a("1.2.3.4:80");
  int port = 0;
  EXPECT_FALSE(a.Assign("no.such.host:7000", &port));
  EXPECT_EQ(port, 7000);
  EXPECT_EQ(a.GetString(), "1.2.3.4:7000");
  EXPECT_FALSE(a.Assign("256.1.1.1", &port));
  EXPECT_EQ(port, -1);
  EXPECT_FALSE(a.Assign(":99", &port));
  EXPECT_EQ(a.GetString(), "1.2.3.4:99");
  EXPECT_FALSE(a.Assign("", nullptr));
  EXPECT_FALSE(a.Assign(static_cast<const char*>(nullptr), &port));
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.GetString(), "1.2.3.4:99");
}

TEST(INet4Addr, PortTextReadLikeAtoi) {
  INet4::Addr a;
  int port = 0;
  EXPECT_TRUE(a.Assign("1.1.1.1:", &port));
  EXPECT_EQ(port, 0);
  EXPECT_TRUE(a.Assign("1.1.1.1:12ab", &port));
  EXPECT_EQ(port, 12);
  EXPECT_TRUE(a.Assign("1.1.1.1:70000", &port));  // low 16 bits
  EXPECT_EQ(port, 70000);
  EXPECT_EQ(a.port(), 70000 - 65536);
  EXPECT_TRUE(a.Assign("1.1.1.1:-1", &port));
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.port(), 65535);
  EXPECT_TRUE(a.Assign("1.1.1.1:99999999999999999999", &port));  // no undefined result
  EXPECT_TRUE(a.Assign("1.1.1.1:2:3", &port));  // after the first colon
  EXPECT_EQ(port, 2);
}

TEST(INet4Addr, ShortAndHexadecimalAddressForms) {
  INet4::Addr a;
  EXPECT_TRUE(a.Assign("10.1", nullptr));
  EXPECT_STREQ(a.GetStrAddr(), "10.0.0.1");
  EXPECT_TRUE(a.Assign("0x7f.1:8", nullptr));
  EXPECT_EQ(a.GetString(), "127.0.0.1:8");
  EXPECT_TRUE(a.Assign("3232235777", nullptr));
  EXPECT_STREQ(a.GetStrAddr(), "192.168.1.1");
}

TEST(INet4Addr, CopiesComparisonsAndRawForms) {
  INet4::Addr a("192.0.2.7:443");
  INet4::Addr b(a);
  EXPECT_TRUE(a == b);
  b.sin_family = AF_INET6;
  std::memset(b.sin_zero, 0x5A, sizeof b.sin_zero);
  EXPECT_TRUE(a.IsEqual(b));  // family and filler do not count
  b.port(444);
  EXPECT_TRUE(a != b);
  b.port(443);
  b.Assign(htonl(0x7F000001ul));
  EXPECT_FALSE(a == b);
  EXPECT_STREQ(b.GetStrAddr(), "127.0.0.1");

  sockaddr_in raw = a;
  INet4::Addr c(raw);
  EXPECT_EQ(std::memcmp(&raw, static_cast<sockaddr_in*>(&c), sizeof raw), 0);

  // a text without a port keeps the old one, the constructor starts from zero
  c = std::string("198.51.100.1");
  EXPECT_EQ(c.GetString(), "198.51.100.1:443");
  EXPECT_EQ(INet4::Addr(std::string("198.51.100.1")).GetString(), "198.51.100.1:0");

  EXPECT_EQ(a.GetVector(), std::vector<char>({char(192), char(0), char(2), char(7)}));
  EXPECT_EQ(sizeof(INet4::Addr), 16u);
  EXPECT_EQ(a.size(), 16u);
}

TEST(INet4Addr, SocketCallsTakeItDirectly) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  INet4::Addr a("127.0.0.1:0");
  ASSERT_EQ(bind(fd, a, a.size()), 0);
  INet4::Addr bound;
  socklen_t len = bound.size();
  ASSERT_EQ(getsockname(fd, bound, &len), 0);
  EXPECT_EQ(len, 16u);
  EXPECT_STREQ(bound.GetStrAddr(), "127.0.0.1");
  EXPECT_NE(bound.port(), 0);
  close(fd);
}

// --------------------------------------------------------------- ifconfig

TEST(NetIfconfig, ChoiceOfRecords) {
  using Net::ifconfig_chosen;
  EXPECT_TRUE(ifconfig_chosen("lo", host("127.0.0.1"), 0));
  EXPECT_FALSE(ifconfig_chosen("lo", host("127.0.0.1"), 1));
  EXPECT_FALSE(ifconfig_chosen("LO", host("127.0.0.1"), 1));
  EXPECT_TRUE(ifconfig_chosen("eth0", host("127.0.0.1"), 1));
  EXPECT_TRUE(ifconfig_chosen("lo", host("10.0.0.1"), 1 | 4));  // bits select, they do not exclude

  EXPECT_TRUE(ifconfig_chosen("eth0", host("169.254.0.0"), 2));
  EXPECT_TRUE(ifconfig_chosen("eth0", host("169.254.255.255"), 2));
  EXPECT_FALSE(ifconfig_chosen("eth0", host("169.255.0.1"), 2));
  EXPECT_FALSE(ifconfig_chosen("eth0", host("169.254.1.1"), 4));

  struct {
    const char* a;
    bool chosen;
  } const priv[] = {{"172.15.255.255", false}, {"172.16.0.0", true},   {"172.31.255.1", true},
                    {"172.32.0.1", false},     {"192.168.0.1", true},  {"192.169.0.1", false},
                    {"192.167.255.255", false}, {"10.0.0.0", true},    {"10.255.255.255", true},
                    {"11.0.0.0", false},       {"9.255.255.255", false}, {"127.0.0.1", false}};
  for (const auto& c : priv) EXPECT_EQ(ifconfig_chosen("eth0", host(c.a), 4), c.chosen) << c.a;
  EXPECT_FALSE(ifconfig_chosen("eth0", host("172.16.0.1"), 2));
}

namespace {

// In a network namespace of its own: loopback up, plus an alias of the
// loopback interface per address ("lo:0", "lo:1", ...).
int makeInterfaces(const std::vector<const char*>& addrs) {
  if (unshare(CLONE_NEWNET) != 0) return skipCode;
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return 1;
  ifreq r;
  std::memset(&r, 0, sizeof r);
  std::strcpy(r.ifr_name, "lo");
  if (ioctl(s, SIOCGIFFLAGS, &r) != 0) return 1;
  r.ifr_flags |= IFF_UP;
  if (ioctl(s, SIOCSIFFLAGS, &r) != 0) return 1;
  for (std::size_t i = 0; i < addrs.size(); ++i) {
    std::memset(&r, 0, sizeof r);
    const std::string label = "lo:" + std::to_string(i);
    std::memcpy(r.ifr_name, label.c_str(), label.size());
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr(addrs[i]);
    std::memcpy(&r.ifr_addr, &sin, sizeof sin);
    if (ioctl(s, SIOCSIFADDR, &r) != 0) return skipCode;
  }
  close(s);
  return 0;
}

std::string addresses(Net::ifconfig_mode_t mode) {
  std::list<INet4::Addr> out;
  out.push_back(INet4::Addr("1.1.1.1"));  // appended to, never cleared
  const int n = Net::ifconfig(out, mode);
  std::vector<std::string> v;
  for (const INet4::Addr& a : out) v.push_back(a.GetStrAddr());
  std::sort(v.begin(), v.end());
  std::string text = std::to_string(n) + ":";
  for (const std::string& s : v) text += " " + s;
  return text + "\n";
}

std::string names(Net::ifconfig_mode_t mode, unsigned flags) {
  std::list<std::string> out;
  const int n = Net::ifconfig(out, mode, flags);
  out.sort();
  std::string text = std::to_string(n) + ":";
  for (const std::string& s : out) text += " " + s;
  return text + "\n";
}

}  // namespace

TEST(NetIfconfig, ModesSelectInterfacesOfAPrivateNamespace) {
  ChildResult r = inChild([](std::string& out) {
    const int rc = makeInterfaces(
        {"172.31.255.1", "172.32.0.1", "169.254.3.4", "192.168.7.7", "10.9.8.7", "198.51.100.1"});
    if (rc) return rc;
    out += addresses(0) + addresses(1) + addresses(2) + addresses(4) + addresses(6);
    out += names(4, IFF_UP) + names(4, IFF_UP | IFF_LOOPBACK) + names(0, IFF_POINTOPOINT) + names(1, 0);
    return 0;
  });
  if (r.skipped) GTEST_SKIP() << "no network namespace or interface aliases here";
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.text,
            "7: 1.1.1.1 10.9.8.7 127.0.0.1 169.254.3.4 172.31.255.1 172.32.0.1 192.168.7.7 198.51.100.1\n"
            "6: 1.1.1.1 10.9.8.7 169.254.3.4 172.31.255.1 172.32.0.1 192.168.7.7 198.51.100.1\n"
            "1: 1.1.1.1 169.254.3.4\n"
            "3: 1.1.1.1 10.9.8.7 172.31.255.1 192.168.7.7\n"
            "4: 1.1.1.1 10.9.8.7 169.254.3.4 172.31.255.1 192.168.7.7\n"
            "3: lo:0 lo:3 lo:4\n"
            "3: lo:0 lo:3 lo:4\n"
            "0:\n"
            "6: lo:0 lo:1 lo:2 lo:3 lo:4 lo:5\n");
}

TEST(NetIfconfig, OnlySixteenRecordsAreExamined) {
  ChildResult r = inChild([](std::string& out) {
    std::vector<std::string> texts;
    for (int i = 1; i <= 20; ++i) texts.push_back("10.0.0." + std::to_string(i));
    std::vector<const char*> addrs;
    for (const std::string& t : texts) addrs.push_back(t.c_str());
    const int rc = makeInterfaces(addrs);
    if (rc) return rc;
    std::list<INet4::Addr> all;
    out = std::to_string(Net::ifconfig(all, 0));
    return 0;
  });
  if (r.skipped) GTEST_SKIP() << "no network namespace or interface aliases here";
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.text, "16");
}

TEST(NetIfconfig, ThisMachineListsItsLoopback) {
  std::list<INet4::Addr> out;
  const int n = Net::ifconfig(out, 0);
  ASSERT_GE(n, 1);
  EXPECT_EQ(static_cast<std::size_t>(n), out.size());
  std::list<std::string> names;
  EXPECT_EQ(Net::ifconfig(names, 0, 0), n);
  EXPECT_EQ(names.size(), static_cast<std::size_t>(n));
}

// --------------------------------------------------------------- hostname

TEST(NetHostname, ReadsTheSystemName) {
  utsname u;
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(Net::hostname(), u.nodename);
}

TEST(NetHostname, SetsTheNameInAPrivateNamespace) {
  ChildResult r = inChild([](std::string& out) {
    if (unshare(CLONE_NEWUTS) != 0) return skipCode;
    out = std::to_string(Net::hostname("qv-board-7"));
    out += " " + Net::hostname();
    out += " " + std::to_string(Net::hostname(std::string(100, 'x')));
    out += " " + Net::hostname();
    return 0;
  });
  if (r.skipped) GTEST_SKIP() << "no private UTS namespace here";
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.text, "0 qv-board-7 -1 qv-board-7");
}

// ------------------------------------------------------ find_proc_by_name

namespace {

// A child named `name` (through the kernel, cut to 15 characters) that
// lives until the object goes.
class NamedChild {
 public:
  explicit NamedChild(const std::string& name) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(mHold) != 0) return;
    mPid = fork();
    if (mPid == 0) {
      close(ready[0]);
      close(mHold[1]);
      prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
      char c = 1;
      if (write(ready[1], &c, 1) != 1) _exit(1);
      while (read(mHold[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(mHold[0]);
    char c;
    if (read(ready[0], &c, 1) != 1) mPid = -1;
    close(ready[0]);
  }
  ~NamedChild() {
    close(mHold[1]);
    if (mPid > 0) waitpid(mPid, nullptr, 0);
  }
  pid_t pid() const { return mPid; }

 private:
  pid_t mPid = -1;
  int mHold[2] = {-1, -1};
};

std::string ownName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace

TEST(FindProcByName, TheGivenIdIsTriedFirst) {
  const std::string me = ownName();
  ASSERT_FALSE(me.empty());
  EXPECT_EQ(find_proc_by_name(me.c_str(), getpid()), getpid());
}

TEST(FindProcByName, StaleIdScansForTheProcess) {
  const std::string name = "qvf" + std::to_string(getpid());
  NamedChild child(name);
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(find_proc_by_name(name.c_str(), getpid()), child.pid());
  EXPECT_EQ(find_proc_by_name(name.c_str(), 0), child.pid());
  EXPECT_EQ(find_proc_by_name(name.c_str(), -5), child.pid());
  EXPECT_EQ(find_proc_by_name((name + "x").c_str(), child.pid()), -1);
  EXPECT_EQ(find_proc_by_name(name.substr(1).c_str(), child.pid()), -1);
  EXPECT_EQ(find_proc_by_name(nullptr, child.pid()), -1);
}

TEST(FindProcByName, LongNamesNeverMatch) {
  const std::string name = "qvlong" + std::to_string(getpid()) + "-abcdefghijklmnop";
  NamedChild child(name);
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(find_proc_by_name(name.c_str(), child.pid()), -1);
  EXPECT_EQ(find_proc_by_name(name.substr(0, 15).c_str(), 0), child.pid());
}

TEST(FindProcByName, NameBetweenFirstOpenAndLastCloseParenthesis) {
  const std::string name = "a) (" + std::to_string(getpid() % 100000) + ")";
  NamedChild child(name);
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(find_proc_by_name(name.c_str(), 0), child.pid());
}

// ---------------------------------------------------------- timestamp

TEST(Timestamp, DayMonthAndTime) {
  auto expected = [] {
    std::time_t t = std::time(nullptr);
    std::tm tm;
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d/%m %H:%M:%S", &tm);
    return std::string(buf);
  };
  const std::string before = expected();
  std::ostringstream os;
  EXPECT_EQ(&timestamp(os), &os);
  const std::string after = expected();
  EXPECT_TRUE(os.str() == before || os.str() == after) << os.str();
  ASSERT_EQ(os.str().size(), 14u);
  EXPECT_EQ(os.str()[2], '/');
  EXPECT_EQ(os.str()[5], ' ');
}

// ---------------------------------------------------------------- Console

namespace {

// Standard input replaced by `fd` for the life of the object.
class StdinAs {
 public:
  explicit StdinAs(int fd) : mSaved(dup(STDIN_FILENO)) {
    if (fd >= 0)
      dup2(fd, STDIN_FILENO);
    else
      close(STDIN_FILENO);
  }
  ~StdinAs() {
    dup2(mSaved, STDIN_FILENO);
    close(mSaved);
  }

 private:
  int mSaved;
};

}  // namespace

TEST(Console, SwitchesOnATerminal) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal here";
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ASSERT_TRUE(before.c_lflag & ICANON);
  ASSERT_TRUE(before.c_lflag & ECHO);
  {
    StdinAs in(slave);
    testing::internal::CaptureStderr();
    Console::SwitchToBinaryMode();
    Console::SwitchToNonBlockMode();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK);
  }
  termios after;
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  const tcflag_t cleared = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL;
  EXPECT_EQ(after.c_lflag & cleared, 0u);
  EXPECT_EQ(after.c_lflag & ~cleared, before.c_lflag & ~cleared);
  EXPECT_TRUE(after.c_lflag & ISIG);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  close(master);
  close(slave);
}

TEST(Console, FailuresAreReportedOnStandardError) {
  const int null = open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  {
    StdinAs in(null);
    testing::internal::CaptureStderr();
    Console::SwitchToBinaryMode();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "can't obtain terminal attributes\ncan't set terminal attributes\n");
  }
  close(null);
  // capture first: the capture's own file would take the free descriptor 0
  testing::internal::CaptureStderr();
  {
    StdinAs in(-1);
    Console::SwitchToNonBlockMode();
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "can't switch terminal to blocked mode\n");
}
