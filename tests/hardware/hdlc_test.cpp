// The HDLC channel driver against the stand-in "/dev/mcc/ctl" and
// "/dev/hal", with the loop driven pass by pass: allocation and switch
// wiring, frames both ways, back-pressure and readiness, failures, and
// receivers that deactivate or destroy the channel under it.
#include <poll.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "HwTestUtil.h"
#include "board/Hal.h"
#include "board/Mcc.h"
#include "board/StandInFixture.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"

using Board::Hal;
using Board::Mcc;
using hwtest::Capture;
using hwtest::requests;
using hwtest::runUntil;
using testboard::StandInTest;

namespace {

std::string text(Packet& p) { return std::string(reinterpret_cast<char*>(p.data()), p.length()); }

Packet packet(const std::string& s) {
  Packet p;
  p.reserve_head(0);
  if (!s.empty()) std::copy(s.begin(), s.end(), p.put(unsigned(s.size())));
  return p;
}

struct Receiver : HDLC::Notify {
  std::vector<std::string> frames;
  std::vector<int> errors;
  int ready = 0;
  std::function<void()> onReceive, onError;
  void on_hdlc_receive(Packet& frame) override {
    frames.push_back(text(frame));
    if (onReceive) onReceive();
  }
  void on_hdlc_error(Cause::Type cause) override {
    errors.push_back(cause);
    if (onError) onError();
  }
  void on_hdlc_ready() override { ++ready; }
};

class HdlcTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    HwMux::instance();  // the switch's start-up sweep, out of the way
    board().clearLog();
  }
  void TearDown() override { HDLC::traceSwitch(nullptr); }

  // Activates a channel of trunk 1, time-slot 5 on switch channel 37;
  // its controller's switch channel, or -1.
  int open(HDLC& h, uint32_t mode = HDLC::ss7, uint32_t tdm = 37, uint32_t tdmTx = 0xFFFFFFFF) {
    h.params({1, 5, tdm, tdmTx, mode});
    h.trunk(1);
    h.bind(&rx_);
    if (!h.activate()) return -1;
    auto t = board().logEntries({HDLC::kTimeslot});
    return t.empty() ? -1 : int(t.back().result);
  }

  // Whether the stand-in's switch has channel ch listening to src.
  bool listens(int ch, int src) {
    const Hal::Channel c = board().hal().channel(uint32_t(ch));
    return c.kind == Hal::Channel::Listening && c.source == uint32_t(src);
  }
  // Whether a channel is left without a path: the time-slot idle, the
  // controller channel carrying nothing.
  bool idle(int ch) {
    const Hal::Channel c = board().hal().channel(uint32_t(ch));
    return c.kind == Hal::Channel::Driven && c.byte == HwMux::kIdleByte;
  }
  bool disabled(int ch) { return board().hal().channel(uint32_t(ch)).kind == Hal::Channel::Disabled; }

  Mux::TestClock clock_{Mux::TestClock::Manual};
  hwtest::LoopAnchor anchor_;
  Receiver rx_;
};

TEST_F(HdlcTest, ActivationAllocatesAndWiresBothWays) {
  HDLC h;
  EXPECT_FALSE(h.is_open());
  int c = open(h);
  ASSERT_GE(c, 0);
  EXPECT_TRUE(h.is_open());
  EXPECT_FALSE(h.is_ready());  // until the first writable report

  auto alloc = requests(board(), {HDLC::kAllocate});
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].words, (std::vector<uint32_t>{3, 512, 0, 1, 4}));
  bool found = false;
  for (auto& a : board().mcc().allocations())
    if (a.channel == uint32_t(c)) found = a.params.type == Mcc::Ss7 && a.params.rxPacketSize == 512;
  EXPECT_TRUE(found);
  EXPECT_EQ(requests(board(), {HDLC::kTimeslot}).size(), 1u);

  // The time-slot hears the controller, then the controller the time-slot.
  auto sw = requests(board(), {HwMux::kConnect});
  ASSERT_EQ(sw.size(), 2u);
  EXPECT_EQ(sw[0].words, (std::vector<uint32_t>{37, uint32_t(c)}));
  EXPECT_EQ(sw[1].words, (std::vector<uint32_t>{uint32_t(c), 37}));

  EXPECT_TRUE(runUntil([&] { return h.is_ready(); }));
  EXPECT_EQ(rx_.ready, 1);
  for (int i = 0; i < 3; ++i) multiplexer.run_once();
  EXPECT_EQ(rx_.ready, 1);  // once per refusal, not per pass

  h.deactivate();
  EXPECT_FALSE(h.is_open());
  EXPECT_FALSE(h.is_ready());
  // The last close frees the controller channel.
  EXPECT_TRUE(runUntil([&] {
    for (auto& a : board().mcc().allocations())
      if (a.channel == uint32_t(c)) return false;
    return true;
  }));
}

