// The controller acceptor and the endpoint base on loopback: one
// controller at a time, refusals, the liveness check, closes in both
// directions and the bind retry.
#include "control/Acceptor.h"
#include "runtime/TestClock.h"
#include "ControlTestUtil.h"
#include "EndpointTestUtil.h"
#include "DescriptorLimit.h"

#include <gtest/gtest.h>

using namespace ctl_test;
using Control::Service;

namespace {

struct Recorder : Control::Notify {
  void OnConnect() override { events.push_back("connect"); }
  void OnDisconnect() override { events.push_back("disconnect:" + std::string(Control::GetTextNotation(endpoint->GetState()))); }
  void OnMessage(const char* data, int length) override {
    messages.push_back(Bytes(data, data + length));
  }
  Service* endpoint = nullptr;
  std::vector<std::string> events;
  std::vector<Bytes> messages;
};

// The acceptor with the two socket queries of the check played by the
// test when asked to.
class TestAcceptor : public Control::AcceptorNetCheckConnection {
public:
  explicit TestAcceptor(int port) : AcceptorNetCheckConnection(port) {}
  bool fakeTcp = false;
  unsigned char state = 1, caState = 0;
  bool fakeErr = false;
  int err = 0;
  // An option of the connected socket, as the endpoint's stream holds it.
  int opt(int level, int name) const {
    int v = -1;
    socklen_t len = sizeof v;
    ::getsockopt(stream()->lowlevel_fd(), level, name, &v, &len);
    return v;
  }
  int keepIdle() const { return opt(IPPROTO_TCP, TCP_KEEPIDLE); }
  int keepCount() const { return opt(IPPROTO_TCP, TCP_KEEPCNT); }

protected:
  bool QueryTcpState(int fd, unsigned char& s, unsigned char& ca) override {
    if (!fakeTcp) return AcceptorNetCheckConnection::QueryTcpState(fd, s, ca);
    s = state;
    ca = caState;
    return true;
  }
  bool QuerySocketError(int fd, int& e) override {
    if (!fakeErr) return AcceptorNetCheckConnection::QuerySocketError(fd, e);
    e = err;
    return true;
  }
};

const Bytes kPing = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x18};

struct AcceptorTest : ::testing::Test {
  void SetUp() override {
    port = free_port();
    acc.reset(new TestAcceptor(port));
    rec.endpoint = acc.get();
    acc->Bind(&rec);
    acc->service_name("server");
    ASSERT_TRUE(acc->Activate());
    ASSERT_TRUE(acc->listening());
    ASSERT_EQ(acc->GetState(), Service::State::Connecting);
  }
  void TearDown() override {
    acc->Deactivate();
    acc.reset();
  }
  // Connects a controller and waits until the endpoint took it.
  void take(Peer& p) {
    ASSERT_TRUE(p.connect(port));
    ASSERT_TRUE(pump([&] { return acc->IsConnected(); }));
  }
  std::string addr(const Peer& p) { return "127.0.0.1:" + std::to_string(p.local_port()); }

  Capture cap;
  int port = 0;
  Recorder rec;
  std::unique_ptr<TestAcceptor> acc;
};

}  // namespace

TEST(ControlService, StateTexts) {
  EXPECT_STREQ(Control::GetTextNotation(Service::State::Idle), "Idle");
  EXPECT_STREQ(Control::GetTextNotation(Service::State::Connecting), "Connecting");
  EXPECT_STREQ(Control::GetTextNotation(Service::State::Deactivating), "Deactivating");
  EXPECT_STREQ(Control::GetTextNotation(Service::State::Connected), "Connected");
  EXPECT_STREQ(Control::GetTextNotation(static_cast<Service::State::Type>(7)), "Unknown");
}

