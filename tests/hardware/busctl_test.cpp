// The bus test and the clock source services as the controller sees them,
// against the stand-in "/dev/hal".
#include <cstdlib>

#include "HwTestUtil.h"
#include "ServiceLink.h"
#include "board/Hal.h"
#include "board/StandInFixture.h"
#include "hardware/BusCtl.h"
#include "hardware/HwMux.h"
#include "hardware/HwTests.h"

using hwtest::requests;
using hwtest::ServiceLink;
using V = std::vector<std::string>;

namespace {

std::string clockCfg(int seq, const char* sel, const char* ext, int source) {
  return "{ seq " + std::to_string(seq) + ", pdu command : clockCfg : { clkSel0 " + sel + ", bextEn " + ext +
         ", source " + std::to_string(source) + " } }";
}

std::string testBpc(int seq, int bus, long seed, const char* mode, int start, int length) {
  return "{ seq " + std::to_string(seq) + ", pdu command : testBpc : { bus " + std::to_string(bus) + ", seed " +
         std::to_string(seed) + ", mode " + mode + " : NULL, timeslot-start " + std::to_string(start) +
         ", timeslot-length " + std::to_string(length) + " } }";
}

std::string answer(int seq, const char* what) {
  return "{ seq " + std::to_string(seq) + ", pdu response : " + what + " }";
}

// The bytes a board with the C library's generator expects after srandom.
std::vector<unsigned> pattern(unsigned seed, size_t n) {
  srandom(seed);
  std::vector<unsigned> out;
  for (size_t i = 0; i < n; ++i) out.push_back(unsigned(random() & 0xFF));
  return out;
}

std::string hex2(unsigned b) {
  char t[4];
  std::snprintf(t, sizeof t, "%02X", b);
  return t;
}

class ClockTest : public testboard::StandInTest {
 protected:
  std::vector<uint32_t> selected() {
    std::vector<uint32_t> out;
    for (auto& r : requests(board(), {BusCtl::kClockSelect})) out.push_back(r.words.at(0));
    return out;
  }
  Mux::TestClock clock{Mux::TestClock::Manual};
};

class BusTestTest : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    HwMux::instance();
    board().clearLog();
  }
  Mux::TestClock clock{Mux::TestClock::Manual};
};

}  // namespace

TEST_F(ClockTest, ClockCfgSelectsTheValueAndConnectionsTheFreeRunningClock) {
  ctl_test::Capture cap;
  BusCtl bus;
  ServiceLink link({&bus});
  ASSERT_TRUE(link.connect());
  EXPECT_EQ(selected(), std::vector<uint32_t>{4});
  EXPECT_NE(cap.err().find("clkctl: set clock source cmd: {\n  clkSel0 internal,\n  bextEn disabled,\n"
                           "  source -1\n}\nclkctl: clock source = freerun\n"),
            std::string::npos)
      << cap.err();

  board().clearLog();
  cap.clear();
  EXPECT_EQ(link.command(clockCfg(1, "external", "enabled", 2)), V{answer(1, "success : NULL")});
  EXPECT_EQ(board().hal().clock(), 2);
  // No source named: nothing is selected, and the answer is still success.
  EXPECT_EQ(link.command(clockCfg(2, "external", "enabled", -1)), V{answer(2, "success : NULL")});
  link.command(clockCfg(3, "internal", "enabled", 3));
  link.command(clockCfg(4, "external", "disabled", 3));
  // A value the driver takes but has no name for is logged as its number.
  link.command(clockCfg(5, "external", "enabled", 9));
  EXPECT_EQ(selected(), (std::vector<uint32_t>{2, 4, 5, 9}));
  V shown;
  std::string err = cap.err();
  for (size_t p = 0; (p = err.find("clock source = ", p)) != std::string::npos; p += 15)
    shown.push_back(err.substr(p + 15, err.find('\n', p) - p - 15));
  EXPECT_EQ(shown, (V{"f2", "freerun", "X3", "9"}));

  cap.clear();
  board().failRequest(BusCtl::kClockSelect, EIO, true, "/dev/hal");
  EXPECT_EQ(link.command(clockCfg(6, "external", "enabled", 1)), V{answer(6, "success : NULL")});
  EXPECT_NE(cap.err().find("clkctl: HW_CLOCK_SELECT fail.\n"), std::string::npos);

  board().clearLog();
  link.disconnect();
  EXPECT_EQ(selected(), std::vector<uint32_t>{4});
}

TEST_F(ClockTest, DisabledControlRefusesClockCfgAndNeverTouchesTheClock) {
  ctl_test::Capture cap;
  BusCtl bus;
  bus.DisableControl();
  EXPECT_EQ(cap.log(), "clock control disabled.\n");
  ServiceLink link({&bus});
  ASSERT_TRUE(link.connect());
  link.messages();
  EXPECT_EQ(link.command(clockCfg(1, "external", "enabled", 2)), V{answer(1, "error : unsupported")});
  link.disconnect();
  EXPECT_TRUE(selected().empty());
}

