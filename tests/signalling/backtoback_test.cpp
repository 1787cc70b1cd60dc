// Our BRI user side against our network side over two stand-in HDLC
// channels joined back to back, with the board losing every n-th frame on
// the way: every layer-3 message arrives once and in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "LapdTestUtil.h"
#include "board/Mcc.h"
#include "board/StandInFixture.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"
#include "hardware/HwTestUtil.h"
#include "signalling/LAPD.h"
#include "signalling/LAPD_NT.h"

namespace {

using lapdtest::frame;
using lapdtest::Recording;

// Every frame either side sends, checked against Q.921 on its way out.
struct Checked : GenericHDLC {
  HDLC* hdlc = nullptr;
  bool network = false;
  std::vector<std::string> faults;
  bool hdlc_transmit(Packet& f) override {
    std::string fault = lapdtest::q921Fault(f, network);
    if (!fault.empty()) faults.push_back(fault + ": " + lapdtest::hex(f));
    return hdlc->hdlc_transmit(f);
  }
  bool is_open() const override { return hdlc->is_open(); }
  bool is_ready() const override { return hdlc->is_ready(); }
};

// The network side on its own HDLC channel.
struct NetworkOnHdlc : Recording<ISDN::LAPD_NT>, HDLC::Notify {
  Checked out;
  void transmit(Packet& p) override { out.hdlc_transmit(p); }
  void on_hdlc_receive(Packet& f) override { receive(f); }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

std::string l3(bool fromUser, unsigned n) {
  char b[32];
  // INFORMATION of call reference 5; the network's side of the call sets
  // the flag bit of the call reference.
  std::snprintf(b, sizeof b, "08 01 %02X 7B %02X %02X", fromUser ? 0x05 : 0x85, n >> 8, n & 0xFF);
  return b;
}

class BackToBack : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    HwMux::instance();
    user_.change_to_bri();
    userOut_.hdlc = &hu_;
    user_.hdlc(&userOut_);
    hu_.bind(&user_);
    net_.out.hdlc = &hn_;
    net_.out.network = true;
    hn_.bind(&net_);
    hu_.params({1, 2, 301, 300, HDLC::bri});
    hn_.params({2, 2, 303, 302, HDLC::bri});
    ASSERT_TRUE(hu_.activate());
    uint32_t cu = lastChannel();
    ASSERT_TRUE(hn_.activate());
    uint32_t cn = lastChannel();
    ASSERT_TRUE(board().mcc().join(cu, cn));
    cu_ = cu, cn_ = cn;
  }
  uint32_t lastChannel() { return uint32_t(board().logEntries({HDLC::kTimeslot}).back().result); }

  uint64_t frames() const {
    return uint64_t(hu_.statistics().txSU) + hn_.statistics().txSU + hu_.statistics().rxSU +
           hn_.statistics().rxSU;
  }
  // Runs the loop until the board and both sides are quiet.
  void settle() {
    for (int quiet = 0, n = 0; quiet < 3; ++n) {
      if (n == 2000) {
        ADD_FAILURE() << "the sides never stop sending";
        return;
      }
      uint64_t before = frames();
      board().sync();
      multiplexer.run_once();
      quiet = frames() == before ? quiet + 1 : 0;
    }
  }
  // Lets `ms` of test time pass in steps of 100 ms, each followed by quiet.
  void pass(unsigned ms) {
    for (unsigned t = 0; t < ms && !HasFailure(); t += 100) {
      clock_.advance(100);
      multiplexer.run_once();
      settle();
    }
  }
  std::vector<std::string> messages(lapdtest::Recorder& r) {
    std::vector<std::string> out;
    for (auto& e : r.events)
      if (e.compare(0, 4, "msg ") == 0) out.push_back(e.substr(4));
    return out;
  }

  Mux::TestClock clock_{Mux::TestClock::Manual};
  HDLC hu_, hn_;
  Checked userOut_;
  Recording<ISDN::LAPD> user_{ISDN::Side::user, 0u};
  NetworkOnHdlc net_;
  uint32_t cu_ = 0, cn_ = 0;
};

struct Loss {
  unsigned userEvery, networkEvery;
  // Whether everything gets through in the time. A loss period that meets
  // the length of the resent bursts hits the same frame again and again,
  // and the link then crawls; what arrives must still be in order, once
  // and without gaps.
  bool complete;
};

bool isPrefix(const std::vector<std::string>& got, const std::vector<std::string>& sent) {
  return got.size() <= sent.size() && std::equal(got.begin(), got.end(), sent.begin());
}

class LossyBackToBack : public BackToBack, public ::testing::WithParamInterface<Loss> {};

TEST_P(LossyBackToBack, LayerThreeMessagesSurviveLostFrames) {
  settle();
  net_.local_activate();
  // The network removes every TEI; the terminal asks for one and gets it.
  Packet remove = frame("FE FF 03 0F 00 00 06 FF");
  user_.receive(remove);
  pass(500);
  ASSERT_EQ(user_.fullState().selfTEI, 64);
  ASSERT_EQ(user_.fullState().state, ISDN::MultipleFrameEstablished);
  // The terminal's SETUP tells the network which terminal has the call.
  Packet setup = frame("08 01 05 05");
  user_.message(setup);
  pass(500);
  ASSERT_EQ(messages(net_.rec), std::vector<std::string>{"08 01 05 05"});
  net_.rec.events.clear();

  board().mcc().dropEvery(cu_, GetParam().userEvery);
  board().mcc().dropEvery(cn_, GetParam().networkEvery);
  std::vector<std::string> fromUser, fromNet;
  for (unsigned n = 0; n < 60; ++n) {
    Packet a = frame(l3(true, n)), b = frame(l3(false, n));
    fromUser.push_back(l3(true, n));
    fromNet.push_back(l3(false, n));
    user_.message(a);
    net_.message(b);
    if (n % 3 == 0) settle();
    if (n % 10 == 9) pass(1000);
  }
  // Everything is through well within the 60000 ms of the TEI check, a
  // single lost frame of which removes the terminal (and a terminal that
  // is set up again loses what it had not got acknowledged).
  pass(45000);
  EXPECT_GT(board().mcc().dropped(cu_) + board().mcc().dropped(cn_), 10u);
  EXPECT_EQ(userOut_.faults, std::vector<std::string>{});
  EXPECT_EQ(net_.out.faults, std::vector<std::string>{});
  if (GetParam().complete) {
    EXPECT_EQ(messages(net_.rec), fromUser);
    EXPECT_EQ(messages(user_.rec), fromNet);
  } else {
    EXPECT_TRUE(isPrefix(messages(net_.rec), fromUser));
    EXPECT_TRUE(isPrefix(messages(user_.rec), fromNet));
  }
}

INSTANTIATE_TEST_SUITE_P(Drops, LossyBackToBack,
                         ::testing::Values(Loss{7, 5, true}, Loss{5, 7, true}, Loss{9, 11, true}, Loss{13, 6, false},
                                           Loss{0, 3, false}, Loss{4, 0, false}, Loss{3, 4, false}));

}  // namespace
