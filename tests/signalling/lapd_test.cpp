// The Q.921 link against a scripted peer: every frame the peer sends and
// every frame the link must answer is written here octet by octet.
//
// The link is on the user side (PRI, TEI 0, unless said), so:
//   address octet 1: SAPI 0 << 2 | C/R << 1; user commands and network
//     responses carry C/R = 0 (00), network commands and user responses
//     C/R = 1 (02); octet 2 = TEI << 1 | 1 (01 for TEI 0, 81 for TEI 64);
//   control: SABME 6F, DISC 43, UA 63, DM 0F (| 10 with P/F);
//     RR 01, RNR 05, REJ 09 followed by N(R) << 1 | P/F;
//     I frame N(S) << 1 followed by N(R) << 1 | P.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "LapdTestUtil.h"
#include "hardware/HwTestUtil.h"
#include "signalling/LAPD.h"

namespace {

using lapdtest::frame;
using lapdtest::Recording;
using lapdtest::Wire;
using V = std::vector<std::string>;
using Link = Recording<ISDN::LAPD>;

// "08 01 01 7B" with the last octet n: a small layer-3 message.
std::string msg(unsigned n) {
  char b[16];
  std::snprintf(b, sizeof b, "08 01 01 %02X", n & 0xFF);
  return b;
}

struct FlowCount : ISDN::LAPD::Notify {
  std::vector<int> changes;
  void OnLAPD_FlowStatusChange(ISDN::LAPD* l) override { changes.push_back(l->GetFlowStatus()); }
};

class LapdTest : public ::testing::Test {
 protected:
  void SetUp() override { link_.hdlc(&wire_); }
  void TearDown() override { EXPECT_EQ(wire_.faults, V{}); }
  void rx(const std::string& h) {
    Packet p = frame(h);
    link_.receive(p);
  }
  void tx(const std::string& h) {
    Packet p = frame(h);
    link_.message(p);
  }
  void elapse(unsigned ms) {
    clock_.advance(ms);
    multiplexer.run_once();
  }
  V sent() { return wire_.take(); }
  V up() { return link_.rec.take(); }
  unsigned state() const { return link_.fullState().state; }
  void establishByPeer() {
    rx("02 01 7F");
    sent();
    up();
  }

