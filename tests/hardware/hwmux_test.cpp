// The TDM switch front end against the stand-in "/dev/hal": the start-up
// sweep, the table of bus channels, the requests and their records, the
// refresh, failures and the device opened again on later use.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "HwTestUtil.h"
#include "board/Hal.h"
#include "board/StandInFixture.h"
#include "hardware/HwMux.h"

using Board::Hal;
using hwtest::Capture;
using hwtest::requests;
using testboard::StandInTest;

namespace {

class HwMuxTest : public StandInTest {
 protected:
  // A switch of the test's own, opened on the stand-in; remembers its
  // session so that other switches of the process do not disturb counts.
  std::unique_ptr<HwMux> make() {
    board().clearLog();
    auto mux = std::make_unique<HwMux>();
    auto r = requests(board(), {HwMux::kDisable});
    session_ = r.empty() ? 0 : r.front().session;
    board().clearLog();
    return mux;
  }
  std::vector<hwtest::Req> issued(uint32_t word) { return requests(board(), {word}, session_); }
  // Channels disabled by this switch since the log was cleared.
  std::vector<uint32_t> disabled() {
    std::vector<uint32_t> out;
    for (auto& r : issued(HwMux::kDisable)) out.push_back(r.words.at(0));
    return out;
  }
  unsigned session_ = 0;
};

TEST_F(HwMuxTest, FirstUseDisablesEveryBusChannelInOrder) {
  Capture log(std::clog);
  HwMux mux;
  EXPECT_EQ(log.text(), "hwMux: init\nhwMux: device opened\n");
  EXPECT_GE(mux.descriptor(), 0);

  auto r = requests(board(), {});
  ASSERT_EQ(r.size(), 2048u);
  for (size_t i = 0; i < r.size(); ++i) {
    ASSERT_EQ(r[i].word, HwMux::kDisable) << i;
    ASSERT_EQ(r[i].words, std::vector<uint32_t>{uint32_t(8192 + i)}) << i;
  }
  EXPECT_EQ(board().hal().channel(8192).kind, Hal::Channel::Disabled);
  EXPECT_EQ(board().hal().channel(10239).kind, Hal::Channel::Disabled);
  EXPECT_EQ(board().hal().channel(10240).kind, Hal::Channel::Untouched);
  EXPECT_EQ(board().hal().channel(8191).kind, Hal::Channel::Untouched);
  for (int ch = 8192; ch < 10240; ++ch) ASSERT_EQ(mux.sourceOf(ch), HwMux::kDisabled);

  // The singleton is one object.
  EXPECT_EQ(HwMux::instance(), HwMux::instance());
}

TEST_F(HwMuxTest, ConnectRecordsTheSourceOfABusDestinationOnly) {
  auto mux = make();
  EXPECT_TRUE(mux->Connect(5, 8200));
  EXPECT_EQ(mux->sourceOf(8200), 5);
  auto c = issued(HwMux::kConnect);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].words, (std::vector<uint32_t>{8200, 5}));
  // The record's bytes by hand: {dst 8200 = 0x2008, src 5}.
  auto e = board().logEntries({HwMux::kConnect});
  EXPECT_EQ(e.back().in, std::string("\x00\x00\x20\x08\x00\x00\x00\x05", 8));
  EXPECT_EQ(board().hal().channel(8200).kind, Hal::Channel::Listening);
  EXPECT_EQ(board().hal().channel(8200).source, 5u);

  // A trunk destination has no entry; the bus source's entry is untouched.
  EXPECT_TRUE(mux->Connect(8200, 37));
  c = issued(HwMux::kConnect);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[1].words, (std::vector<uint32_t>{37, 8200}));
  EXPECT_EQ(mux->sourceOf(8200), 5);
  EXPECT_EQ(mux->sourceOf(37), HwMux::kDisabled);

  // A controller channel above the bus range is passed on unchanged.
  EXPECT_TRUE(mux->Connect(16384, 10239));
  EXPECT_TRUE(mux->Connect(10239, 16385));
  c = issued(HwMux::kConnect);
  EXPECT_EQ(c[2].words, (std::vector<uint32_t>{10239, 16384}));
  EXPECT_EQ(c[3].words, (std::vector<uint32_t>{16385, 10239}));
  EXPECT_EQ(mux->sourceOf(10239), 16384);
  // Sources whose low 16 bits look like the markers stay sources.
  EXPECT_TRUE(mux->Connect(0x1FFFF, 8201));
  EXPECT_EQ(mux->sourceOf(8201), 0x1FFFF);
}