TEST_F(ClockTest, WithoutTheHalTheClockCommandIsStillAnsweredAndTriedAgainLater) {
  ctl_test::Capture cap;
  board().failOpen("/dev/hal", ENODEV, false);
  BusCtl bus;
  ServiceLink link({&bus});
  ASSERT_TRUE(link.connect());
  EXPECT_EQ(link.command(clockCfg(1, "external", "enabled", 2)), V{answer(1, "success : NULL")});
  EXPECT_NE(cap.err().find("clkctl: set clock source fail: code 1.\n"), std::string::npos);
  EXPECT_NE(cap.log().find("spi: clock master disabled\n"), std::string::npos);
  board().clearFailures();
  link.command(clockCfg(2, "external", "enabled", 2));
  EXPECT_EQ(selected(), std::vector<uint32_t>{2});
}

TEST_F(BusTestTest, WriteDrivesTheSeedsBytesAndReadsThemBack) {
  HwTests& t = *HwTests::instance();
  ServiceLink link({&t});
  ASSERT_TRUE(link.connect());
  EXPECT_EQ(link.command(testBpc(1, 0, 1, "write", 0, 3)), V{answer(1, "success : NULL")});
  const std::vector<unsigned> p = pattern(1, 3);
  auto w = requests(board(), {HwMux::kWrite});
  ASSERT_EQ(w.size(), 3u);
  auto r = requests(board(), {HwMux::kRead});
  ASSERT_EQ(r.size(), 3u);
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(w[i].words, (std::vector<uint32_t>{8192 + i, p[i]}));
    EXPECT_EQ(r[i].words.at(0), 8192 + i);
  }

  // Nothing to test: success at once, no request.
  board().clearLog();
  EXPECT_EQ(link.command(testBpc(2, 15, 1, "write", 127, 0)), V{answer(2, "success : NULL")});
  EXPECT_EQ(link.command(testBpc(3, 15, 1, "read", 127, 0)), V{answer(3, "success : NULL")});
  EXPECT_TRUE(board().logEntries({HwMux::kWrite, HwMux::kRead}).empty());

  // Disconnect releases the run, which may go past its bus into the next.
  const int run[] = {8192 + 128 * 2 + 126, 8192 + 128 * 2 + 127, 8192 + 128 * 3, 8192 + 128 * 3 + 1};
  for (int ch : run) HwMux::instance()->Write(ch, 0x11);
  EXPECT_EQ(link.command(testBpc(4, 2, 1, "disconnect", 126, 3)), V{answer(4, "success : NULL")});
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(board().hal().channel(uint32_t(run[i])).kind, Board::Hal::Channel::Disabled) << i;
    EXPECT_EQ(HwMux::instance()->sourceOf(run[i]), HwMux::kDisabled) << i;
  }
  EXPECT_EQ(board().hal().channel(uint32_t(run[3])).kind, Board::Hal::Channel::Driven);
}

TEST_F(BusTestTest, AMismatchStopsTheTestWithBusErrorAndTheTimeSlotInTheLog) {
  HwTests& t = *HwTests::instance();
  ServiceLink link({&t});
  ASSERT_TRUE(link.connect());
  ctl_test::Capture cap;

  // Read mode compares with the seed's sequence, whatever the switch holds.
  const std::vector<unsigned> p = pattern(7, 3);
  board().hal().setSeen(8320, int(p[0]));
  board().hal().setSeen(8321, int(p[1] ^ 0x5A));
  board().hal().setSeen(8322, int(p[2]));
  EXPECT_EQ(link.command(testBpc(1, 1, 7, "read", 0, 3)), V{answer(1, "error : busError")});
  EXPECT_EQ(cap.err(), "bus 1: test failed on channel 1 expected " + hex2(p[1]) + "  read " + hex2(p[1] ^ 0x5A) +
                           " \n");
  EXPECT_EQ(requests(board(), {HwMux::kRead}).size(), 2u);

  // A channel that does not carry what was written; the seed is taken as
  // an unsigned 32-bit number.
  cap.clear();
  const std::vector<unsigned> q = pattern(0xFFFFFFFFu, 2);
  board().hal().setSeen(8320, int(q[0] ^ 0xFF));
  EXPECT_EQ(link.command(testBpc(2, 1, -1, "write", 0, 2)), V{answer(2, "error : busError")});
  EXPECT_EQ(cap.err(), "bus 1: write failed on channel 0 write " + hex2(q[0]) + "  written " + hex2(q[0] ^ 0xFF) +
                           " \n");
  for (uint32_t ch : {8320u, 8321u, 8322u}) board().hal().setSeen(ch, -1);
  EXPECT_EQ(link.command(testBpc(3, 1, -1, "write", 0, 2)), V{answer(3, "success : NULL")});
}
