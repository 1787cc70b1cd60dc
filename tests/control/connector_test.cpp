// The outgoing TCP link: attempts and their delays on the loop's test
// clock, the link carrying TPKT frames to a real acceptor, the reconnect
// after the peer goes away, and deactivation in every phase.
#include "control/Acceptor.h"
#include "control/Connector.h"
#include "runtime/TestClock.h"
#include "EndpointTestUtil.h"

#include <gtest/gtest.h>

using namespace ctl_test;
using Control::ConnectorNet;
using Control::Service;

namespace {

std::vector<unsigned> repeat(unsigned value, size_t n) { return std::vector<unsigned>(n, value); }

// Lets the clock reach each expected delay one millisecond short (nothing
// may happen) and then exactly (one more attempt must be logged), for
// every delay in turn.
void expectAttemptsAfter(Mux::TestClock& clock, StampedLog& log, const std::string& line,
                         const std::vector<unsigned>& delays) {
  for (size_t i = 0; i < delays.size(); ++i) {
    const size_t before = log.count(line);
    clock.advance(delays[i] - 1);
    multiplexer.run_once();
    ASSERT_EQ(log.count(line), before) << "attempt " << i << " came early\n" << log.all();
    clock.advance(1);
    ASSERT_TRUE(settle([&] { return log.count(line) == before + 1; })) << "attempt " << i << "\n" << log.all();
  }
}

struct LinkPair {
  explicit LinkPair(int port) : server(port, true), client("127.0.0.1", static_cast<unsigned short>(port)) {
    serverRec.endpoint = &server;
    clientRec.endpoint = &client;
    server.Bind(&serverRec);
    client.Bind(&clientRec);
  }
  bool up() const { return server.IsConnected() && client.IsConnected(); }
  Control::AcceptorNet server;
  ConnectorNet client;
  LinkRecorder serverRec, clientRec;
};

}  // namespace

TEST(ConnectorNet, RefusedAttemptsRetrySevenTimesQuicklyThenEveryFifteenSeconds) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  const int port = free_port();
  const std::string fail = "fail to connect to 127.0.0.1:" + std::to_string(port);
  ConnectorNet c("127.0.0.1", static_cast<unsigned short>(port));
  const unsigned t0 = Mux::milliseconds();
  ASSERT_TRUE(c.Activate());
  EXPECT_EQ(c.GetState(), Service::State::Connecting);
  // Loopback refuses through the connect event: error and hang-up.
  ASSERT_TRUE(settle([&] { return log.count(fail) == 1; })) << log.all();

  std::vector<unsigned> delays = repeat(1000, 7);
  delays.push_back(15000);
  delays.push_back(15000);
  expectAttemptsAfter(clock, log, fail, delays);
  EXPECT_EQ(log.times(fail, t0), (std::vector<unsigned>{0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 22000, 37000}));
  EXPECT_EQ(log.count(fail), log.lines().size()) << "every failed attempt logs exactly one line\n" << log.all();
  EXPECT_EQ(c.fastRetries(), 0);
  EXPECT_EQ(c.GetState(), Service::State::Connecting);

  c.Deactivate();
  EXPECT_EQ(c.GetState(), Service::State::Idle);
  EXPECT_EQ(c.retry_pending_ms(), 0u);
  EXPECT_FALSE(c.connecting());
}

TEST(ConnectorNet, AConnectRefusedAtOnceRetriesEveryTwentySecondsAfterTheQuickOnes) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  // TCP never connects to a broadcast address: connect() fails on the spot.
  ConnectorNet c("255.255.255.255:9");
  EXPECT_EQ(c.host(), "255.255.255.255");
  EXPECT_EQ(c.port(), 9);
  const std::string cant = "can't connect to 255.255.255.255:9 : ";
  const unsigned t0 = Mux::milliseconds();
  ASSERT_TRUE(c.Activate());
  ASSERT_EQ(log.count(cant), 1u) << log.all();
  EXPECT_FALSE(c.connecting());

  std::vector<unsigned> delays = repeat(1000, 7);
  delays.push_back(20000);
  delays.push_back(20000);
  expectAttemptsAfter(clock, log, cant, delays);
  EXPECT_EQ(log.times(cant, t0), (std::vector<unsigned>{0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 27000, 47000}));
  c.Deactivate();
}

TEST(ConnectorNet, ASocketErrorAtWritabilityRetriesEveryTwelveSecondsAfterTheQuickOnes) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  const int port = free_port();
  const std::string fail = "fail to connect to 127.0.0.1:" + std::to_string(port);
  ConnectorNet c("127.0.0.1", static_cast<unsigned short>(port));
  ASSERT_TRUE(c.Activate());
  // The loop is not run: the refusal waits in the socket's error, and the
  // readiness is handed over as writability alone.
  for (int i = 0; i < 9; ++i) {
    ASSERT_TRUE(c.connecting());
    ::usleep(2000);
    c.OnSocketEvent(-1, POLLOUT);
    ASSERT_EQ(log.count(fail), static_cast<size_t>(i + 1)) << log.all();
    EXPECT_FALSE(c.connecting());
    EXPECT_EQ(c.retry_pending_ms(), i < 7 ? 1000u : 12000u) << "attempt " << i;
    c.OnTimeout(nullptr);
  }
  // Events without any bit of interest change nothing.
  c.OnSocketEvent(-1, 0);
  EXPECT_TRUE(c.connecting());
  c.Deactivate();
  EXPECT_FALSE(c.connecting());
}

TEST(ConnectorNet, AHostThatIsNoAddressFailsEachAttemptAndNeverReachesThisHost) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  ConnectorNet c("agent.example", 161);
  ASSERT_TRUE(c.Activate());
  ASSERT_EQ(log.starting("can't connect to ").size(), 1u);
  EXPECT_EQ(log.lines()[0].text, "can't connect to agent.example:161 : Invalid argument");
  EXPECT_EQ(c.retry_pending_ms(), 1000u);
  c.Deactivate();
}