  Mux::TestClock clock_{Mux::TestClock::Manual};
  hwtest::LoopAnchor anchor_;
  Wire wire_;
  Link link_{ISDN::Side::user, 0u};
};

TEST_F(LapdTest, EstablishmentAndReleaseByEitherSide) {
  rx("02 01 7F");  // SABME P=1 from the network
  EXPECT_EQ(sent(), V{"02 01 73"});  // UA F=1
  EXPECT_EQ(state(), ISDN::MultipleFrameEstablished);
  EXPECT_EQ(up(), V{"up"});

  link_.local_deactivate();
  EXPECT_EQ(sent(), V{"00 01 53"});  // DISC P=1
  EXPECT_EQ(state(), ISDN::AwaitingRelease);
  rx("00 01 73");  // UA F=1
  EXPECT_EQ(state(), ISDN::TeiAssigned);
  EXPECT_EQ(up(), V{"down success (UA received)"});

  link_.local_activate();
  EXPECT_EQ(sent(), V{"00 01 7F"});  // SABME P=1
  EXPECT_EQ(state(), ISDN::AwaitingEstablishment);
  rx("00 01 63");  // UA without F: not the answer
  EXPECT_EQ(up(), V{"status UA (F = 0)"});
  EXPECT_EQ(state(), ISDN::AwaitingEstablishment);
  rx("00 01 73");
  EXPECT_EQ(state(), ISDN::MultipleFrameEstablished);
  EXPECT_EQ(up(), V{"up"});

  rx("02 01 53");  // DISC P=1 from the network
  EXPECT_EQ(sent(), V{"02 01 73"});
  EXPECT_EQ(up(), V{"down remote error (DISC received)"});
  EXPECT_EQ(state(), ISDN::TeiAssigned);
  rx("02 01 53");  // not established: DM F=1
  EXPECT_EQ(sent(), V{"02 01 1F"});
}

TEST_F(LapdTest, IFramesStopAtTheWindowAndMoveOnAcknowledgement) {
  establishByPeer();
  for (unsigned i = 0; i < 8; ++i) tx(msg(i));
  V expect;
  for (unsigned i = 0; i < 7; ++i) {
    char h[16];
    std::snprintf(h, sizeof h, "00 01 %02X 00 ", i << 1);  // N(S) = i, N(R) = 0
    expect.push_back(h + msg(i));
  }
  EXPECT_EQ(sent(), expect);  // k = 7: the eighth waits
  EXPECT_EQ(link_.ackQueued(), 7u);

  rx("00 01 01 06");  // RR response N(R) = 3
  EXPECT_EQ(sent(), V{"00 01 0E 00 " + msg(7)});
  EXPECT_EQ(link_.ackQueued(), 5u);

  rx("02 01 00 10 08 01 81 01");  // I frame N(S) = 0, N(R) = 8, P = 0
  EXPECT_EQ(up(), V{"msg 08 01 81 01"});
  EXPECT_EQ(sent(), V{"02 01 01 02"});  // RR response N(R) = 1
  EXPECT_EQ(link_.ackQueued(), 0u);
  EXPECT_EQ(link_.stats().rx, 1u);
  EXPECT_EQ(link_.stats().tx, 8u);

  rx("02 01 02 11 08 01 81 02");  // N(S) = 1, P = 1: answered at once with F = 1
  EXPECT_EQ(sent(), V{"02 01 01 05"});
  EXPECT_EQ(up(), V{"msg 08 01 81 02"});
}

TEST_F(LapdTest, T200RepeatsSabmeThreeTimesThenGivesUp) {
  link_.local_activate();
  EXPECT_EQ(sent(), V{"00 01 7F"});
  elapse(999);
  EXPECT_TRUE(sent().empty());
  for (int i = 0; i < 3; ++i) {
    elapse(i == 0 ? 1 : 1000);
    EXPECT_EQ(sent(), V{"00 01 7F"}) << i;
  }
  elapse(1000);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(up(), (V{"status Unsuccessful retransmission (N200 times) - SABME",
                     "down link error (T200 expired N200 times)"}));
  EXPECT_EQ(state(), ISDN::TeiAssigned);
  EXPECT_EQ(link_.stats().t200, 4u);
}

TEST_F(LapdTest, TimerRecoveryResendsWithFreshHeadersOrReestablishes) {
  establishByPeer();
  tx(msg(1));
  EXPECT_EQ(sent(), V{"00 01 00 00 " + msg(1)});
  rx("02 01 00 00 08 01 81 01");  // their I frame, acknowledging nothing of ours
  EXPECT_EQ(sent(), V{"02 01 01 02"});
  up();

  elapse(1000);  // T200: enquiry, RR command P = 1 with N(R) = 1
  EXPECT_EQ(sent(), V{"00 01 01 03"});
  EXPECT_EQ(state(), ISDN::TimerRecovery);
  rx("00 01 01 01");  // RR response F = 1, N(R) = 0
  EXPECT_EQ(state(), ISDN::MultipleFrameEstablished);
  EXPECT_EQ(sent(), V{"00 01 00 02 " + msg(1)});  // same N(S), N(R) now 1
  EXPECT_EQ(link_.stats().retrains, 1u);

  rx("00 01 01 02");  // all acknowledged: T203 from now
  elapse(10000);
  EXPECT_EQ(sent(), V{"00 01 01 03"});
  EXPECT_EQ(state(), ISDN::TimerRecovery);
  for (int i = 0; i < 3; ++i) {
    elapse(1000);
    EXPECT_EQ(sent(), V{"00 01 01 03"}) << i;
  }
  elapse(1000);
  EXPECT_EQ(sent(), V{"00 01 7F"});
  EXPECT_EQ(up(), V{"status Unsuccessful retransmission (N200 times) - Status enquiry"});
  EXPECT_EQ(state(), ISDN::AwaitingEstablishment);
}

TEST_F(LapdTest, RejectInBothDirections) {
  establishByPeer();
  tx(msg(0));
  tx(msg(1));
  tx(msg(2));
  sent();
  rx("00 01 09 02");  // REJ response N(R) = 1: resend from 1
  EXPECT_EQ(sent(), (V{"00 01 02 00 " + msg(1), "00 01 04 00 " + msg(2)}));
  EXPECT_EQ(link_.ackQueued(), 2u);

  rx("02 01 02 06 08 01 81 01");  // N(S) = 1 where 0 is due: REJ F = 0
  EXPECT_EQ(sent(), V{"02 01 09 00"});
  rx("02 01 04 06 08 01 81 02");  // still out of sequence, P = 0: silence
  EXPECT_TRUE(sent().empty());
  rx("02 01 04 07 08 01 81 02");  // P = 1: RR F = 1
  EXPECT_EQ(sent(), V{"02 01 01 01"});
  EXPECT_TRUE(up().empty());
  rx("02 01 00 06 08 01 81 00");  // in sequence, acknowledging ours
  EXPECT_EQ(up(), V{"msg 08 01 81 00"});
  EXPECT_EQ(sent(), V{"02 01 01 02"});
  EXPECT_EQ(link_.stats().rejected, 3u);
  EXPECT_EQ(link_.ackQueued(), 0u);
}

TEST_F(LapdTest, PeerBusyHoldsIFramesUntilReceiverReady) {
  establishByPeer();
  rx("00 01 05 00");  // RNR response N(R) = 0
  tx(msg(5));
  EXPECT_TRUE(sent().empty());
  rx("00 01 01 00");  // RR response N(R) = 0
  EXPECT_EQ(sent(), V{"00 01 00 00 " + msg(5)});
}

TEST_F(LapdTest, NrOutsideTheWindowReestablishes) {
  establishByPeer();
  rx("00 01 01 0A");  // RR N(R) = 5 with nothing sent
  EXPECT_EQ(up(), V{"status Other - N(R) error"});
  EXPECT_EQ(sent(), V{"00 01 7F"});
  EXPECT_EQ(state(), ISDN::AwaitingEstablishment);
  EXPECT_EQ(link_.stats().badconfirm, 1u);
}

TEST_F(LapdTest, MalformedFramesAreDroppedWithoutReadingPastThem) {
  establishByPeer();
  for (const char* f : {"02", "03 01 7F", "02 00 7F", "02 01", "02 01 00", "02 01 01", "02 01 AF"}) {
    rx(f);
    EXPECT_TRUE(sent().empty()) << f;
    EXPECT_TRUE(up().empty()) << f;
    EXPECT_EQ(state(), ISDN::MultipleFrameEstablished) << f;
  }
  Packet empty;
  link_.receive(empty);
  // A long information field goes up whole.
  std::string big = "02 01 00 00";
  for (int i = 0; i < 300; ++i) big += " 5A";
  rx(big);
  V got = up();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), 4u + 300 * 3 - 1);
}

