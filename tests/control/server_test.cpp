// The control server with the heartbeat on a real acceptor: answers, the
// dispatch order, signals, deferred answers and the heartbeat on the
// loop's test clock.
#include "control/Acceptor.h"
#include "control/CtrlSrv.h"
#include "control/HeartBeat.h"
#include "runtime/TestClock.h"
#include "ServerTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

using namespace ctl_test;

namespace {

// A control service whose answer each test chooses.
struct Probe : CtrlSrv::Service {
  explicit Probe(const std::string& n) : name(n) {}
  void OnConnect() override { log.push_back(name + ":connect"); }
  void OnDisconnect() override {
    log.push_back(name + ":disconnect");
    disconnectAt = Mux::milliseconds();
  }
  bool OnCommand(const LGCP::Command& c) override {
    std::ostringstream os;
    os << c;
    log.push_back(name + ":command " + qvctl::oneLine(os.str()));
    return onCommand ? onCommand(c) : false;
  }
  void OnSignal(const LGCP::Signal& s) override {
    std::ostringstream os;
    os << s;
    log.push_back(name + ":signal " + qvctl::oneLine(os.str()));
  }
  std::string name;
  std::function<bool(const LGCP::Command&)> onCommand;
  static std::vector<std::string> log;
  static unsigned disconnectAt;
};
std::vector<std::string> Probe::log;
unsigned Probe::disconnectAt = 0;

Probe& first() {
  static Probe p("A");
  return p;
}
Probe& second() {
  static Probe p("B");
  return p;
}

// The daemon's binding: the heartbeat first, then the others.
void bindOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  ctrlServer.Bind(HeartBeatCtl::instance());
  ctrlServer.Bind(&first());
  ctrlServer.Bind(&second());
}

struct ServerTest : ::testing::Test {
  void SetUp() override {
    bindOnce();
    Probe::log.clear();
    first().onCommand = nullptr;
    second().onCommand = nullptr;
    port = free_port();
    acc = new Control::AcceptorNetCheckConnection(port);
    ASSERT_TRUE(ctrlServer.Activate(acc));
  }
  void TearDown() override {
    ctrlServer.Deactivate();
    first().onCommand = nullptr;
    second().onCommand = nullptr;
  }
  void connect(Peer& p) {
    ASSERT_TRUE(p.connect(port));
    ASSERT_TRUE(pump([&] { return acc->IsConnected(); }));
  }
  // Sends frames and collects the answers until `n` frames came back (or
  // a short quiet time when n is 0).
  std::vector<std::string> exchange(Peer& p, const Bytes& frames, size_t n) {
    EXPECT_TRUE(p.send(frames));
    std::vector<std::string> got;
    Bytes wire;
    pump([&] {
      Bytes b = p.recv(1, 0);
      wire.insert(wire.end(), b.begin(), b.end());
      got = texts(wire);
      return n > 0 && got.size() >= n;
    }, n ? 3000 : 200);
    return got;
  }
  std::string peerAddr(const Peer& p) { return "127.0.0.1:" + std::to_string(p.local_port()); }

  Capture cap;
  int port = 0;
  Control::AcceptorNetCheckConnection* acc = nullptr;
};

const char* kPing = "{ seq 1, pdu command : ping : NULL }";

}  // namespace

TEST_F(ServerTest, PingIsAnsweredByTheHeartbeatAlone) {
  Peer c;
  connect(c);
  EXPECT_EQ(cap.log(), "ctrl [" + peerAddr(c) + "]: controller connect.\n");
  EXPECT_EQ(Probe::log, (std::vector<std::string>{"A:connect", "B:connect"}));
  Probe::log.clear();
  // Worked out by hand: presence bits 1 0, seq as length 1 and value 1,
  // pdu command (2 bits 00), no extension, ping = 12 of 15 (4 bits 1100).
  ASSERT_EQ(hex(frameOf(kPing)), "03 00 00 08 80 01 01 18");
  ASSERT_TRUE(c.send(frameOf(kPing)));
  EXPECT_EQ(hex(c.recv_pumping(8)), "03 00 00 08 80 01 01 40");
  EXPECT_TRUE(Probe::log.empty());
  EXPECT_TRUE(HeartBeatCtl::instance()->armed());
}

