// The Unix-domain endpoints: frames both ways between an acceptor and a
// connector, refusals by path, the socket files (stale ones, foreign ones,
// long paths, the board root, removal), and the connector's delays.
#include "control/Unix.h"
#include "runtime/Root.h"
#include "runtime/TestClock.h"
#include "DescriptorLimit.h"
#include "EndpointTestUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstdlib>
#include <fstream>

using namespace ctl_test;
using Control::AcceptorUnix;
using Control::ConnectorUnix;
using Control::Service;

namespace {

bool exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

bool isSocket(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// A raw client of a Unix-domain path with blocking calls.
class UnixPeer {
public:
  ~UnixPeer() { close(); }
  bool connect(const std::string& path, const std::string& bindTo = "") {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!bindTo.empty()) {
      Control::UnixAddr b(bindTo);
      ::bind(fd_, b.get(), Control::UnixAddr::size());
    }
    Control::UnixAddr a(path);
    return ::connect(fd_, a.get(), Control::UnixAddr::size()) == 0;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  bool send(const Bytes& b) { return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size()); }
  // What is there to read now, or an empty result with eof set.
  Bytes read_now() {
    Bytes out;
    unsigned char buf[4096];
    for (;;) {
      ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n == 0) eof = true;
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  bool eof = false;

private:
  int fd_ = -1;
};

// Every test lays its board out in a directory of its own: the endpoints
// are given fixed paths, which resolve under that root.
struct UnixTest : ::testing::Test {
  void SetUp() override {
    char tmpl[] = "/tmp/qv-unix-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    if (const char* old = std::getenv("QUORVAD_ROOT")) saved.reset(new std::string(old));
    ::setenv("QUORVAD_ROOT", dir.c_str(), 1);
    Root::reload();
  }
  void TearDown() override {
    if (saved)
      ::setenv("QUORVAD_ROOT", saved->c_str(), 1);
    else
      ::unsetenv("QUORVAD_ROOT");
    Root::reload();
    std::system(("rm -rf " + dir).c_str());
  }
  // Where the endpoint given "/name" puts its file.
  std::string at(const std::string& name) const { return dir + "/" + name; }
  std::string dir;
  std::unique_ptr<std::string> saved;
};

}  // namespace

TEST_F(UnixTest, AnAcceptorAndAConnectorExchangeFramesBothWays) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  AcceptorUnix server("/srv.sock");
  ConnectorUnix client("/srv.sock", "/cli.sock");
  LinkRecorder srec, crec;
  srec.endpoint = &server;
  crec.endpoint = &client;
  server.Bind(&srec);
  client.Bind(&crec);
  ASSERT_TRUE(server.Activate());
  EXPECT_TRUE(server.listening());
  EXPECT_TRUE(isSocket(at("srv.sock")));
  ASSERT_TRUE(client.Activate());
  // A local connect completes at once.
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(client.GetAddr(), at("srv.sock"));
  ASSERT_TRUE(settle([&] { return server.IsConnected(); }));
  EXPECT_EQ(server.GetAddr(), at("cli.sock"));
  EXPECT_EQ(log.count("connected to " + at("srv.sock")), 1u);
  EXPECT_EQ(log.starting("connected to ").at(0).stream, 'l');
  EXPECT_EQ(log.starting("new connection from ").at(0).text, "new connection from " + at("cli.sock"));
  EXPECT_EQ(log.starting("new connection from ").at(0).stream, 'o');

  client.Send("\x80\x01\x01\x18", 4);
  client.Send("AB", 2);
  server.Send("\x80\x01\x01\x40", 4);
  ASSERT_TRUE(settle([&] { return srec.messages.size() == 2 && crec.messages.size() == 1; }));
  EXPECT_EQ(hex(srec.messages[0]), "80 01 01 18");
  EXPECT_EQ(hex(srec.messages[1]), "41 42");
  EXPECT_EQ(hex(crec.messages[0]), "80 01 01 40");

