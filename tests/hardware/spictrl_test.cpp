// The SPI framer service against the stand-in "/dev/hal" registers: the
// set-up at start, the clock master, the line status cycle on the test
// clock, and the HAL without SPI.
#include "HwTestUtil.h"
#include "ServiceLink.h"
#include "board/Hal.h"
#include "board/StandInFixture.h"
#include "hardware/SpiCtrl.h"

#include <cstdio>

using Board::Hal;
using V = std::vector<std::string>;

namespace {

class SpiTest : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    board().hal().setSpiPresent(true);
  }
  void TearDown() override { board().hal().setSpiPresent(true); }
  // Register writes since the log was cleared, as "ch:reg=value".
  V writes() {
    V out;
    for (const auto& e : board().logEntries({spiCtrl::kWrite})) {
      char t[32];
      std::snprintf(t, sizeof t, "%u:%02X=%02X", unsigned(uint8_t(e.in[0])), unsigned(uint8_t(e.in[1])),
                    unsigned(uint8_t(e.in[2])));
      out.push_back(t);
    }
    return out;
  }
  Mux::TestClock clock{Mux::TestClock::Manual};
};

std::string bri(int trunk, const char* state, int slips = 0) {
  return "{ pdu signal : trunkStatus : { trunk " + std::to_string(trunk) + ", state " + state + ", slips " +
         std::to_string(slips) + ", lossBF 0, lossCarrier 0, lossAIS 0, lossRAI 0, name \"\", clockMaster FALSE, "
         "type bri } }";
}

}  // namespace

TEST_F(SpiTest, StartUpSetsUpSevenFramersAndTheClockMasterIsOneOrNone) {
  ctl_test::Capture cap;
  spiCtrl spi;
  V want, logWant = {"spi: try init"};
  for (int ch = 0; ch < 7; ++ch) {
    for (const char* w : {"32=80", "30=08", "57=30", "34=60", "35=00", "36=00", "37=00", "32=00"})
      want.push_back(std::to_string(ch) + ":" + w);
    logWant.push_back("spi: init channel " + std::to_string(ch));
    logWant.push_back("spi: enable channel " + std::to_string(ch));
  }
  EXPECT_EQ(writes(), want);
  std::string lines;
  for (const std::string& l : logWant) lines += l + "\n";
  EXPECT_EQ(cap.log(), lines);
  EXPECT_EQ(board().hal().reg(7, 0x30), 0);  // the eighth is left alone

  board().clearLog();
  cap.clear();
  spi.clock(3);
  EXPECT_EQ(writes(), (V{"0:57=30", "1:57=30", "2:57=30", "3:57=30", "4:57=30", "5:57=30", "6:57=30", "7:57=30",
                         "3:57=38"}));
  EXPECT_EQ(board().hal().reg(3, 0x57), 0x38);
  board().clearLog();
  spi.clock(8);
  spi.clock(-2);
  EXPECT_TRUE(writes().empty());
  spi.clock(-1);
  EXPECT_EQ(writes().size(), 8u);
  EXPECT_EQ(board().hal().reg(3, 0x57), 0x30);
  EXPECT_EQ(cap.log(),
            "spi: set clock master on channel 3\n"
            "spi: bad channel for set clock master 8\n"
            "spi: bad channel for set clock master -2\n"
            "spi: clock master disabled\n");
}

TEST_F(SpiTest, LineStatusFollowsRegister33EverySecondWhileConnected) {
  const uint8_t regs[8] = {0xC5, 0x85, 0x45, 0x01, 0x04, 0xE5, 0xE5, 0x00};
  for (unsigned ch = 0; ch < 8; ++ch) board().hal().setReg(ch, 0x33, regs[ch]);
  spiCtrl spi;
  hwtest::ServiceLink link({&spi});
  ASSERT_TRUE(link.connect());
  EXPECT_TRUE(link.messages().empty());
  clock.advance(1000);
  // Framers 5 and 6 both flag a slip: each reports it once.
  EXPECT_EQ(link.messages(), (V{bri(0, "normal"), bri(1, "rai"), bri(2, "ais"), bri(3, "lossBF"),
                                bri(4, "lossCarrier"), bri(5, "normal", 1), bri(6, "normal", 1),
                                bri(7, "lossCarrier")}));
  // A lasting slip is not reported again; a new one after a clear is.
  board().hal().setReg(6, 0x33, 0xC5);
  clock.advance(1000);
  V got = link.messages();
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[5], bri(5, "normal"));
  EXPECT_EQ(got[6], bri(6, "normal"));
  board().hal().setReg(6, 0x33, 0xE5);
  clock.advance(1000);
  got = link.messages();
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[5], bri(5, "normal"));
  EXPECT_EQ(got[6], bri(6, "normal", 1));

  link.disconnect();
  EXPECT_FALSE(spi.reporting());
}

TEST_F(SpiTest, AHalWithoutSpiMakesTheServiceSilentForGood) {
  board().hal().setSpiPresent(false);
  ctl_test::Capture cap;
  {
    spiCtrl spi;
    // The operation under way still finishes its line; nothing after it.
    EXPECT_EQ(cap.log(), "spi: try init\nspi: hal without spi\nspi: init channel 0\n");
    EXPECT_EQ(board().logEntries({spiCtrl::kWrite}).size(), 1u);
    board().hal().setSpiPresent(true);
    spi.clock(3);
    spi.clock(9);
    hwtest::ServiceLink link({&spi});
    ASSERT_TRUE(link.connect());
    EXPECT_FALSE(spi.reporting());
  }
  EXPECT_EQ(board().logEntries({spiCtrl::kWrite}).size(), 1u);

  // SPI gone while reporting: the cycle ends at once and is not armed again.
  spiCtrl spi;
  hwtest::ServiceLink link({&spi});
  ASSERT_TRUE(link.connect());
  board().hal().setSpiPresent(false);
  cap.clear();
  clock.advance(1000);
  EXPECT_TRUE(link.messages().empty());
  EXPECT_EQ(cap.log(), "spi: hal without spi\n");
  EXPECT_FALSE(spi.reporting());
}