TEST_F(ServerTest, WhatNoServiceClaimsOrIsNoCommandIsAnUnexpectedType) {
  Peer c;
  connect(c);
  // {seq 7, slot 5, error unexpectedMsgType}: C0, 01 07, slot in two
  // aligned octets 00 05, then 01 1 0 0100 = 64.
  ASSERT_TRUE(c.send(frameOf("{ seq 7, slot 5, pdu command : query : NULL }")));
  EXPECT_EQ(hex(c.recv_pumping(10)), "03 00 00 0A C0 01 07 00 05 64");
  EXPECT_EQ(Probe::log, (std::vector<std::string>{"A:connect", "B:connect", "A:command query : NULL",
                                                 "B:command query : NULL"}));

  Probe::log.clear();
  auto got = exchange(c,
                      frameOf("{ seq 3, slot 9, pdu response : success : NULL }") +
                          frameOf("{ pdu signal : abort : 0 }") + frameOf("{ pdu command : disconnect : NULL }"),
                      3);
  EXPECT_EQ(got, (std::vector<std::string>{"{ seq 3, pdu response : error : unexpectedMsgType }",
                                           "{ pdu response : error : unexpectedMsgType }",
                                           "{ pdu response : error : unexpectedMsgType }"}));
  // Only the command reached the services.
  EXPECT_EQ(Probe::log.size(), 2u);
}

TEST_F(ServerTest, GarbageIsLoggedAndUnansweredAndTheLinkStays) {
  Peer c;
  connect(c);
  cap.clear();
  EXPECT_TRUE(exchange(c, tpkt({0xDE, 0xAD, 0x00}), 0).empty());
  EXPECT_EQ(cap.err(), "ctrl [" + peerAddr(c) + "]: receive fail: decode error!\n msg: DE AD 00 \n");
  EXPECT_FALSE(HeartBeatCtl::instance()->armed());
  EXPECT_EQ(exchange(c, frameOf(kPing), 1), std::vector<std::string>{"{ seq 1, pdu response : success : NULL }"});

  // A large undecodable frame (60000 octets of FF) costs the log its first
  // 32 octets and its length, not the whole frame.
  cap.clear();
  EXPECT_TRUE(exchange(c, tpkt(Bytes(60000, 0xFF)), 0).empty());
  std::string first;
  for (int i = 0; i < 32; ++i) first += "FF ";
  EXPECT_EQ(cap.err(), "ctrl [" + peerAddr(c) + "]: receive fail: decode error!\n msg: " + first + "... (60000 octets)\n");
}

TEST_F(ServerTest, AnswerRules) {
  Peer c;
  connect(c);
  // Twice success: one goes out.
  first().onCommand = [](const LGCP::Command&) {
    first().Success();
    first().Success();
    return true;
  };
  EXPECT_EQ(exchange(c, frameOf("{ seq 1, slot 3, pdu command : destroy : NULL }"), 0),
            std::vector<std::string>{"{ seq 1, slot 3, pdu response : success : NULL }"});
  // Success then error: both, success first. Error twice: the first only.
  first().onCommand = [](const LGCP::Command&) {
    first().Success();
    first().Error(LGCP::ErrorCause::connectFail);
    first().Error(LGCP::ErrorCause::busError);
    return true;
  };
  EXPECT_EQ(exchange(c, frameOf("{ seq 2, pdu command : destroy : NULL }"), 0),
            (std::vector<std::string>{"{ seq 2, pdu response : success : NULL }",
                                      "{ seq 2, pdu response : error : connectFail }"}));
  // Claimed and left unanswered: the software error and internal.
  first().onCommand = [](const LGCP::Command&) { return true; };
  cap.clear();
  EXPECT_EQ(exchange(c, frameOf("{ pdu command : destroy : NULL }"), 0),
            std::vector<std::string>{"{ pdu response : error : internal }"});
  EXPECT_EQ(cap.err().rfind("ctrl [" + peerAddr(c) + "]: software error: server do NOT send ack!!!\n", 0), 0u);
  // The first service that claims ends the offer.
  Probe::log.clear();
  first().onCommand = [](const LGCP::Command&) {
    first().Error(LGCP::ErrorCause::unsupported);
    return true;
  };
  exchange(c, frameOf("{ seq 4, pdu command : deactivate : NULL }"), 1);
  EXPECT_EQ(Probe::log, std::vector<std::string>{"A:command deactivate : NULL"});
}