TEST_F(AcceptorTest, OneControllerIsServedAndMessagesFlowBothWays) {
  acc->Send("xx", 2);
  EXPECT_EQ(cap.err(), "Control::Service::Send() ignore Send request in Connecting state.\n");

  Peer c1;
  take(c1);
  EXPECT_EQ(cap.out(), "new connection from " + addr(c1) + "\n");
  EXPECT_EQ(acc->GetAddr(), addr(c1));
  ASSERT_EQ(rec.events, std::vector<std::string>{"connect"});
  EXPECT_TRUE(acc->holds_connection());
  EXPECT_EQ(acc->opt(SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(acc->opt(IPPROTO_TCP, TCP_NODELAY), 1);

  ASSERT_TRUE(c1.send(kPing));
  ASSERT_TRUE(pump([&] { return !rec.messages.empty(); }));
  EXPECT_EQ(hex(rec.messages[0]), "80 01 01 18");

  const char answer[] = {'\x80', '\x01', '\x01', '\x40'};
  acc->Send(answer, 4);
  EXPECT_EQ(hex(c1.recv(8)), "03 00 00 08 80 01 01 40");
}

TEST_F(AcceptorTest, ASecondControllerIsRefusedWhileTheFirstStaysServed) {
  Peer c1, c2, c3;
  take(c1);
  cap.clear();
  // What the first one sent and nobody read yet does not make it look gone.
  ASSERT_TRUE(c1.send(kPing));
  ASSERT_TRUE(c2.connect(port));
  ASSERT_TRUE(c2.closed_pumping());
  EXPECT_NE(cap.err().find("refuse connection from " + addr(c2) + "\n"), std::string::npos) << cap.err();
  ASSERT_TRUE(pump([&] { return rec.messages.size() == 1; }));
  EXPECT_NE(cap.err().find("CheckConnectionState CheckConnection\n"), std::string::npos);
  EXPECT_EQ(acc->checkMode(), 1);
  EXPECT_EQ(acc->keepIdle(), 1);
  EXPECT_EQ(acc->keepCount(), 3);

  // A third knock while checking changes nothing.
  acc->fakeTcp = true;
  acc->caState = 4;  // retransmitting
  acc->CheckConnection();
  EXPECT_EQ(acc->checkCounter(), 1);
  ASSERT_TRUE(c3.connect(port));
  ASSERT_TRUE(c3.closed_pumping());
  EXPECT_EQ(acc->checkCounter(), 1);

  // The first one is healthy at the next check: back to the normal
  // keepalive, still served.
  acc->caState = 0;
  cap.clear();
  acc->CheckConnection();
  EXPECT_EQ(acc->checkMode(), 0);
  EXPECT_EQ(cap.err(), "CheckConnectionState Idle\n");
  EXPECT_EQ(acc->keepIdle(), 7200);
  EXPECT_EQ(acc->keepCount(), 9);
  EXPECT_TRUE(acc->IsConnected());
  ASSERT_TRUE(c1.send(kPing));
  ASSERT_TRUE(pump([&] { return rec.messages.size() == 2; }));
  EXPECT_EQ(rec.events, std::vector<std::string>{"connect"});
}

TEST_F(AcceptorTest, ACloseIsReportedAfterTheLossAndTheNextControllerIsTaken) {
  Peer c1, c2;
  take(c1);
  const std::string a1 = addr(c1);
  c1.close();
  ASSERT_TRUE(pump([&] { return rec.events.size() == 2; }));
  // The listener hears of it from the deferred step, already Connecting.
  EXPECT_EQ(rec.events[1], "disconnect:Connecting");
  EXPECT_NE(cap.err().find("control connection " + a1 + " closed.\n"), std::string::npos);
  EXPECT_FALSE(acc->holds_connection());

  take(c2);
  EXPECT_EQ(rec.events.back(), "connect");
  ASSERT_TRUE(c2.send(kPing));
  ASSERT_TRUE(pump([&] { return rec.messages.size() == 1; }));
}

TEST_F(AcceptorTest, SendsWithoutAControllerAreSaidOnceAndCountedWhenOneComes) {
  const std::string ignored = "Control::Service::Send() ignore Send request in Connecting state.";
  Peer c1, c2, c3;
  take(c1);
  c1.close();
  ASSERT_TRUE(pump([&] { return rec.events.size() == 2; }));
  cap.clear();
  for (int i = 0; i < 5; ++i) acc->Send("x", 1);
  EXPECT_EQ(cap.err(), ignored + "\n");
  take(c2);
  EXPECT_EQ(cap.err(), ignored + "\n" + ignored + " (5 requests ignored)\n");

  // The next run starts with its line again.
  c2.close();
  ASSERT_TRUE(pump([&] { return rec.events.size() == 4; }));
  cap.clear();
  acc->Send("x", 1);
  take(c3);
  EXPECT_EQ(cap.err(), ignored + "\n" + ignored + " (1 request ignored)\n");
  cap.clear();
  acc->Send("x", 1);
  EXPECT_EQ(cap.err(), "");
  EXPECT_EQ(hex(c3.recv(5)), "03 00 00 05 78");
}

TEST_F(AcceptorTest, DroppingTheControllerReallyClosesItsConnection) {
  Peer c1, c2;
  take(c1);
  acc->Disconnect();
  EXPECT_EQ(acc->GetState(), Service::State::Deactivating);
  // Between the loss and the deferred report: no line, nothing sent.
  cap.clear();
  acc->Send("x", 1);
  EXPECT_EQ(cap.err(), "");
  acc->Disconnect();  // a second time does nothing
  ASSERT_TRUE(c1.closed_pumping());
  EXPECT_EQ(rec.events, (std::vector<std::string>{"connect", "disconnect:Connecting"}));
  take(c2);
}

TEST_F(AcceptorTest, AControllerThatStopsAnsweringIsClosedAtTheSecondCheck) {
  Peer c1, c2, c3;
  take(c1);
  ASSERT_TRUE(c2.connect(port));
  ASSERT_TRUE(c2.closed_pumping());
  acc->fakeTcp = true;
  acc->caState = 1;
  cap.clear();
  acc->CheckConnection();
  EXPECT_TRUE(acc->IsConnected());
  acc->CheckConnection();
  EXPECT_EQ(cap.err(), "connection from " + addr(c1) + " closed: tcp socket change ca_state.\n" +
                           "control connection " + addr(c1) + " closed.\n" + "CheckConnectionState Idle\n");
  EXPECT_EQ(acc->checkMode(), 0);
  ASSERT_TRUE(c1.closed_pumping());
  EXPECT_EQ(rec.events.back(), "disconnect:Connecting");
  acc->fakeTcp = false;
  take(c3);
}

TEST_F(AcceptorTest, ALeftStateOrAPendingErrorClosesAtOnce) {
  Peer c1, c2;
  take(c1);
  acc->fakeTcp = true;
  acc->state = 8;  // close-wait
  cap.clear();
  acc->CheckConnection();
  EXPECT_EQ(cap.err(), "connection from " + addr(c1) + " closed: tcp socket change state.\n" +
                           "control connection " + addr(c1) + " closed.\n" + "CheckConnectionState Idle\n");
  ASSERT_TRUE(c1.closed_pumping());

  acc->fakeTcp = false;
  take(c2);
  acc->fakeErr = true;
  acc->err = ETIMEDOUT;
  cap.clear();
  acc->CheckConnection();
  EXPECT_EQ(cap.err().rfind("connection from " + addr(c2) + " closed: Connection timed out\n", 0), 0u) << cap.err();
  ASSERT_TRUE(c2.closed_pumping());
}

// A controller that closes and knocks again at once: when the loop next
// looks, its close and its new connection are both waiting, and the
// listener is serviced first. The old link's end is handled before the
// new connection is looked at (what the controller sent before it went
// is still read), and the new connection waits in the queue, neither
// taken nor refused, until the loss has been reported; then it is taken.
TEST_F(AcceptorTest, AControllerThatClosesAndKnocksAtOnceIsTakenAfterItsLoss) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  Peer c1, c2;
  take(c1);
  const std::string a1 = addr(c1);
  ASSERT_TRUE(c1.send(kPing));
  c1.close();
  ASSERT_TRUE(c2.connect(port));
  cap.clear();
  multiplexer.run_once();
  EXPECT_EQ(cap.err(), "control connection " + a1 + " closed.\n");
  EXPECT_EQ(cap.out(), "");
  EXPECT_EQ(acc->checkMode(), 0);
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(hex(rec.messages[0]), "80 01 01 18");
  EXPECT_EQ(acc->GetState(), Service::State::Deactivating);

  ASSERT_TRUE(settle([&] { return acc->IsConnected(); }));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"connect", "disconnect:Connecting", "connect"}));
  EXPECT_EQ(cap.out(), "new connection from " + addr(c2) + "\n");
  EXPECT_EQ(cap.err(), "control connection " + a1 + " closed.\n");
  ASSERT_TRUE(c2.send(kPing));
  ASSERT_TRUE(settle([&] { return rec.messages.size() == 2; }));
}