TEST_F(HdlcTest, ClosingUndoesItsOwnPathsAndLeavesALaterOne) {
  HDLC h;
  int c = open(h, HDLC::ss7, 40);
  ASSERT_GE(c, 0);
  ASSERT_TRUE(listens(40, c) && listens(c, 40));
  h.deactivate();
  EXPECT_TRUE(idle(40));
  EXPECT_TRUE(disabled(c));

  // Reopening undoes the old controller channel's paths before it wires
  // the new one.
  const int c1 = open(h, HDLC::ss7, 40);
  ASSERT_GE(c1, 0);
  board().clearLog();
  const int c2 = open(h, HDLC::ss7, 40);
  ASSERT_GE(c2, 0);
  EXPECT_TRUE(listens(40, c2) && listens(c2, 40));
  auto undone = requests(board(), {HwMux::kWrite, HwMux::kDisable, HDLC::kAllocate});
  ASSERT_EQ(undone.size(), 3u);
  EXPECT_EQ(undone[0].words, (std::vector<uint32_t>{40, HwMux::kIdleByte}));
  EXPECT_EQ(undone[1].words, std::vector<uint32_t>{uint32_t(c1)});
  EXPECT_EQ(undone[2].word, HDLC::kAllocate);

  // The time-slot switched to something else since is that one's path.
  ASSERT_TRUE(HwMux::instance()->Connect(8200, 40));
  board().clearLog();
  h.deactivate();
  EXPECT_TRUE(listens(40, 8200));
  EXPECT_TRUE(disabled(c2));
  undone = requests(board(), {HwMux::kWrite, HwMux::kDisable});
  ASSERT_EQ(undone.size(), 1u);
  EXPECT_EQ(undone[0].words, std::vector<uint32_t>{uint32_t(c2)});
  // Closed twice: nothing more to undo.
  board().clearLog();
  h.deactivate();
  EXPECT_TRUE(requests(board(), {HwMux::kWrite, HwMux::kDisable}).empty());
  HwMux::instance()->Disconnect(40);
}

TEST_F(HdlcTest, AReadErrorAndTheDestructorUndoThePathsToo) {
  auto* bri = new HDLC;
  int c = open(*bri, HDLC::bri, 301, 300);
  ASSERT_GE(c, 0);
  ASSERT_TRUE(listens(300, c) && listens(c, 301));
  delete bri;
  EXPECT_TRUE(idle(300));
  EXPECT_TRUE(disabled(c));

  HDLC h;
  c = open(h);
  ASSERT_GE(c, 0);
  ASSERT_TRUE(listens(37, c));
  Capture err(std::cerr);
  ASSERT_TRUE(board().mcc().sever(uint32_t(c)));
  ASSERT_TRUE(runUntil([&] { return !rx_.errors.empty(); }));
  EXPECT_TRUE(idle(37));
  EXPECT_TRUE(disabled(c));
}