TEST_F(ServerTest, DeferredAnswersAndSignals) {
  Peer c;
  connect(c);
  unsigned kept = 0;
  int slotSeen = -2;
  first().onCommand = [&](const LGCP::Command&) {
    slotSeen = first().GetSlot();
    first().SendSignal(LGCP::Signal(LGCP::Signal::abort::id, 7));
    kept = first().delayResponse();
    return true;
  };
  auto got = exchange(c, frameOf("{ seq 41, slot 12, pdu command : destroy : NULL }"), 0);
  EXPECT_EQ(slotSeen, 12);
  EXPECT_EQ(kept, 41u);
  // The signal carries the command's slot and no seq; nothing else yet.
  EXPECT_EQ(got, std::vector<std::string>{"{ slot 12, pdu signal : abort : 7 }"});
  // The other services saw the signal before it went; the sender did not.
  EXPECT_EQ(Probe::log.back(), "B:signal abort : 7");
  // Outside command handling: no slot, unless given.
  EXPECT_EQ(first().GetSlot(), -1);
  first().SendSignal(LGCP::Signal(LGCP::Signal::abort::id, 1));
  second().SendSignal(3, LGCP::Signal(LGCP::Signal::abort::id, 2));
  first().delayedSuccess(12, kept);
  EXPECT_EQ(exchange(c, {}, 3), (std::vector<std::string>{"{ pdu signal : abort : 1 }",
                                                         "{ slot 3, pdu signal : abort : 2 }",
                                                         "{ seq 41, slot 12, pdu response : success : NULL }"}));
  // A command without seq: the answer has none, the deferral gives the
  // last seq seen.
  exchange(c, frameOf("{ pdu command : destroy : NULL }"), 0);
  EXPECT_EQ(kept, 41u);
}

TEST_F(ServerTest, ASlotAboveTheRangeIsInvalid) {
  // The wire cannot carry it (0..1023), so the check is driven directly.
  Peer c;
  connect(c);
  LGCP::Message m = msg("{ seq 5, pdu command : destroy : NULL }");
  m.set_slot(1024);
  Probe::log.clear();
  ctrlServer.OnMessage(m);
  EXPECT_TRUE(Probe::log.empty());
  EXPECT_EQ(exchange(c, {}, 1), std::vector<std::string>{"{ seq 5, pdu response : error : invalidSlot }"});
}

TEST_F(ServerTest, ACloseTellsEveryServiceAndTheNextControllerIsServed) {
  Peer c1, c2;
  connect(c1);
  ASSERT_TRUE(c1.send(frameOf(kPing)));
  c1.recv_pumping(8);
  EXPECT_TRUE(HeartBeatCtl::instance()->armed());
  Probe::log.clear();
  c1.close();
  ASSERT_TRUE(pump([&] { return Probe::log.size() == 2; }));
  EXPECT_EQ(Probe::log, (std::vector<std::string>{"A:disconnect", "B:disconnect"}));
  EXPECT_FALSE(HeartBeatCtl::instance()->armed());
  connect(c2);
  EXPECT_EQ(exchange(c2, frameOf(kPing), 1), std::vector<std::string>{"{ seq 1, pdu response : success : NULL }"});
}