TEST_F(LapdTest, RefusedIFrameWaitsForTheTransmitter) {
  establishByPeer();
  wire_.full = true;
  tx(msg(3));
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(link_.outQueued(), 1u);
  wire_.full = false;
  link_.on_hdlc_ready();
  EXPECT_EQ(sent(), V{"00 01 00 00 " + msg(3)});
}

TEST_F(LapdTest, QueueLimitsAndCongestionAreReportedOnce) {
  FlowCount flow;
  link_.BindNotify(&flow);
  for (unsigned i = 0; i < 129; ++i) tx(msg(i));  // not established: all wait
  EXPECT_EQ(link_.outQueued(), 128u);
  EXPECT_EQ(link_.stats().outOverflows, 1u);
  EXPECT_EQ(flow.changes, std::vector<int>{1});
  EXPECT_EQ(link_.GetFlowStatus(), ISDN::LAPD::FlowStatus::congested);

  rx("02 01 7F");  // established: what waited goes out
  for (unsigned acked = 7; acked <= 70; acked += 7) {
    char h[16];
    std::snprintf(h, sizeof h, "00 01 01 %02X", acked << 1);
    rx(h);
  }
  EXPECT_EQ(link_.outQueued(), 128u - 77);
  EXPECT_EQ(flow.changes, (std::vector<int>{1, 0}));
}

TEST_F(LapdTest, GetInfoReportsOnlyChanges) {
  ACP::IsdnLinkInfo info;
  EXPECT_TRUE(link_.GetInfo(info));
  EXPECT_EQ(info.get_lapdState().asInt(), 3);
  EXPECT_FALSE(link_.GetInfo(info));
  establishByPeer();
  EXPECT_TRUE(link_.GetInfo(info));
  EXPECT_EQ(info.get_lapdState().asInt(), 6);
  EXPECT_FALSE(link_.GetInfo(info));
}

// Layer 3 that talks while the link comes up must not wait for the next
// message or the idle timer.
TEST_F(LapdTest, MessagesQueuedDuringEstablishmentGoOutWithTheUa) {
  link_.local_activate();
  tx(msg(9));
  EXPECT_EQ(sent(), V{"00 01 7F"});
  rx("00 01 73");
  EXPECT_EQ(sent(), V{"00 01 00 00 " + msg(9)});
}