TEST_F(HdlcTest, ModesChooseTheChannelTypeAndTheTransmitSlot) {
  HDLC pri, bri;
  int c1 = open(pri, HDLC::pri, 40);
  int c2 = open(bri, HDLC::bri, 301, 300);
  ASSERT_GE(c1, 0);
  ASSERT_GE(c2, 0);
  auto alloc = requests(board(), {HDLC::kAllocate});
  ASSERT_EQ(alloc.size(), 2u);
  EXPECT_EQ(alloc[0].words, (std::vector<uint32_t>{0, 512, 0, 1, 4}));
  EXPECT_EQ(alloc[1].words, (std::vector<uint32_t>{1, 512, 0, 1, 4}));
  auto sw = requests(board(), {HwMux::kConnect});
  ASSERT_EQ(sw.size(), 4u);
  EXPECT_EQ(sw[0].words, (std::vector<uint32_t>{40, uint32_t(c1)}));
  EXPECT_EQ(sw[1].words, (std::vector<uint32_t>{uint32_t(c1), 40}));
  EXPECT_EQ(sw[2].words, (std::vector<uint32_t>{300, uint32_t(c2)}));
  EXPECT_EQ(sw[3].words, (std::vector<uint32_t>{uint32_t(c2), 301}));
}

TEST_F(HdlcTest, FramesBothWaysAndTheirCounters) {
  HDLC h;
  int c = open(h);
  ASSERT_GE(c, 0);
  Packet a = packet("\x7E\x01\x02"), b = packet(std::string(300, 'x'));
  EXPECT_TRUE(h.hdlc_transmit(a));
  EXPECT_TRUE(h.hdlc_transmit(b));
  auto sent = board().mcc().captured(uint32_t(c));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], "\x7E\x01\x02");
  EXPECT_EQ(sent[1], std::string(300, 'x'));
  EXPECT_EQ(h.statistics().txSU, 2u);

  ASSERT_TRUE(board().mcc().inject(uint32_t(c), "hello"));
  ASSERT_TRUE(board().mcc().inject(uint32_t(c), std::string(512, 'y')));
  ASSERT_TRUE(runUntil([&] { return rx_.frames.size() == 2; }));
  EXPECT_EQ(rx_.frames[0], "hello");
  EXPECT_EQ(rx_.frames[1], std::string(512, 'y'));
  EXPECT_EQ(h.statistics().rxSU, 2u);
  EXPECT_EQ(h.statistics().txDiscard + h.statistics().txError + h.statistics().txOverflow, 0u);
}

TEST_F(HdlcTest, TracesOnlyWithTheSwitchOn) {
  HDLC h;
  Capture log(std::clog);
  int c = open(h);
  ASSERT_GE(c, 0);
  Packet a = packet("ab");
  h.hdlc_transmit(a);
  board().mcc().inject(uint32_t(c), "cd");
  ASSERT_TRUE(runUntil([&] { return rx_.frames.size() == 1; }));
  h.deactivate();
  EXPECT_EQ(log.text(), "");

  bool on = true;
  HDLC::traceSwitch(&on);
  c = open(h);
  ASSERT_GE(c, 0);
  h.hdlc_transmit(a);
  board().mcc().inject(uint32_t(c), "cd");
  ASSERT_TRUE(runUntil([&] { return rx_.frames.size() == 2; }));
  h.deactivate();
  std::string t = log.text();
  EXPECT_EQ(t.find("hdlc [1/5]: deactivated\nhdlc [1/5]: activated\nHDLC[1]: tx "), 0u) << t;
  EXPECT_NE(t.find("hdlc [1/5]: do_read\nHDLC[1]: rx "), std::string::npos) << t;
  EXPECT_EQ(t.substr(t.size() - 24), "hdlc [1/5]: deactivated\n") << t;
}