TEST_F(ServerTest, HeadersAndServicesWithoutAServer) {
  std::ostringstream os;
  ctrlServer.PutHeader(os);
  EXPECT_EQ(os.str(), "ctrl [not connected]: ");
  bool connected = true;
  EXPECT_TRUE(ctrlServer.CheckServerConnection(connected));
  EXPECT_FALSE(connected);

  Probe loose("C");
  cap.clear();
  loose.Success();
  EXPECT_EQ(loose.GetSlot(), -1);
  EXPECT_EQ(loose.delayResponse(), static_cast<unsigned>(-1));
  EXPECT_FALSE(loose.CheckServerConnection(connected));
  EXPECT_EQ(cap.err(),
            "CtrlSrv::Service error! service not connected to server.\n"
            "CtrlSrv::Service error! service not connected to server.\n"
            "CtrlSrv::Service error! service not connected to server.\n");

  // A second activation drops the first endpoint, telling the services.
  Probe::log.clear();
  acc = new Control::AcceptorNetCheckConnection(port);
  ASSERT_TRUE(ctrlServer.Activate(acc));
  EXPECT_EQ(Probe::log, (std::vector<std::string>{"A:disconnect", "B:disconnect"}));
  ctrlServer.Deactivate();
  os.str("");
  ctrlServer.PutHeader(os);
  EXPECT_EQ(os.str(), "ctrl [null]: ");
  EXPECT_FALSE(ctrlServer.CheckServerConnection(connected));
  cap.clear();
  LGCP::Message m = msg(kPing);
  ctrlServer.SendMsg(m);
  EXPECT_EQ(cap.err(), "ctrl [null]: send fail: Service not attached!\n");
  acc = new Control::AcceptorNetCheckConnection(port);
  ASSERT_TRUE(ctrlServer.Activate(acc));
}

TEST_F(ServerTest, AMessageThatCannotBeEncodedIsNotSent) {
  cap.clear();
  LGCP::Message m;  // nothing selected
  ctrlServer.SendMsg(m);
  EXPECT_EQ(cap.err().rfind("ctrl [not connected]: send fail: encode error!", 0), 0u) << cap.err();
}

TEST_F(ServerTest, TheHeartbeatDropsAControllerSilentForTwoMinutes) {
  Mux::TestClock clock;  // virtual: waits jump to the next timer
  Peer c;
  connect(c);
  // Connected but silent: the heartbeat does not watch yet.
  const unsigned t0 = Mux::milliseconds();
  while (Mux::milliseconds() - t0 < 300000) multiplexer.run_once();
  EXPECT_TRUE(acc->IsConnected());

  ASSERT_TRUE(c.send(frameOf(kPing)));
  unsigned last = 0;
  ASSERT_TRUE(pump([&] {
    if (c.recv(8, 0).size() == 8) last = Mux::milliseconds();
    return last != 0;
  }));
  // Any command re-arms: one at 100 s keeps the link past 120 s.
  while (Mux::milliseconds() - last < 100000) multiplexer.run_once();
  ASSERT_TRUE(c.send(frameOf("{ seq 2, pdu command : query : NULL }")));
  ASSERT_TRUE(pump([&] { return c.recv(1, 0).size() > 0; }));
  last = Mux::milliseconds();
  Probe::log.clear();
  cap.clear();
  while (acc->IsConnected()) multiplexer.run_once();
  const unsigned dropped = Probe::disconnectAt - last;
  EXPECT_EQ(dropped, 120000u);
  EXPECT_NE(cap.log().find("heartbeat timeout!!!\n"), std::string::npos);
  EXPECT_TRUE(c.closed_pumping());
  EXPECT_EQ(Probe::log, (std::vector<std::string>{"A:disconnect", "B:disconnect"}));
  EXPECT_FALSE(HeartBeatCtl::instance()->armed());
}