  // The connector's link ends: the acceptor hears of it and takes the next.
  client.Deactivate();
  EXPECT_FALSE(exists(at("cli.sock")));
  ASSERT_TRUE(settle([&] { return srec.events.size() == 2; }));
  EXPECT_EQ(srec.events[1], "disconnect:Connecting");
  ASSERT_TRUE(client.Activate());
  ASSERT_TRUE(settle([&] { return server.IsConnected(); }));
  server.Deactivate();
  client.Deactivate();
  EXPECT_FALSE(exists(at("srv.sock")));
}

TEST_F(UnixTest, TheWireCarriesTpktFrames) {
  StampedLog log;
  AcceptorUnix server("/srv.sock");
  LinkRecorder rec;
  rec.endpoint = &server;
  server.Bind(&rec);
  ASSERT_TRUE(server.Activate());
  UnixPeer c;
  ASSERT_TRUE(c.connect(at("srv.sock")));
  ASSERT_TRUE(pump([&] { return server.IsConnected(); }));
  // An unnamed client socket has no path.
  EXPECT_EQ(log.starting("new connection from").at(0).text, "new connection from ");
  ASSERT_TRUE(c.send({0x03, 0x00, 0x00, 0x07, 'a', 'b', 'c'}));
  ASSERT_TRUE(pump([&] { return rec.messages.size() == 1; }));
  EXPECT_EQ(hex(rec.messages[0]), "61 62 63");
  server.Send("xy", 2);
  Bytes got;
  ASSERT_TRUE(pump([&] {
    Bytes b = c.read_now();
    got.insert(got.end(), b.begin(), b.end());
    return got.size() >= 6;
  }));
  EXPECT_EQ(hex(got), "03 00 00 06 78 79");
  server.Deactivate();
}

TEST_F(UnixTest, ASecondClientIsRefusedByItsPath) {
  StampedLog log;
  AcceptorUnix server("/srv.sock");
  ASSERT_TRUE(server.Activate());
  UnixPeer first, named, unnamed;
  ASSERT_TRUE(first.connect(at("srv.sock")));
  ASSERT_TRUE(pump([&] { return server.IsConnected(); }));
  ASSERT_TRUE(named.connect(at("srv.sock"), at("second.sock")));
  ASSERT_TRUE(pump([&] {
    named.read_now();
    return named.eof;
  }));
  ASSERT_TRUE(unnamed.connect(at("srv.sock")));
  ASSERT_TRUE(pump([&] {
    unnamed.read_now();
    return unnamed.eof;
  }));
  const auto refused = log.starting("refuse connection from");
  ASSERT_EQ(refused.size(), 2u) << log.all();
  EXPECT_EQ(refused[0].text, "refuse connection from " + at("second.sock"));
  EXPECT_EQ(refused[0].stream, 'e');
  EXPECT_EQ(refused[1].text, "refuse connection from ");
  EXPECT_TRUE(server.IsConnected());
  server.Deactivate();
}

TEST_F(UnixTest, AStaleSocketFileGivesWayButNoOtherFileIsEverRemoved) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  // A socket left behind by an earlier run.
  {
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    Control::UnixAddr a(at("stale.sock"));
    ASSERT_EQ(::bind(s, a.get(), Control::UnixAddr::size()), 0);
    ::close(s);
  }
  ASSERT_TRUE(isSocket(at("stale.sock")));
  {
    AcceptorUnix server("/stale.sock");
    ASSERT_TRUE(server.Activate());
    EXPECT_TRUE(server.listening());
    EXPECT_EQ(log.lines().size(), 0u) << log.all();
  }
  // Gone with its endpoint.
  EXPECT_FALSE(exists(at("stale.sock")));

  // A regular file at the path is somebody's data: kept, and the bind
  // waits until the path is free.
  { std::ofstream(at("data.txt")) << "keep me"; }
  AcceptorUnix server("/data.txt");
  ASSERT_TRUE(server.Activate());
  EXPECT_FALSE(server.listening());
  const std::string line = "can't bind to socket: \"Address already in use\"  waiting...";
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].text, line);
  std::string content;
  std::getline(std::ifstream(at("data.txt")), content);
  EXPECT_EQ(content, "keep me");
  clock.advance(5000);
  multiplexer.run_once();
  EXPECT_EQ(log.count(line), 2u);
  ::unlink(at("data.txt").c_str());
  clock.advance(5000);
  multiplexer.run_once();
  EXPECT_TRUE(server.listening());
  EXPECT_TRUE(isSocket(at("data.txt")));
  server.Deactivate();
  EXPECT_FALSE(exists(at("data.txt")));
}