TEST_F(HdlcTest, EmptyAndDiscardedFrames) {
  HDLC h;
  Packet empty, none = packet("");
  EXPECT_TRUE(h.hdlc_transmit(empty));
  EXPECT_TRUE(h.hdlc_transmit(none));
  Packet a = packet("a");
  EXPECT_FALSE(h.hdlc_transmit(a));
  EXPECT_EQ(h.statistics().txDiscard, 1u);
  EXPECT_EQ(h.statistics().txSU, 0u);
  int c = open(h);
  ASSERT_GE(c, 0);
  EXPECT_EQ(h.statistics().txDiscard, 0u);  // activation starts the counters again
  EXPECT_TRUE(h.hdlc_transmit(empty));
  EXPECT_TRUE(board().mcc().captured(uint32_t(c)).empty());
  EXPECT_EQ(h.statistics().txSU, 0u);
}

TEST_F(HdlcTest, BackPressureThenReadinessExactlyOnce) {
  HDLC h;
  int c = open(h);
  ASSERT_GE(c, 0);
  ASSERT_TRUE(runUntil([&] { return h.is_ready(); }));
  ASSERT_EQ(rx_.ready, 1);
  ASSERT_TRUE(board().mcc().setDraining(uint32_t(c), false));

  Packet f = packet(std::string(512, 'f'));
  unsigned sent = 0;
  while (sent < 100000 && h.hdlc_transmit(f)) ++sent;
  ASSERT_LT(sent, 100000u);
  EXPECT_GT(sent, 0u);
  EXPECT_FALSE(h.is_ready());
  EXPECT_TRUE(h.is_open());
  EXPECT_EQ(h.statistics().txSU, sent);
  EXPECT_EQ(h.statistics().txError, 0u);
  // Still full: no readiness.
  for (int i = 0; i < 3; ++i) multiplexer.run_once();
  EXPECT_EQ(rx_.ready, 1);
  EXPECT_FALSE(h.is_ready());

  ASSERT_TRUE(board().mcc().setDraining(uint32_t(c), true));
  ASSERT_TRUE(runUntil([&] { return h.is_ready(); }));
  EXPECT_EQ(rx_.ready, 2);
  for (int i = 0; i < 3; ++i) multiplexer.run_once();
  EXPECT_EQ(rx_.ready, 2);
  EXPECT_TRUE(h.hdlc_transmit(f));
  EXPECT_TRUE(runUntil([&] { return board().mcc().captured(uint32_t(c)).size() == sent + 1; }));
}

TEST_F(HdlcTest, AReadErrorClosesTheChannelOnceAndActivationStartsAfresh) {
  HDLC h;
  int c = open(h);
  ASSERT_GE(c, 0);
  board().mcc().inject(uint32_t(c), "one");
  ASSERT_TRUE(runUntil([&] { return rx_.frames.size() == 1; }));
  Packet f = packet("x");
  h.hdlc_transmit(f);

  Capture err(std::cerr);
  ASSERT_TRUE(board().mcc().sever(uint32_t(c)));
  // The driver's end of file must end the channel, not spin the loop:
  // a stale EAGAIN from earlier calls changes nothing.
  errno = EAGAIN;
  ASSERT_TRUE(runUntil([&] { return !rx_.errors.empty(); }));
  EXPECT_EQ(rx_.errors, std::vector<int>{0});
  EXPECT_FALSE(h.is_open());
  EXPECT_FALSE(h.is_ready());
  EXPECT_EQ(err.text(), "hdlc [1/5]: read error: Input/output error\n");
  const size_t watched = multiplexer.working_list().count() + multiplexer.pending_list().count();
  for (int i = 0; i < 5; ++i) multiplexer.run_once();
  EXPECT_EQ(rx_.errors.size(), 1u);
  EXPECT_EQ(multiplexer.working_list().count() + multiplexer.pending_list().count(), watched);

  EXPECT_FALSE(h.hdlc_transmit(f));
  EXPECT_EQ(h.statistics().txDiscard, 1u);
  int c2 = open(h);
  ASSERT_GE(c2, 0);
  EXPECT_EQ(h.statistics().rxSU, 0u);
  EXPECT_EQ(h.statistics().txSU, 0u);
  EXPECT_EQ(h.statistics().txDiscard, 0u);
  board().mcc().inject(uint32_t(c2), "two");
  ASSERT_TRUE(runUntil([&] { return rx_.frames.size() == 2; }));
  EXPECT_EQ(rx_.frames[1], "two");
}

