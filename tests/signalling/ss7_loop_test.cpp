// Two SS7 links on two stand-in HDLC channels in SS7 mode, switched to
// two trunk time-slots that the board loops back to back, losing or
// damaging every n-th unit on the line: alignment completes, and basic
// error correction delivers every MSU once and in order both ways.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LapdTestUtil.h"
#include "board/Mcc.h"
#include "board/StandInFixture.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"
#include "hardware/HwTestUtil.h"
#include "signalling/SLC.h"

namespace {

using lapdtest::frame;
using lapdtest::Recording;
using Link = Recording<SS7::SLC>;

// An MSU of SIO 0x85 numbered n, as "85 <hi> <lo> 5A 5A".
std::string msu(unsigned from, unsigned n) {
  char b[32];
  std::snprintf(b, sizeof b, "%02X %02X %02X 5A 5A", 0x80 | from, n >> 8, n & 0xFF);
  return b;
}

constexpr uint32_t kTsA = 32 * 0 + 16;  // trunk 0, time-slot 16
constexpr uint32_t kTsB = 32 * 1 + 16;  // trunk 1, time-slot 16

class Ss7Loop : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    HwMux::instance();
    a_.hdlc(&ha_);
    b_.hdlc(&hb_);
    ha_.bind(&a_);
    hb_.bind(&b_);
    a_.set_emergency(true);
    b_.set_emergency(true);
    ha_.params({0, 16, kTsA, 0xFFFFFFFF, HDLC::ss7});
    hb_.params({1, 16, kTsB, 0xFFFFFFFF, HDLC::ss7});
    ASSERT_TRUE(board().mcc().loop(kTsA, kTsB));
    ASSERT_TRUE(ha_.activate());
    ASSERT_TRUE(hb_.activate());
  }
  void TearDown() override { board().mcc().unloop(kTsA); }

  uint64_t frames() const {
    return uint64_t(ha_.statistics().txSU) + hb_.statistics().txSU + ha_.statistics().rxSU +
           hb_.statistics().rxSU;
  }
  // Runs the loop until the board and both sides are quiet.
  void settle() {
    for (int quiet = 0, n = 0; quiet < 3; ++n) {
      if (n == 20000) {
        ADD_FAILURE() << "the sides never stop sending";
        return;
      }
      uint64_t before = frames();
      board().sync();
      multiplexer.run_once();
      quiet = frames() == before ? quiet + 1 : 0;
    }
  }
  void pass(unsigned ms) {
    for (unsigned t = 0; t < ms && !HasFailure(); t += 100) {
      clock_.advance(100);
      multiplexer.run_once();
      settle();
    }
  }
  static std::vector<std::string> messages(lapdtest::Recorder& r) {
    std::vector<std::string> out;
    for (auto& e : r.events)
      if (e.compare(0, 4, "msg ") == 0) out.push_back(e.substr(4));
    return out;
  }
  void inService() {
    settle();
    a_.local_activate();
    b_.local_activate();
    settle();
    pass(600);  // emergency proving
    ASSERT_EQ(a_.get_state_id(), SS7::SLC::InService);
    ASSERT_EQ(b_.get_state_id(), SS7::SLC::InService);
  }

  Mux::TestClock clock_{Mux::TestClock::Manual};
  hwtest::LoopAnchor anchor_;
  HDLC ha_, hb_;
  Link a_, b_;
};

TEST_F(Ss7Loop, AlignsAndCarriesMsusBothWays) {
  settle();
  a_.local_activate();
  settle();
  // B, idle, hears A's SIO and aligns without a start of its own.
  EXPECT_EQ(b_.get_state_id(), SS7::SLC::Proving);
  EXPECT_EQ(a_.get_state_id(), SS7::SLC::Proving);
  pass(400);
  EXPECT_EQ(a_.get_state_id(), SS7::SLC::Proving);
  pass(200);
  EXPECT_EQ(a_.get_state_id(), SS7::SLC::InService);
  EXPECT_EQ(b_.get_state_id(), SS7::SLC::InService);
  EXPECT_EQ(a_.rec.take(), std::vector<std::string>{"up"});
  Packet m = frame(msu(1, 7), 3);
  a_.message(m);
  settle();
  EXPECT_EQ(b_.rec.take(), (std::vector<std::string>{"up", "msg " + msu(1, 7)}));
  EXPECT_EQ(a_.rtbCount(), 0u);  // acknowledged
}

// Every lose-th unit lost, every corrupt-th damaged, each way. A period
// that meets the length of the resent bursts (7: six MSUs and the
// negative acknowledgement) hits the first of them every time, and basic
// error correction, which resends from there, then never gets through:
// the periods here stay clear of that.
struct Damage {
  unsigned lose, corrupt;
};

class LossyLoop : public Ss7Loop, public ::testing::WithParamInterface<Damage> {};

TEST_P(LossyLoop, EveryMsuArrivesOnceAndInOrder) {
  inService();
  if (HasFatalFailure()) return;
  a_.rec.take();
  b_.rec.take();
  ASSERT_TRUE(board().mcc().loop(kTsA, kTsB, GetParam().lose, GetParam().corrupt));
  std::vector<std::string> fromA, fromB;
  for (unsigned n = 0; n < 400; ++n) {
    fromA.push_back(msu(1, n));
    fromB.push_back(msu(2, n));
    Packet pa = frame(fromA.back(), 3), pb = frame(fromB.back(), 3);
    a_.message(pa);
    b_.message(pb);
    if (n % 7 == 0) settle();
    if (n % 50 == 49) pass(200);
  }
  pass(1000);
  EXPECT_EQ(messages(b_.rec), fromA);
  EXPECT_EQ(messages(a_.rec), fromB);
  EXPECT_EQ(a_.get_state_id(), SS7::SLC::InService);
  EXPECT_EQ(a_.rtbCount() + a_.tbCount() + b_.rtbCount() + b_.tbCount(), 0u);
  if (GetParam().lose || GetParam().corrupt) {
    EXPECT_GT(a_.statistics().retransmissions + b_.statistics().retransmissions, 0u);
    EXPECT_GT(a_.statistics().nacks + b_.statistics().nacks, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Loop, LossyLoop,
                         ::testing::Values(Damage{0, 0}, Damage{13, 0}, Damage{0, 11}, Damage{17, 23}));

}  // namespace