// The link is down but its loss not yet reported: a controller that knocks
// now is left in the queue, neither taken nor refused, and is taken once
// the listener has heard of the loss.
TEST_F(AcceptorTest, AConnectionArrivingWhileTheLossIsReportedWaitsAndIsTaken) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  Peer c1, c2;
  take(c1);
  acc->Disconnect();
  ASSERT_TRUE(c2.connect(port));
  cap.clear();
  acc->OnSocketEvent(-1, POLLIN);
  EXPECT_EQ(cap.err(), "");
  EXPECT_EQ(cap.out(), "");
  EXPECT_EQ(acc->GetState(), Service::State::Deactivating);
  pollfd p{c2.fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0) << "refused";

  ASSERT_TRUE(settle([&] { return acc->IsConnected(); }));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"connect", "disconnect:Connecting", "connect"}));
  EXPECT_TRUE(c1.closed());
  EXPECT_EQ(cap.out(), "new connection from " + addr(c2) + "\n");
  EXPECT_EQ(acc->checkMode(), 0);
  EXPECT_TRUE(acc->holds_connection());
  ASSERT_TRUE(c2.send(kPing));
  ASSERT_TRUE(settle([&] { return rec.messages.size() == 1; }));
}

TEST_F(AcceptorTest, TheCheckRunsEverySecondFromActivation) {
  // A controller that connects and stays healthy is left alone by the
  // real checks.
  Peer c1;
  take(c1);
  cap.clear();
  EXPECT_FALSE(pump([&] { return !acc->IsConnected(); }, 2500));
  EXPECT_EQ(cap.err(), "");
}