TEST_F(HwMuxTest, ListensFollowsTheLastRequestForEveryChannel) {
  auto mux = make();
  ASSERT_TRUE(mux->Connect(16384, 37));
  ASSERT_TRUE(mux->Connect(37, 16384));
  ASSERT_TRUE(mux->Connect(16384, 8300));
  EXPECT_TRUE(mux->Listens(37, 16384));
  EXPECT_TRUE(mux->Listens(16384, 37));
  EXPECT_TRUE(mux->Listens(8300, 16384));
  EXPECT_FALSE(mux->Listens(16384, 8300));
  EXPECT_FALSE(mux->Listens(37, -1));

  // A later source, a driven byte or a disable ends the claim.
  ASSERT_TRUE(mux->Connect(8200, 37));
  EXPECT_FALSE(mux->Listens(37, 16384));
  EXPECT_TRUE(mux->Listens(37, 8200));
  mux->Disconnect(37);
  mux->Write(8300, 0x55);
  mux->Disable(16384);
  EXPECT_FALSE(mux->Listens(37, 8200));
  EXPECT_FALSE(mux->Listens(8300, 16384));
  EXPECT_FALSE(mux->Listens(16384, 37));
}

TEST_F(HwMuxTest, DriveReadAndDisableWithTheirRecords) {
  auto mux = make();
  EXPECT_TRUE(mux->Write(8400, 0x5A));
  EXPECT_EQ(mux->sourceOf(8400), HwMux::kDriven);
  EXPECT_TRUE(mux->Disconnect(8401));
  EXPECT_EQ(mux->sourceOf(8401), HwMux::kDriven);
  auto w = issued(HwMux::kWrite);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].words, (std::vector<uint32_t>{8400, 0x5A}));
  EXPECT_EQ(w[1].words, (std::vector<uint32_t>{8401, 0xD5}));

  EXPECT_EQ(mux->Read(8400), 0x5A);
  EXPECT_EQ(mux->Read(8401), 0xD5);
  EXPECT_EQ(mux->Read(8402), 0xFF);  // disabled: nothing on it
  board().hal().setSeen(8402, 0);
  EXPECT_EQ(mux->Read(8402), 0);
  auto r = issued(HwMux::kRead);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].words, (std::vector<uint32_t>{8400, 255}));
  EXPECT_EQ(mux->sourceOf(8402), HwMux::kDisabled);  // a read changes nothing

  EXPECT_TRUE(mux->Disable(8400));
  EXPECT_EQ(mux->sourceOf(8400), HwMux::kDisabled);
  EXPECT_EQ(disabled(), std::vector<uint32_t>{8400});

  // Channels outside the bus range reach the driver and leave the table.
  EXPECT_TRUE(mux->Write(20000, 1));
  EXPECT_TRUE(mux->Disable(100));
  EXPECT_EQ(issued(HwMux::kWrite).back().words, (std::vector<uint32_t>{20000, 1}));
  EXPECT_EQ(disabled().back(), 100u);
}

