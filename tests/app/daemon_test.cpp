// Daemon mode: the started process ends, the daemon goes on detached and
// its three streams arrive as syslog messages on the root's "/dev/log",
// which the test itself listens on.
#include "DaemonProcess.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <regex>

using namespace app_test;

namespace {

struct Message {
  int priority;
  std::string stamp;
  std::string body;  // after the time stamp: identity ": " text
};

// A datagram socket at the root's "/dev/log", splitting each datagram
// into its NUL-ended messages.
class SyslogReceiver {
public:
  explicit SyslogReceiver(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a;
    std::memset(&a, 0, sizeof a);
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~SyslogReceiver() { ::close(fd_); }
  bool bound() const { return bound_; }

  // Receives until a message whose body contains the text arrives; false
  // when none came in time. Everything received is kept.
  bool waitFor(const std::string& text, int timeoutMs = 10000) {
    if (find(text)) return true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[65536];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) continue;
      ++datagrams_;
      split(std::string(buf, static_cast<size_t>(n)));
      if (find(text)) return true;
    }
    return false;
  }

  const Message* find(const std::string& text) const {
    for (const Message& m : messages_)
      if (m.body.find(text) != std::string::npos) return &m;
    return nullptr;
  }
  const std::vector<Message>& messages() const { return messages_; }
  const std::vector<std::string>& malformed() const { return malformed_; }

private:
  void split(const std::string& datagram) {
    static const std::regex form("<([0-9]+)>([A-Z][a-z]{2} [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2}) (.*)");
    size_t at = 0;
    while (at < datagram.size()) {
      size_t end = datagram.find('\0', at);
      if (end == std::string::npos) {
        malformed_.push_back(datagram.substr(at));  // not NUL-ended
        return;
      }
      const std::string text = datagram.substr(at, end - at);
      std::smatch m;
      if (std::regex_match(text, m, form))
        messages_.push_back({std::stoi(m[1]), m[2], m[3]});
      else
        malformed_.push_back(text);
      at = end + 1;
    }
  }

  int fd_ = -1;
  bool bound_ = false;
  int datagrams_ = 0;
  std::vector<Message> messages_;
  std::vector<std::string> malformed_;
};

// Kills a detached daemon that a failing test leaves behind.
struct Reaper {
  pid_t pid = -1;
  ~Reaper() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    int st;
    ::waitpid(pid, &st, 0);
  }
};

const char kIdent[] = "qvd-T230915-1620: ";

}  // namespace

TEST(DaemonMode, StreamsGoToSyslogAndThePidFileHoldsTheDaemon) {
  // The detached daemon becomes this process's child when its parent ends,
  // so its exit status can be collected.
  ASSERT_EQ(0, ::prctl(PR_SET_CHILD_SUBREAPER, 1));
  TestRoot root;
  SyslogReceiver syslog(root.path("/dev/log"));
  ASSERT_TRUE(syslog.bound());

  DaemonProcess started(root, {"-D", "--port=20011"});
  // The started process ends once the daemon is detached.
  EXPECT_EQ(0, started.exitCode());
  EXPECT_EQ("", started.out());

  ASSERT_TRUE(syslog.waitFor("Starting server"));
  Reaper daemon;
  ASSERT_TRUE(waitUntil([&] { return !readFile(root.pidFile()).empty(); }));
  daemon.pid = std::stoi(readFile(root.pidFile()));
  EXPECT_NE(started.pid(), daemon.pid);
  EXPECT_EQ(0, ::kill(daemon.pid, 0));

  // Standard output: facility daemon (3), level notice (5).
  const Message* start = syslog.find("Starting server");
  EXPECT_EQ(29, start->priority);
  EXPECT_EQ(std::string(kIdent) + "Starting server [T230915-1620], port=20011", start->body);

  // Standard error: level error (3).
  ASSERT_TRUE(syslog.waitFor("Mux: fail to open watchdog: "));
  const Message* watchdog = syslog.find("Mux: fail to open watchdog: ");
  EXPECT_EQ(27, watchdog->priority);
  EXPECT_EQ(std::string(kIdent) + "Mux: fail to open watchdog: No such file or directory", watchdog->body);

  // The log stream: level debug (7).
  ::kill(daemon.pid, SIGHUP);
  ASSERT_TRUE(syslog.waitFor("update hardware resources"));
  const Message* update = syslog.find("update hardware resources");
  EXPECT_EQ(31, update->priority);
  EXPECT_EQ(std::string(kIdent) + "update hardware resources", update->body);

  // The working directory moved to "/": the status file still goes under
  // the root.
  ::kill(daemon.pid, SIGUSR2);
  EXPECT_TRUE(waitUntil([&] { return readFile(root.statusFile()).find("version : T230915-1620") != std::string::npos; }));

  ::kill(daemon.pid, SIGTERM);
  ASSERT_TRUE(syslog.waitFor("Mux: terminating..."));
  EXPECT_EQ(31, syslog.find("Mux: terminating...")->priority);
  int status = -1;
  ASSERT_TRUE(waitUntil([&] { return ::waitpid(daemon.pid, &status, WNOHANG) == daemon.pid; }));
  daemon.pid = -1;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_FALSE(exists(root.pidFile()));

  EXPECT_TRUE(syslog.malformed().empty()) << syslog.malformed().front();
  for (const Message& m : syslog.messages()) EXPECT_EQ(0u, m.body.find(kIdent)) << m.body;
}

TEST(DaemonMode, WithoutASyslogListenerTheDaemonStillRuns) {
  ASSERT_EQ(0, ::prctl(PR_SET_CHILD_SUBREAPER, 1));
  TestRoot root;
  DaemonProcess started(root, {"--daemon"});
  EXPECT_EQ(0, started.exitCode());
  Reaper daemon;
  ASSERT_TRUE(waitUntil([&] { return !readFile(root.pidFile()).empty(); }));
  daemon.pid = std::stoi(readFile(root.pidFile()));
  ::kill(daemon.pid, SIGUSR2);
  EXPECT_TRUE(waitUntil([&] { return exists(root.statusFile()); }));
  ::kill(daemon.pid, SIGTERM);
  int status = -1;
  ASSERT_TRUE(waitUntil([&] { return ::waitpid(daemon.pid, &status, WNOHANG) == daemon.pid; }));
  daemon.pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(exists(root.pidFile()));
}
