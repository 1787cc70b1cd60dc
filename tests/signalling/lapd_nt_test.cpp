// The network side of a BRI D channel against scripted terminals. Frames
// from terminals: TEI management FC FF 03 0F Ri-low Ri-high type Ai << 1 | 1;
// SAPI 0 commands carry C/R = 0 (00), responses C/R = 1 (02). The network
// answers with FE ... and 02 (commands) / 00 (responses).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LapdTestUtil.h"
#include "hardware/HwTestUtil.h"
#include "signalling/LAPD_NT.h"

namespace {

using lapdtest::frame;
using lapdtest::hex;
using V = std::vector<std::string>;

struct Network : lapdtest::Recording<ISDN::LAPD_NT> {
  std::vector<std::string> wire;
  std::vector<std::string> faults;
  void transmit(Packet& p) override {
    std::string fault = lapdtest::q921Fault(p, true);
    if (!fault.empty()) faults.push_back(fault + ": " + hex(p));
    wire.push_back(hex(p));
  }
};

std::string request(unsigned ri, unsigned ai) {
  char b[40];
  std::snprintf(b, sizeof b, "FC FF 03 0F %02X %02X 01 %02X", ri & 0xFF, ri >> 8, ai << 1 | 1);
  return b;
}

class LapdNtTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(nt_.faults, V{}); }
  void rx(const std::string& h) {
    Packet p = frame(h);
    nt_.receive(p);
  }
  void l3(const std::string& h) {
    Packet p = frame(h);
    nt_.message(p);
  }
  void elapse(unsigned ms) {
    clock_.advance(ms);
    multiplexer.run_once();
  }
  V sent() {
    V out;
    out.swap(nt_.wire);
    return out;
  }
  // Terminal i gets TEI 64 + i through an identity request.
  void assignTerminals(unsigned count) {
    for (unsigned i = 0; i < count; ++i) rx(request(0x1200 + i, 127));
    sent();
  }

  Mux::TestClock clock_{Mux::TestClock::Manual};
  hwtest::LoopAnchor anchor_;
  Network nt_;
};

TEST_F(LapdNtTest, IdentityRequestsAssignFrom64AndDenyTheRest) {
  rx(request(0x1234, 127));
  EXPECT_EQ(sent(), (V{"FE FF 03 0F 34 12 02 81", "02 81 7F"}));  // assigned TEI 64, then SABME P=1
  rx(request(0x1235, 127));
  EXPECT_EQ(sent(), (V{"FE FF 03 0F 35 12 02 83", "02 83 7F"}));
  for (unsigned i = 2; i < 8; ++i) rx(request(0x1200 + i, 127));
  sent();
  rx(request(0x1299, 127));  // a ninth terminal
  EXPECT_EQ(sent(), V{"FE FF 03 0F 99 12 03 FF"});
  rx(request(0x0001, 70));  // asks for TEI 70 itself
  EXPECT_EQ(sent(), V{"FE FF 03 0F 01 00 03 8D"});
  rx(request(0x0002, 10));  // a non-automatic TEI: not ours to answer
  EXPECT_TRUE(sent().empty());
  rx("FC FF 03 0F 02 00 01");  // too short
  EXPECT_TRUE(sent().empty());
}

TEST_F(LapdNtTest, FramesFromUnknownTeisClaimAnEndpointOrAreRemoved) {
  rx("00 0B 01 01");  // RR command P=1 from TEI 5
  EXPECT_EQ(sent(), (V{"02 0B 7F", "00 0B 01 01"}));  // SABME, then RR response F=1
  ASSERT_NE(nt_.find_Tei(5), nullptr);
  assignTerminals(7);
  rx("00 0D 01 01");  // TEI 6, every endpoint taken
  EXPECT_EQ(sent(), (V{"FE FF 03 0F 00 00 06 0D", "FE FF 03 0F 00 00 06 0D"}));
  EXPECT_EQ(nt_.find_Tei(6), nullptr);
}

TEST_F(LapdNtTest, SetupIsBroadcastAndTheRestFollowsTheCallReference) {
  assignTerminals(2);
  l3("08 01 05 05");
  EXPECT_EQ(sent(), V{"02 FF 03 08 01 05 05"});

  rx("00 83 00 00 08 01 07 05");  // TEI 65: I frame N(S)=0, SETUP of call reference 7
  EXPECT_EQ(nt_.rec.take(), V{"msg 08 01 07 05"});
  EXPECT_TRUE(sent().empty());
  l3("08 01 87 01");  // ALERTING for call reference 7: to TEI 65, N(S)=0, N(R)=1, P=1
  EXPECT_EQ(sent(), V{"02 83 00 03 08 01 87 01"});
  l3("08 01 88 01");  // nobody's call
  EXPECT_TRUE(sent().empty());
  l3("08 01 87");  // too short
  EXPECT_TRUE(sent().empty());
}