TEST_F(HwMuxTest, NegativeChannelsAreRefusedAndOnlyConnectSaysSo) {
  auto mux = make();
  Capture log(std::clog);
  EXPECT_FALSE(mux->Connect(-1, 8200));
  EXPECT_FALSE(mux->Connect(5, -3));
  EXPECT_EQ(log.text(), "hwMux: ERROR not opened\nhwMux: ERROR not opened\n");
  log.clear();
  EXPECT_FALSE(mux->Disable(-1));
  EXPECT_FALSE(mux->Disconnect(-1));
  EXPECT_FALSE(mux->Write(-1, 1));
  EXPECT_EQ(mux->Read(-1), 255);
  EXPECT_EQ(log.text(), "");
  EXPECT_TRUE(requests(board(), {}).empty());
  EXPECT_EQ(mux->sourceOf(8200), HwMux::kDisabled);
}

TEST_F(HwMuxTest, DriverRefusalsAreLoggedAndTheTableKeepsTheRequest) {
  auto mux = make();
  Capture log(std::clog);
  board().failRequest(HwMux::kConnect, EIO, true);
  EXPECT_FALSE(mux->Connect(7, 8300));
  EXPECT_EQ(mux->sourceOf(8300), 7);
  board().failRequest(HwMux::kWrite, EINVAL, true);
  EXPECT_FALSE(mux->Disconnect(8301));
  board().failRequest(HwMux::kWrite, EINVAL, true);
  EXPECT_FALSE(mux->Write(8302, 0xAB));
  board().failRequest(HwMux::kDisable, ENODEV, true);
  EXPECT_FALSE(mux->Disable(8303));
  board().failRequest(HwMux::kRead, EIO, true);
  EXPECT_EQ(mux->Read(8302), 255);
  EXPECT_EQ(log.text(),
            "hwMux: connect 7 -> 8300 failed: Input/output error\n"
            "hwMux: disconnect failed 8301 : Invalid argument\n"
            "hwMux: write failed 8302 <- 0xab : Invalid argument\n"
            "hwMux: disable failed 8303 : No such device\n"
            "hwMux: read failed 8302 -> 0xff : Input/output error\n");
  EXPECT_EQ(mux->sourceOf(8301), HwMux::kDriven);
  EXPECT_EQ(mux->sourceOf(8302), HwMux::kDriven);
  EXPECT_EQ(mux->sourceOf(8303), HwMux::kDisabled);

  // The channel meant to listen is never disabled by the refresh.
  board().clearLog();
  for (int run = 0; run < 32; ++run) mux->OnDPC();
  for (uint32_t ch : disabled()) ASSERT_NE(ch, 8300u);
}

TEST_F(HwMuxTest, TheRefreshSweepsTheTable128EntriesPerRun) {
  auto mux = make();
  mux->Disable(8300);
  mux->Disconnect(8301);
  mux->Connect(1, 8302);
  board().clearLog();

  mux->OnDPC();
  auto d = disabled();
  // Entries 1 to 128; the driven 8301 and the listening 8302 among them.
  ASSERT_EQ(d.size(), 126u);
  EXPECT_EQ(d.front(), 8193u);
  EXPECT_EQ(d.back(), 8320u);
  for (int run = 1; run < 16; ++run) mux->OnDPC();
  d = disabled();
  // One sweep: every disabled channel once, ending with entry 0; the
  // driven and the listening channel are left alone.
  ASSERT_EQ(d.size(), 2046u);
  EXPECT_EQ(d.back(), 8192u);
  EXPECT_EQ(std::count(d.begin(), d.end(), 8300u), 1);
  EXPECT_EQ(std::count(d.begin(), d.end(), 8301u), 0);
  EXPECT_EQ(std::count(d.begin(), d.end(), 8302u), 0);

  // Driven from now on: no longer refreshed.
  mux->Disconnect(8300);
  board().clearLog();
  for (int run = 0; run < 16; ++run) mux->OnDPC();
  d = disabled();
  EXPECT_EQ(d.size(), 2045u);
  EXPECT_EQ(std::count(d.begin(), d.end(), 8300u), 0);
  // Disabled again: back in the sweep, once per 16 runs.
  mux->Disable(8300);
  board().clearLog();
  for (int run = 0; run < 48; ++run) mux->OnDPC();
  d = disabled();
  EXPECT_EQ(std::count(d.begin(), d.end(), 8300u), 3);
}