TEST_F(UnixTest, AnAcceptorRemovesOnlyItsOwnSocketFile) {
  AcceptorUnix server("/srv.sock");
  ASSERT_TRUE(server.Activate());
  // Another endpoint took the path over meanwhile.
  ::unlink(at("srv.sock").c_str());
  int other = ::socket(AF_UNIX, SOCK_STREAM, 0);
  Control::UnixAddr a(at("srv.sock"));
  ASSERT_EQ(::bind(other, a.get(), Control::UnixAddr::size()), 0);
  server.Deactivate();
  EXPECT_TRUE(isSocket(at("srv.sock")));
  ::close(other);
}

TEST_F(UnixTest, APathLongerThan107CharactersIsCutAndBothSidesMeetThere) {
  Control::UnixAddr a(std::string(120, 'p'));
  EXPECT_EQ(Control::UnixAddr::size(), 110u);
  EXPECT_EQ(a.sun.sun_family, AF_UNIX);
  EXPECT_EQ(a.path(), std::string(107, 'p'));
  EXPECT_EQ(a.sun.sun_path[107], 0);

  StampedLog log;
  const std::string longPath = "/" + std::string(130 - dir.size(), 'L');
  const std::string cut = (dir + longPath).substr(0, 107);
  AcceptorUnix server(longPath);
  ConnectorUnix client(longPath);
  ASSERT_TRUE(server.Activate());
  EXPECT_TRUE(isSocket(cut));
  ASSERT_TRUE(client.Activate());
  EXPECT_TRUE(client.IsConnected());
  ASSERT_TRUE(pump([&] { return server.IsConnected(); }));
  client.Deactivate();
  server.Deactivate();
  EXPECT_FALSE(exists(cut));
}

TEST_F(UnixTest, FixedPathsLiveUnderTheBoardRoot) {
  ASSERT_EQ(::system(("mkdir -p " + dir + "/var/run").c_str()), 0);
  {
    StampedLog log;
    AcceptorUnix server("/var/run/quorvad.sock");
    ConnectorUnix client("/var/run/quorvad.sock", "/var/run/client.sock");
    EXPECT_EQ(server.path(), dir + "/var/run/quorvad.sock");
    EXPECT_EQ(client.localPath(), dir + "/var/run/client.sock");
    ASSERT_TRUE(server.Activate());
    EXPECT_TRUE(isSocket(dir + "/var/run/quorvad.sock"));
    ASSERT_TRUE(client.Activate());
    EXPECT_TRUE(isSocket(dir + "/var/run/client.sock"));
    EXPECT_EQ(log.count("connected to " + dir + "/var/run/quorvad.sock"), 1u) << log.all();
  }
  // Both files went with their endpoints.
  EXPECT_FALSE(exists(dir + "/var/run/quorvad.sock"));
  EXPECT_FALSE(exists(dir + "/var/run/client.sock"));
}