TEST(Acceptor, ABusyPortIsRetriedEveryFiveSeconds) {
  Capture cap;
  Mux::TestClock clock(Mux::TestClock::Manual);
  const int port = free_port();
  int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<unsigned short>(port));
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);

  Control::AcceptorNetCheckConnection acc(port);
  ASSERT_TRUE(acc.Activate());
  EXPECT_FALSE(acc.listening());
  const std::string line = "can't bind to socket: \"Address already in use\"  waiting...\n";
  EXPECT_EQ(cap.err(), line);
  clock.advance(4999);
  multiplexer.run_once();
  EXPECT_EQ(cap.err(), line);
  clock.advance(1);
  multiplexer.run_once();
  EXPECT_EQ(cap.err(), line + line);
  ::close(blocker);
  clock.advance(5000);
  multiplexer.run_once();
  EXPECT_TRUE(acc.listening());
  EXPECT_EQ(acc.GetState(), Service::State::Connecting);

  acc.Deactivate();
  EXPECT_EQ(acc.GetState(), Service::State::Idle);
  EXPECT_FALSE(acc.listening());
}

TEST(Acceptor, QuietWhenNotVerbose) {
  Capture cap;
  Control::AcceptorNet acc(free_port(), false);
  ASSERT_TRUE(acc.Activate());
  acc.Send("x", 1);
  EXPECT_EQ(cap.err(), "");
  acc.Deactivate();
}

// Out of descriptors, accept() fails and the controller stays queued, so
// the listener stays readable: the acceptor must neither call it again at
// once for ever nor leave the controller hanging. With its spare
// descriptor it takes each waiting controller and closes it; the shortage
// is said once, and its end with the count.
TEST_F(AcceptorTest, OutOfDescriptorsWaitingControllersAreClosedAndTheShortageSaidOnce) {
  DESCRIPTOR_LIMIT_SKIP_UNDER_SANITIZERS();
  Peer c1, c2, c3;
  const std::string line = "can't accept connection: Too many open files; new connections are dropped\n";
  {
    DescriptorLimit table;
    table.give(1);
    ASSERT_TRUE(c1.connect(port));
    ASSERT_TRUE(table.full());
    acc->OnSocketEvent(-1, POLLIN);
    EXPECT_TRUE(c1.closed());
    EXPECT_FALSE(acc->IsConnected());
    EXPECT_FALSE(acc->paused());
    EXPECT_EQ(cap.err(), line);
    table.give(1);
    ASSERT_TRUE(c2.connect(port));
    acc->OnSocketEvent(-1, POLLIN);
    EXPECT_TRUE(c2.closed());
    EXPECT_EQ(cap.err(), line);
    EXPECT_TRUE(table.full());  // the spare was taken back
  }
  take(c3);
  EXPECT_EQ(cap.err(), line + "accepting connections again, 2 dropped\n");
}

// Without even a spare descriptor, the listener is left alone for a second
// at a time, then tried again.
TEST(Acceptor, OutOfDescriptorsWithoutASpareTheListenerRestsASecond) {
  DESCRIPTOR_LIMIT_SKIP_UNDER_SANITIZERS();
  Capture cap;
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  const int port = free_port();
  Peer c;
  DescriptorLimit table;
  Control::AcceptorNet acc(port);  // no room for its spare
  table.give(3);                   // the socket and the watch's copy (made
  ASSERT_TRUE(acc.Activate());     // through a third one)
  ASSERT_TRUE(acc.listening());
  ASSERT_TRUE(c.connect(port));    // takes that third one
  ASSERT_TRUE(table.full());
  multiplexer.run_once();
  EXPECT_TRUE(acc.paused());
  EXPECT_TRUE(acc.listening());
  EXPECT_EQ(cap.err(), "can't accept connection: Too many open files; new connections are dropped\n");
  clock.advance(999);
  multiplexer.run_once();
  EXPECT_TRUE(acc.paused());
  table.give(8);  // the controller's socket and its copies, the spare
  clock.advance(1);
  multiplexer.run_once();  // the rest ends: watched again
  multiplexer.run_once();  // and taken
  EXPECT_FALSE(acc.paused());
  EXPECT_TRUE(acc.IsConnected());
  EXPECT_EQ(cap.err(), "can't accept connection: Too many open files; new connections are dropped\n"
                       "accepting connections again, 0 dropped\n");
  acc.Deactivate();
}