// An unsolicited UA is an error to report, not a reason to forget what
// the peer has not acknowledged.
TEST_F(LapdTest, StrayUaKeepsTheSequence) {
  establishByPeer();
  tx(msg(1));
  sent();
  rx("00 01 73");
  EXPECT_EQ(up(), V{"status UA (F = 1)"});
  EXPECT_EQ(link_.ackQueued(), 1u);
  rx("00 01 01 02");  // and the acknowledgement still fits
  EXPECT_TRUE(up().empty());
  EXPECT_EQ(link_.ackQueued(), 0u);
}

TEST_F(LapdTest, TracesFramesWithTheirDirection) {
  hwtest::Capture log(std::clog);
  link_.set_log(3);
  link_.set_linkno(4);
  rx("02 01 7F");
  std::string t = log.text();
  EXPECT_NE(t.find("LAPD[4] (TEI assigned): rx: 02 01 7F\nframe network->user SFrame tei = 0 (7F )\n"),
            std::string::npos) << t;
  EXPECT_NE(t.find("LAPD[4] (TEI assigned): tx:  02 01 73\nframe user->network SFrame tei = 0 (73 )\n"),
            std::string::npos) << t;
  EXPECT_NE(t.find("LAPD[4] : change state \"TEI assigned\" -> \"Multiple frame established\"\n"),
            std::string::npos) << t;
}

TEST_F(LapdTest, StatusCarriesTheStateItWasTakenIn) {
  establishByPeer();
  tx(msg(1));
  ISDN::LAPD::Status st(&link_, "x");
  link_.local_deactivate();  // changes nothing in the status
  std::ostringstream o;
  st.out(o);
  EXPECT_EQ(o.str(),
            "x\n   - state: Multiple frame established"
            "\n   - self: TEI=0, SAPI=0, busy=0"
            "\n   - peer: TEI=0, SAPI=0, busy=0"
            "\n   - counters: VS=1, VA=0, VR=0, RC=0"
            "\n   - internal signals: AckRQ=0, RetrRQ=0, QueuedUp=0"
            "\n   - flags: L3Initiated=0, Establishable=1, RejectException=0"
            "\n   - timers: T200 running, T202 stopped, T203 stopped");
}

TEST(Q921Check, FindsWhatBreaksTheRules) {
  EXPECT_EQ(lapdtest::q921Fault(frame("00 01 7F"), false), "");
  EXPECT_EQ(lapdtest::q921Fault(frame("02 01 7F"), true), "");
  EXPECT_NE(lapdtest::q921Fault(frame("02 01 7F"), false), "");  // a user SABME with C/R 1
  EXPECT_NE(lapdtest::q921Fault(frame("01 01 7F"), false), "");
  EXPECT_NE(lapdtest::q921Fault(frame("00 00 7F"), false), "");
  EXPECT_NE(lapdtest::q921Fault(frame("00 01 01"), false), "");
  EXPECT_NE(lapdtest::q921Fault(frame("00 01 00 00"), false), "");
  EXPECT_NE(lapdtest::q921Fault(frame("FC FF 03 0F 00 00 08 FF"), false), "");
}

// A slot may drop its link when told that the link went down.
struct Doomed : ISDN::LAPD {
  Doomed() : ISDN::LAPD(ISDN::Side::user, 0) {}
  bool* gone = nullptr;
  void on_deactivate(Protocol_status_ptr) override {
    *gone = true;
    delete this;
  }
};

TEST_F(LapdTest, ListenerMayDestroyTheLinkWhenItGoesDown) {
  bool gone = false;
  Doomed* d = new Doomed;
  d->gone = &gone;
  d->hdlc(&wire_);
  Packet sabme = frame("02 01 7F"), data = frame(msg(1)), disc = frame("02 01 53");
  d->receive(sabme);
  d->message(data);  // unacknowledged when the link goes
  d->receive(disc);
  EXPECT_TRUE(gone);
  EXPECT_EQ(sent().back(), "02 01 73");
}

// ---------------------------------------------------------------------------
// BRI user side with TEI management (network frames: FE FF 03 0F Ri-low
// Ri-high type Ai << 1 | 1; ours begin FC).

class BriTest : public LapdTest {
 protected:
  void SetUp() override {
    LapdTest::SetUp();
    link_.change_to_bri();
  }
  // Checks a TEI request and returns its Ri octets ("lo hi").
  std::string request(const std::string& f) {
    EXPECT_EQ(f.size(), 23u);
    EXPECT_EQ(f.substr(0, 11), "FC FF 03 0F");
    EXPECT_EQ(f.substr(18), "01 FF");
    return f.substr(12, 5);
  }
  std::string removeAll() {
    rx("FE FF 03 0F 00 00 06 FF");  // identity remove, Ai 127
    V s = sent();
    EXPECT_EQ(s.size(), 1u);
    return s.empty() ? "" : request(s[0]);
  }
};