TEST_F(UnixTest, AMissingServerIsRetriedSevenTimesQuicklyThenEveryTwentySeconds) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  ConnectorUnix client("/nobody.sock");
  const std::string cant = "can't connect to " + at("nobody.sock") + " : No such file or directory";
  const unsigned t0 = Mux::milliseconds();
  ASSERT_TRUE(client.Activate());
  EXPECT_EQ(client.GetState(), Service::State::Connecting);
  std::vector<unsigned> expected{0};
  unsigned t = 0;
  for (int i = 0; i < 9; ++i) {
    const unsigned d = i < 7 ? 1000 : 20000;
    ASSERT_EQ(client.retry_pending_ms(), d);
    clock.advance(d - 1);
    multiplexer.run_once();
    ASSERT_EQ(log.count(cant), static_cast<size_t>(i + 1));
    clock.advance(1);
    multiplexer.run_once();
    ASSERT_EQ(log.count(cant), static_cast<size_t>(i + 2)) << log.all();
    t += d;
    expected.push_back(t);
  }
  EXPECT_EQ(log.times(cant, t0), expected);
  EXPECT_EQ(log.lines().size(), expected.size()) << log.all();

  // The server appears: the next attempt connects.
  AcceptorUnix server("/nobody.sock");
  ASSERT_TRUE(server.Activate());
  clock.advance(20000);
  multiplexer.run_once();
  EXPECT_TRUE(client.IsConnected());
  client.Deactivate();
  EXPECT_EQ(client.retry_pending_ms(), 0u);
  server.Deactivate();
}

TEST_F(UnixTest, ALostLinkIsRetriedAfterTenSecondsAndNothingElseArmsARetry) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  AcceptorUnix server("/srv.sock");
  ConnectorUnix client("/srv.sock");
  LinkRecorder crec;
  crec.endpoint = &client;
  client.Bind(&crec);
  ASSERT_TRUE(server.Activate());
  ASSERT_TRUE(client.Activate());
  ASSERT_TRUE(settle([&] { return server.IsConnected(); }));
  // Writability of the handed-over link is no business of the connector.
  EXPECT_EQ(client.retry_pending_ms(), 0u);

  server.Disconnect();
  ASSERT_TRUE(settle([&] { return crec.events.size() == 2; }));
  EXPECT_EQ(crec.events[1], "disconnect:Connecting");
  EXPECT_EQ(log.count("fail to connect to"), 0u) << log.all();
  EXPECT_EQ(client.retry_pending_ms(), 10000u);
  EXPECT_EQ(client.fastRetries(), 7);
  const unsigned lost = crec.times[1];
  clock.advance(9999);
  multiplexer.run_once();
  EXPECT_FALSE(client.IsConnected());
  clock.advance(1);
  multiplexer.run_once();
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(crec.times.back() - lost, 10000u);
  ASSERT_TRUE(settle([&] { return server.IsConnected(); }));
  client.Deactivate();
  server.Deactivate();
}

TEST_F(UnixTest, AFailedLocalBindIsOnlyLogged) {
  StampedLog log;
  AcceptorUnix server("/srv.sock");
  ConnectorUnix client("/srv.sock", "/missing/cli.sock");
  ASSERT_TRUE(server.Activate());
  ASSERT_TRUE(client.Activate());
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(log.starting("can't bind").at(0).text,
            "can't bind to domain socket '" + at("missing/cli.sock") + "': \"No such file or directory");
  client.Deactivate();
  server.Deactivate();
}

// The Unix-domain acceptor shares the TCP one's listener: out of
// descriptors, a waiting client is closed at once, said once.
TEST_F(UnixTest, OutOfDescriptorsAWaitingClientIsClosedAtOnce) {
  DESCRIPTOR_LIMIT_SKIP_UNDER_SANITIZERS();
  StampedLog log;
  AcceptorUnix server("/srv.sock");
  LinkRecorder rec;
  rec.endpoint = &server;
  server.Bind(&rec);
  ASSERT_TRUE(server.Activate());
  UnixPeer c1, c2;
  {
    DescriptorLimit table;
    table.give(1);
    ASSERT_TRUE(c1.connect(at("srv.sock")));
    server.OnSocketEvent(-1, POLLIN);
    EXPECT_FALSE(server.IsConnected());
    c1.read_now();
    EXPECT_TRUE(c1.eof);
    EXPECT_EQ(log.count("can't accept connection: Too many open files; new connections are dropped"), 1u);
  }
  ASSERT_TRUE(c2.connect(at("srv.sock")));
  ASSERT_TRUE(settle([&] { return server.IsConnected(); }));
  EXPECT_EQ(log.count("accepting connections again, 1 dropped"), 1u);
  server.Deactivate();
}