TEST_F(LapdNtTest, TeiChecksRemoveSilentAndDuplicatedTerminals) {
  assignTerminals(2);
  nt_.local_activate();
  EXPECT_EQ(sent(), V{"FE FF 03 0F 00 00 04 FF"});
  EXPECT_EQ(nt_.rec.take(), V{"up"});
  rx("FC FF 03 0F 77 00 05 81");  // TEI 64 answers the check
  elapse(2000);
  EXPECT_NE(nt_.find_Tei(64), nullptr);
  EXPECT_EQ(nt_.find_Tei(65), nullptr);  // silent: gone
  rx("FC FF 03 0F 77 00 05 81");  // the same answer again: ignored
  EXPECT_TRUE(sent().empty());
  rx("FC FF 03 0F 78 00 05 81");  // another terminal claims TEI 64
  EXPECT_EQ(sent(), (V{"FE FF 03 0F 00 00 06 81", "FE FF 03 0F 00 00 06 81"}));
  EXPECT_EQ(nt_.find_Tei(64), nullptr);

  elapse(58000);  // the check runs every 60000 ms
  EXPECT_EQ(sent(), V{"FE FF 03 0F 00 00 04 FF"});
  nt_.local_deactivate();
  elapse(60000);
  EXPECT_TRUE(sent().empty());
}

TEST_F(LapdNtTest, IdleTerminalIsPolledThenDropped) {
  assignTerminals(1);
  elapse(10000);
  EXPECT_EQ(sent(), V{"02 81 01 01"});  // RR command P=1
  for (int i = 0; i < 3; ++i) {
    elapse(1000);
    EXPECT_EQ(sent(), V{"02 81 01 01"}) << i;
  }
  elapse(1000);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(nt_.find_Tei(64), nullptr);
}

TEST_F(LapdNtTest, TerminalFramesDriveTheEndpoint) {
  assignTerminals(1);
  rx("00 81 7F");  // SABME P=1 from the terminal
  EXPECT_EQ(sent(), V{"00 81 73"});  // UA F=1
  rx("00 81 05 01");  // RNR command P=1: busy, answered with RR F=1
  EXPECT_EQ(sent(), V{"00 81 01 01"});
  rx("00 81 00 00 08 01 01 05");
  nt_.rec.take();
  sent();
  l3("08 01 81 02");  // held while the terminal is busy
  EXPECT_TRUE(sent().empty());
  rx("02 81 01 00");  // RR response: not busy any more, what was held goes
  EXPECT_EQ(sent(), V{"02 81 00 03 08 01 81 02"});
  rx("00 81 53");  // DISC P=1
  EXPECT_EQ(sent(), V{"00 81 73"});
  EXPECT_EQ(nt_.find_Tei(64), nullptr);
}

// Seven frames out at most, resent with the N(R) that is due now, and one
// REJ per gap: a terminal running Q.921 must find nothing to object to.
TEST_F(LapdNtTest, WindowRetransmissionAndRejectFollowTheTerminal) {
  assignTerminals(1);
  rx("00 81 00 00 08 01 01 05");  // N(S)=0: call reference 1
  nt_.rec.take();
  for (unsigned i = 0; i < 8; ++i) {
    char m[24];
    std::snprintf(m, sizeof m, "08 01 81 7B %02X", i);  // INFORMATION
    l3(m);
  }
  V s = sent();
  ASSERT_EQ(s.size(), 7u);  // the eighth waits for room
  EXPECT_EQ(s[0], "02 81 00 03 08 01 81 7B 00");
  EXPECT_EQ(s[6], "02 81 0C 03 08 01 81 7B 06");
  rx("02 81 01 04");  // RR response N(R)=2
  EXPECT_EQ(sent(), V{"02 81 0E 03 08 01 81 7B 07"});

  rx("00 81 02 04 08 01 01 06");  // their N(S)=1: V(R) becomes 2
  EXPECT_EQ(nt_.rec.take(), V{"msg 08 01 01 06"});
  rx("02 81 09 04");  // REJ N(R)=2: 2 to 7 again, N(R) now 2
  s = sent();
  ASSERT_EQ(s.size(), 6u);
  EXPECT_EQ(s[0], "02 81 04 05 08 01 81 7B 02");
  EXPECT_EQ(s[5], "02 81 0E 05 08 01 81 7B 07");

  rx("00 81 06 04 08 01 01 07");  // N(S)=3 where 2 is due
  EXPECT_EQ(sent(), V{"00 81 09 04"});
  rx("00 81 08 04 08 01 01 08");  // the same gap: no second REJ
  EXPECT_TRUE(sent().empty());
  rx("00 81 08 05 08 01 01 08");  // P=1: RR F=1
  EXPECT_EQ(sent(), V{"00 81 01 05"});
  EXPECT_TRUE(nt_.rec.take().empty());

  rx("02 81 01 10");  // RR N(R)=8: all acknowledged, the next poll is an RR
  elapse(10000);
  EXPECT_EQ(sent(), V{"02 81 01 05"});
  rx("02 81 01 11");  // polled answer: still 8
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(nt_.endpoint(0).ackQueued(), 0u);
}

}  // namespace