TEST_F(HwMuxTest, TheRefreshRunsTwicePerLoopPass) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  hwtest::LoopAnchor anchor;
  auto mux = make();
  multiplexer.run_once();
  auto d = disabled();
  ASSERT_EQ(d.size(), 256u);
  EXPECT_EQ(d.front(), 8193u);
  EXPECT_EQ(d.back(), 8192u + 256);
  for (int pass = 1; pass < 8; ++pass) multiplexer.run_once();
  EXPECT_EQ(disabled().size(), 2048u);

  // Gone: its deferred call leaves the loop.
  mux.reset();
  board().clearLog();
  multiplexer.run_once();
  EXPECT_TRUE(disabled().empty());
}

TEST_F(HwMuxTest, DescriptorZeroIsAnOpenDevice) {
  int saved = ::dup(0);
  ::close(0);
  auto mux = make();
  EXPECT_EQ(mux->descriptor(), 0);
  // Later calls use it: no second open, no second sweep.
  EXPECT_TRUE(mux->Connect(5, 8200));
  EXPECT_TRUE(mux->Disable(8201));
  EXPECT_EQ(disabled(), std::vector<uint32_t>{8201});
  size_t hal = 0;
  for (auto& s : board().sessions()) hal += s.second == "/dev/hal";
  mux->OnDPC();
  EXPECT_TRUE(mux->IsOpened());
  size_t after = 0;
  for (auto& s : board().sessions()) after += s.second == "/dev/hal";
  EXPECT_EQ(after, hal);
  mux.reset();
  if (saved >= 0) {
    ::dup2(saved, 0);
    ::close(saved);
  }
}

TEST_F(HwMuxTest, AFailedOpenIsRetriedByTheNextCall) {
  board().failOpen("/dev/hal", ENODEV, true);
  Capture log(std::clog);
  HwMux mux;
  EXPECT_EQ(log.text(), "hwMux: init\nhwMux: can't open device: No such device\n");
  EXPECT_EQ(mux.descriptor(), -1);
  EXPECT_TRUE(requests(board(), {}).empty());
  mux.OnDPC();  // nothing to refresh without a device
  EXPECT_TRUE(requests(board(), {}).empty());

  log.clear();
  EXPECT_TRUE(mux.Disable(8200));
  EXPECT_EQ(log.text(), "hwMux: device opened\n");
  auto r = requests(board(), {});
  ASSERT_EQ(r.size(), 2049u);  // the sweep, then the request itself
  EXPECT_EQ(r[2047].words, std::vector<uint32_t>{10239});
  EXPECT_EQ(r[2048].words, std::vector<uint32_t>{8200});
}

TEST(HwMuxWithoutBoard, EveryCallFailsAndTriesToOpenAgain) {
  testboard::useStandIn();  // a root of its own, with no "/dev" under it
  unsetenv("QUORVAD_BOARD");
  Device::reload();
  {
    Capture log(std::clog);
    HwMux mux;
    EXPECT_FALSE(mux.Connect(5, 8200));
    EXPECT_FALSE(mux.Disable(8200));
    EXPECT_FALSE(mux.Disconnect(8200));
    EXPECT_FALSE(mux.Write(8200, 1));
    EXPECT_EQ(mux.Read(8200), 255);
    mux.OnDPC();
    const std::string fail = "hwMux: can't open device: No such file or directory\n";
    EXPECT_EQ(log.text(), "hwMux: init\n" + fail + fail + "hwMux: ERROR not opened\n" + fail +
                              fail + fail + fail);
    // Nothing reached the table either.
    EXPECT_EQ(mux.sourceOf(8200), HwMux::kDisabled);
  }
  setenv("QUORVAD_BOARD", "standin", 1);
  Device::reload();
}

}  // namespace