TEST_F(HdlcTest, AReceiverThatDeactivatesHearsNothingMoreOfThatReport) {
  HDLC h;
  int c = open(h);
  ASSERT_GE(c, 0);
  // Frames wait before the first pass, whose report also says writable.
  board().mcc().inject(uint32_t(c), "first");
  board().mcc().inject(uint32_t(c), "second");
  rx_.onReceive = [&] { h.deactivate(); };
  ASSERT_TRUE(runUntil([&] { return !rx_.frames.empty(); }));
  for (int i = 0; i < 3; ++i) multiplexer.run_once();
  EXPECT_EQ(rx_.frames, std::vector<std::string>{"first"});
  EXPECT_EQ(rx_.ready, 0);
  EXPECT_FALSE(h.is_open());
  EXPECT_FALSE(h.is_ready());
}

TEST_F(HdlcTest, AReceiverMayDestroyTheChannel) {
  auto* h = new HDLC;
  int c = open(*h);
  ASSERT_GE(c, 0);
  board().mcc().inject(uint32_t(c), "bye");
  rx_.onReceive = [&] {
    delete h;
    h = nullptr;
  };
  ASSERT_TRUE(runUntil([&] { return h == nullptr; }));
  for (int i = 0; i < 3; ++i) multiplexer.run_once();
  EXPECT_EQ(rx_.ready, 0);

  auto* g = new HDLC;
  c = open(*g);
  ASSERT_GE(c, 0);
  rx_.onError = [&] {
    delete g;
    g = nullptr;
  };
  Capture err(std::cerr);
  board().mcc().sever(uint32_t(c));
  ASSERT_TRUE(runUntil([&] { return g == nullptr; }));
  EXPECT_EQ(rx_.errors.size(), 1u);
}

TEST_F(HdlcTest, ActivationFailuresLeaveTheChannelClosed) {
  HDLC h;
  Capture err(std::cerr);
  board().failOpen("/dev/mcc/ctl", ENODEV, true);
  EXPECT_EQ(open(h), -1);
  board().failRequest(HDLC::kAllocate, ENOSPC, true);
  EXPECT_EQ(open(h), -1);
  board().failRequest(HDLC::kTimeslot, EINVAL, true);
  EXPECT_EQ(open(h), -1);
  h.params({2, 17, 37, 0xFFFFFFFF, 7});
  h.trunk(2);
  EXPECT_FALSE(h.activate());
  EXPECT_EQ(err.text(),
            "hdlc [1/5]: fail to open MCC device: No such device\n"
            "hdlc [1/5]: MCC_ALLOCATE fail: No space left on device\n"
            "hdlc [1/5]: MCC_TIMESLOT fail: Invalid argument\n"
            "hdlc [2/17]: unsupported mode: 7\n");
  EXPECT_FALSE(h.is_open());
  // Nothing stays open on the board, nothing was wired.
  EXPECT_TRUE(runUntil([&] { return board().mcc().allocations().empty(); }));
  EXPECT_TRUE(requests(board(), {HwMux::kConnect}).empty());
}

TEST(HdlcHeader, TrunkAndTimeslotInDecimal) {
  HDLC h;
  std::ostringstream out;
  h.PutHeader(out);
  EXPECT_EQ(out.str(), "hdlc [0/0]: ");
  EXPECT_EQ(h.params().tdm, 0xFFFFFFFFu);
  EXPECT_EQ(h.params().tdmTx, 0xFFFFFFFFu);
  h.params({3, 31, 100, 101, 1});
  h.trunk(12);
  out.str("");
  h.PutHeader(out);
  EXPECT_EQ(out.str(), "hdlc [12/31]: ");
  EXPECT_EQ(h.params().tdmTx, 101u);
}

}  // namespace