TEST_F(BriTest, RemoveThenAssignThenEstablishByTheNetwork) {
  std::string ri = removeAll();
  EXPECT_EQ(state(), ISDN::AssignAwaitingTei);
  rx("FE FF 03 0F " + std::string(ri == "00 00" ? "01 00" : "00 00") + " 02 81");  // someone else's
  EXPECT_EQ(state(), ISDN::AssignAwaitingTei);
  rx("FE FF 03 0F " + ri + " 02 FF");  // the group TEI is nobody's own
  EXPECT_EQ(state(), ISDN::AssignAwaitingTei);
  rx("FE FF 03 0F " + ri + " 02 81");  // identity assigned: TEI 64
  EXPECT_EQ(state(), ISDN::TeiAssigned);
  EXPECT_EQ(link_.fullState().selfTEI, 64);

  rx("02 83 7F");  // SABME to TEI 65: not ours
  EXPECT_TRUE(sent().empty());
  rx("02 81 7F");
  EXPECT_EQ(sent(), V{"02 81 73"});
  EXPECT_EQ(state(), ISDN::MultipleFrameEstablished);

  rx("FE FF 03 0F 00 00 04 FF");  // identity check request
  EXPECT_EQ(sent(), V{"FC FF 03 0F " + ri + " 05 81"});
  up();
  rx("02 FF 03 08 01 05 05");  // SETUP broadcast
  EXPECT_EQ(up(), V{"msg 08 01 05 05"});
}

TEST_F(BriTest, EstablishRequestDuringAssignmentEstablishesOnceAssigned) {
  std::string ri = removeAll();
  link_.local_activate();
  EXPECT_EQ(state(), ISDN::EstablishAwaitingTei);
  rx("FE FF 03 0F " + ri + " 02 81");
  EXPECT_EQ(sent(), V{"00 81 7F"});
  EXPECT_EQ(state(), ISDN::AwaitingEstablishment);
}

TEST_F(BriTest, FiveUnansweredRequestsEndTheProcedure) {
  removeAll();
  for (int i = 0; i < 4; ++i) {
    elapse(2000);
    V s = sent();
    ASSERT_EQ(s.size(), 1u) << i;
    request(s[0]);
  }
  up();
  elapse(2000);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(state(), ISDN::TeiUnassigned);
  EXPECT_EQ(up(), V{"down link error (T202 expired N202 times)"});

  // Asked for the link again, it asks for a TEI again and establishes
  // once it has one.
  link_.local_activate();
  V s = sent();
  ASSERT_EQ(s.size(), 1u);
  std::string ri = request(s[0]);
  rx("FE FF 03 0F " + ri + " 02 85");  // TEI 66
  EXPECT_EQ(sent(), V{"00 85 7F"});
}

// With no TEI, a message from layer 3 has to ask for one, or it would wait
// in a state that nothing leaves.
TEST_F(BriTest, MessageWithoutTeiAsksForOne) {
  removeAll();
  for (int i = 0; i < 5; ++i) elapse(2000);
  sent();
  ASSERT_EQ(state(), ISDN::TeiUnassigned);
  tx(msg(1));
  V s = sent();
  ASSERT_EQ(s.size(), 1u);
  std::string ri = request(s[0]);
  EXPECT_EQ(state(), ISDN::AssignAwaitingTei);
  rx("FE FF 03 0F " + ri + " 02 81");
  rx("02 81 7F");  // the network sets the link up: the message goes
  EXPECT_EQ(sent(), (V{"02 81 73", "00 81 00 00 " + msg(1)}));
}

TEST_F(BriTest, LayerThreeUiStartsEstablishmentAndPriIgnoresUi) {
  rx("02 FF 03 08 01 05 05");
  EXPECT_EQ(up(), V{"msg 08 01 05 05"});
  EXPECT_EQ(sent(), V{"00 01 7F"});
  EXPECT_EQ(state(), ISDN::AwaitingEstablishment);

  Link pri{ISDN::Side::user, 0u};
  pri.hdlc(&wire_);
  Packet ui = frame("02 FF 03 08 01 05 05");
  pri.receive(ui);
  EXPECT_TRUE(pri.rec.take().empty());
  EXPECT_TRUE(sent().empty());
}

}  // namespace