TEST(ConnectorNet, TheLinkCarriesFramesAndComesBackTenSecondsAfterThePeerWentAway) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  const int port = free_port();
  LinkPair p(port);
  ASSERT_TRUE(p.server.Activate());
  ASSERT_TRUE(p.client.Activate());
  ASSERT_TRUE(settle([&] { return p.up(); })) << log.all();
  const std::string where = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(log.count("connected to " + where + ".") + log.count("already connected to " + where), 1u) << log.all();
  EXPECT_EQ(p.client.GetAddr(), where);
  EXPECT_EQ(p.clientRec.events, std::vector<std::string>{"connect"});

  // Frames both ways.
  p.client.Send("\x80\x01\x01\x18", 4);
  p.server.Send("\x80\x01\x01\x40", 4);
  ASSERT_TRUE(settle([&] { return p.serverRec.messages.size() == 1 && p.clientRec.messages.size() == 1; }));
  EXPECT_EQ(hex(p.serverRec.messages[0]), "80 01 01 18");
  EXPECT_EQ(hex(p.clientRec.messages[0]), "80 01 01 40");

  // The peer drops the link: the listener hears of it already Connecting,
  // and the next attempt comes 10000 ms later without using a quick retry.
  p.server.Disconnect();
  ASSERT_TRUE(settle([&] { return p.clientRec.events.size() == 2; })) << log.all();
  EXPECT_EQ(p.clientRec.events[1], "disconnect:Connecting");
  const unsigned lost = p.clientRec.times[1];
  EXPECT_EQ(p.client.retry_pending_ms(), 10000u);
  EXPECT_EQ(log.count("fail to connect"), 0u);
  clock.advance(9999);
  multiplexer.run_once();
  EXPECT_FALSE(p.client.IsConnected());
  clock.advance(1);
  ASSERT_TRUE(settle([&] { return p.up(); })) << log.all();
  EXPECT_EQ(p.clientRec.times[2] - lost, 10000u);
  EXPECT_EQ(p.client.fastRetries(), 7);
  p.client.Send("\x01", 1);
  ASSERT_TRUE(settle([&] { return p.serverRec.messages.size() == 2; }));

  // Now the peer goes away for good for a while: the loss, then quick
  // refused attempts, until it listens again.
  p.server.Disconnect();
  ASSERT_TRUE(settle([&] { return p.clientRec.events.size() == 4; }));
  p.server.Deactivate();
  const unsigned lost2 = p.clientRec.times[3];
  const std::string fail = "fail to connect to " + where;
  expectAttemptsAfter(clock, log, fail, {10000, 1000});
  EXPECT_EQ(log.times(fail, lost2), (std::vector<unsigned>{10000, 11000}));
  EXPECT_EQ(p.client.fastRetries(), 5);
  ASSERT_TRUE(p.server.Activate());
  clock.advance(1000);
  ASSERT_TRUE(settle([&] { return p.up(); })) << log.all();
  EXPECT_EQ(p.clientRec.times.back() - lost2, 12000u);
  EXPECT_EQ(p.clientRec.events,
            (std::vector<std::string>{"connect", "disconnect:Connecting", "connect", "disconnect:Connecting", "connect"}));
  p.client.Deactivate();
  p.server.Deactivate();
}

TEST(ConnectorNet, DeactivationStopsEveryPhase) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  const int port = free_port();

  // While the connect is in flight.
  {
    ConnectorNet c("127.0.0.1", static_cast<unsigned short>(port));
    ASSERT_TRUE(c.Activate());
    ASSERT_TRUE(c.connecting());
    c.Deactivate();
    EXPECT_FALSE(c.connecting());
    EXPECT_EQ(c.retry_pending_ms(), 0u);
    EXPECT_EQ(c.GetState(), Service::State::Idle);
  }

  // While the loss of a link is still being reported: the deferred report
  // still reaches the listener, but no new attempt follows.
  LinkPair p(port);
  ASSERT_TRUE(p.server.Activate());
  ASSERT_TRUE(p.client.Activate());
  ASSERT_TRUE(settle([&] { return p.up(); }));
  p.server.Disconnect();
  ASSERT_TRUE(settle([&] { return p.client.GetState() == Service::State::Deactivating; }));
  p.client.Deactivate();
  ASSERT_TRUE(settle([&] { return p.clientRec.events.size() == 2; }));
  EXPECT_EQ(p.clientRec.events[1], "disconnect:Idle");
  EXPECT_EQ(p.client.retry_pending_ms(), 0u);
  log.clear();
  clock.advance(60000);
  for (int i = 0; i < 10; ++i) multiplexer.run_once();
  EXPECT_FALSE(p.client.IsConnected());
  EXPECT_EQ(p.client.GetState(), Service::State::Idle);
  EXPECT_EQ(log.lines().size(), 0u) << log.all();

  // While connected: the link closes, the listener is not told, and the
  // endpoint can be activated again.
  ASSERT_TRUE(p.client.Activate());
  ASSERT_TRUE(settle([&] { return p.up(); }));
  p.client.Deactivate();
  ASSERT_TRUE(settle([&] { return !p.server.IsConnected(); }));
  EXPECT_EQ(p.clientRec.events.back(), "connect");
  p.server.Deactivate();
}

TEST(ConnectorNet, SendOutsideALinkIsDroppedWithALine) {
  StampedLog log;
  ConnectorNet c("127.0.0.1", 9);
  c.Send("x", 1);
  EXPECT_EQ(log.lines().at(0).text, "Control::Service::Send() ignore Send request in Idle state.");
}
