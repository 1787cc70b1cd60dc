// The voice-processing receiver service against the stand-in "/dev/dsp":
// request records worked out by hand, the tri-state enable family, the API
// version's effect on the VAD configuration, which events pass the state
// and id tests, and what a receiver switches off before it goes.
#include <cstring>
#include <string>
#include <vector>

#include "HwTestUtil.h"
#include "board/Dsp.h"
#include "board/StandInFixture.h"
#include "hardware/DSProcReceiver.h"
#include "protocol/TERM/TERM.h"

using Board::Dsp;
using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
using hwtest::Capture;
using hwtest::runUntil;

namespace {

// A record of host-order 32-bit words.
std::string words(std::initializer_list<uint32_t> w) {
  std::string out;
  for (uint32_t v : w) out.append(reinterpret_cast<const char*>(&v), 4);
  return out;
}

struct Receiver : DSProcReceiver {
  explicit Receiver(uint32_t ts) : ts(ts) {}
  void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override {
    got.push_back("vad " + std::to_string(e.rx) + " " + std::to_string(e.tx));
  }
  void dsproc_bss_event(::dsproc_bss_event const* e) override {
    got.push_back("bss " + std::to_string(e->score));
  }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override {
    got.push_back("sd " + std::to_string(e.rx));
  }
  void dsproc_tone_flt_event(::dsproc_tone_event const* e) override {
    got.push_back("tone " + std::to_string(e->freq) + " " + std::to_string(e->present));
  }
  void dsproc_flags_event(::dsproc_flags_event const* e) override {
    got.push_back("flags " + std::to_string(e->flags) + " " + std::to_string(e->mask));
  }
  uint32_t dsproc_timeslot() const override { return ts; }
  uint32_t ts;
  std::vector<std::string> got;
};

class DSProcTest : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    DSProcReceiverService::instance()->init();
    dsp().reset();
    board().clearLog();
  }
  void TearDown() override { DSProcReceiverService::traceSwitch(nullptr); }
  Dsp& dsp() { return static_cast<Dsp&>(*board().model("dsp")); }
  std::vector<std::string> records(uint32_t word) {
    std::vector<std::string> out;
    for (auto& e : board().logEntries({word})) out.push_back(e.in);
    return out;
  }
  void settle() { runUntil([] { return false; }, 20); }
  Mux::TestClock clock_{Mux::TestClock::Manual};
  hwtest::LoopAnchor anchor_;
};

TEST_F(DSProcTest, EnableFamilyShortCutsOnlyAKnownState) {
  Receiver r(3);
  Capture err(std::cerr);
  // VAD starts undetermined: even switching it off goes to the driver.
  EXPECT_TRUE(r.disableVAD());
  EXPECT_EQ(records(DSProcReceiverService::kDisable), std::vector<std::string>{words({3, 0, 1})});
  // BSS and NG start off: switching them off sends nothing.
  EXPECT_TRUE(r.disableBSS());
  EXPECT_TRUE(r.disableNG());
  EXPECT_EQ(records(DSProcReceiverService::kDisable).size(), 1u);

  ASSERT_TRUE(r.enableVAD(true));
  const uint32_t id = r.vadId();
  ASSERT_TRUE(r.enableVAD(true));
  EXPECT_EQ(r.vadId(), id);
  ASSERT_TRUE(r.enableNG(true));
  EXPECT_EQ(records(DSProcReceiverService::kEnable),
            (std::vector<std::string>{words({3, id, 0x1}), words({3, id + 1, 0x80})}));
  EXPECT_EQ(err.text(), "DSPROC_DISABLE VAD done: timeslot=3\nDSPROC_ENABLE VAD done: timeslot=3 id=" +
                            std::to_string(id) + "\nDSPROC_ENABLE NG done: timeslot=3 id=" +
                            std::to_string(id + 1) + "\n");
  EXPECT_EQ(dsp().slot(3).enabled, 0x81u);

  // Mute: both switches in one request, a repeat sends nothing, off is 0xC.
  board().clearLog();
  ASSERT_TRUE(r.enableMute(false, true));
  ASSERT_TRUE(r.enableMute(false, true));
  ASSERT_TRUE(r.enableMute(true, true));
  ASSERT_TRUE(r.disableMute());
  EXPECT_EQ(records(DSProcReceiverService::kEnable),
            (std::vector<std::string>{words({3, id + 2, 0x8}), words({3, id + 3, 0xC})}));
  EXPECT_EQ(records(DSProcReceiverService::kDisable), std::vector<std::string>{words({3, 0, 0xC})});

  // A failure changes nothing and still uses up an id.
  board().failRequest(DSProcReceiverService::kEnable, EBUSY, true);
  err.clear();
  EXPECT_FALSE(r.enableBSS(true));
  EXPECT_EQ(err.text(), "DSPROC_ENABLE BSS fail: timeslot=3 id=" + std::to_string(id + 4) +
                            " errno=\"Device or resource busy\"\n");
  EXPECT_TRUE(r.disableBSS());  // still known off: nothing sent
  EXPECT_EQ(records(DSProcReceiverService::kDisable).size(), 1u);
}

TEST_F(DSProcTest, ConfigurationRecordsFollowTheDriverVersion) {
  if (!testboard::littleEndian()) GTEST_SKIP() << "records worked out for a little-endian host";
  Receiver r(9);
  Capture err(std::cerr), log(std::clog);
  LGCP::VADParams v1(LGCP::VADParams::v1::id);
  // Version 2 wants the v2 parameters.
  EXPECT_FALSE(r.configureVAD(v1));
  EXPECT_EQ(err.text(), "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=9\n");
  TERM::VADParamsV2 p2;
  p2.set_voice_th_msec(300);  // 0x012C
  p2.set_silence_th_msec(700);  // 0x02BC
  p2.set_e_th_dB(-40);          // 0xD8
  EXPECT_TRUE(r.configureVAD(LGCP::VADParams(LGCP::VADParams::v2::id, p2)));
  // Any other version: 3, 127, 0 whatever was asked.
  dsp().setVersion(1);
  EXPECT_TRUE(r.configureVAD(LGCP::VADParams(LGCP::VADParams::v2::id, p2)));
  EXPECT_EQ(records(DSProcReceiverService::kConfigure),
            (std::vector<std::string>{
                std::string("\x09\0\0\0\x01\0\0\0\x2C\x01\xBC\x02\xD8\0\0\0\0\0\0\0", 20),
                words({9, 1, 3, 127, 0})}));

  board().clearLog();
  log.clear();
  r.configureDelays(10, 20, 30);
  r.configureRxGain(char(-6));   // 0xFA, printed as its byte
  r.configureToneFilter(2100, 1, 400, -20);  // 0x0834, 0x0190, 0xEC
  EXPECT_EQ(records(DSProcReceiverService::kConfigure),
            (std::vector<std::string>{
                words({9, 32, 10, 20, 30}),
                std::string("\x09\0\0\0\x40\0\0\0\xFA\0\0\0\0\0\0\0\0\0\0\0", 20),
                std::string("\x09\0\0\0\0\x01\0\0\x34\x08\x01\0\x90\x01\xEC\0\0\0\0\0", 20)}));
  EXPECT_EQ(log.text(),
            "DSPROC_CONFIGURE DELAYS ts=9 rx=10 tx=20 selcal=30\n"
            "DSPROC_CONFIGURE RX GAIN ts=9 gain_dB=250\n"
            "DSPROC_CONFIGURE TONE FILTER ts=9 freq=2100, en=1, dur_th_msec=400, det_lvl_dB=-20\n");

  // Before destruction: what was set goes back, then every tone filter off.
  ASSERT_TRUE(r.enableVAD(true));
  ASSERT_TRUE(r.enableBSS(true));
  ASSERT_TRUE(r.enableSD(true));  // SD is left as it is
  board().clearLog();
  r.CleanBeforeDestroy();
  std::vector<std::string> all;
  for (auto& e : board().logEntries()) all.push_back(e.in);
  EXPECT_EQ(all, (std::vector<std::string>{words({9, 0, 0x1}), words({9, 0, 0x10}),
                                           words({9, 32, 0, 0, 0}), words({9, 64, 0, 0, 0}),
                                           words({9, 0, 0x100})}));
  Receiver fresh(10);
  board().clearLog();
  fresh.CleanBeforeDestroy();
  EXPECT_EQ(records(DSProcReceiverService::kDisable), std::vector<std::string>{words({10, 0, 0x100})});
  EXPECT_EQ(board().logEntries().size(), 1u);
}

TEST_F(DSProcTest, EventsPassTheStateAndIdTestsOfTheirFeature) {
  Receiver r(20);
  bool traces = true;
  DSProcReceiverService::traceSwitch(&traces);
  Capture log(std::clog), err(std::cerr);
  // Undetermined VAD lets id 0 through; direction mask 2 leaves rx out.
  dsp().inject(20, Dsp::kVAD, 2, 7, 1);
  dsp().inject(20, Dsp::kSD, 0xFFFFFFFF);
  // Tone and flags need nothing enabled.
  dsp().inject(20, Dsp::kTone, 1000, 1);
  dsp().inject(20, Dsp::kFlags, 0x20000000, 0x60000000);
  // BSS is off: dropped.
  dsp().injectScore(20, 0.5f);
  ASSERT_TRUE(runUntil([&] { return r.got.size() == 4; }));
  settle();
  EXPECT_EQ(r.got, (std::vector<std::string>{"vad -1 1", "sd -1", "tone 1000 1",
                                             "flags 536870912 1610612736"}));
  EXPECT_EQ(log.text(),
            "dsproc event:  timeslot=20 id=0 type=1\n"
            "dsproc vad event:  dir_mask=2 vad_rx=7 vad_tx=1\n"
            "dsproc event:  timeslot=20 id=0 type=2\n"
            "dsproc sd event:  sd_rx=-1\n"
            "dsproc event:  timeslot=20 id=0 type=256\n"
            "dsproc event:  timeslot=20 id=0 type=512\n"
            "dsproc flags event:  flags=20000000, mask=60000000\n"
            "dsproc event:  timeslot=20 id=0 type=16\n"
            "dsproc bss event:  score=0.5\n"
            "ignore spurious dsproc bss event (dsproc disabled):  timeslot=20 id=0 type=16\n");

  // On: the current id passes, an old one does not; BSS takes any id.
  ASSERT_TRUE(r.enableVAD(true));
  ASSERT_TRUE(r.enableBSS(true));
  r.got.clear();
  log.clear();
  dsp().inject(20, Dsp::kVAD, 3, 0, 1);
  dsp().inject(20, Dsp::kVAD, 3, 1, 1, r.vadId() - 1);
  dsp().injectScore(20, 0.25f, 12345);
  ASSERT_TRUE(runUntil([&] { return r.got.size() == 2; }));
  settle();
  EXPECT_EQ(r.got, (std::vector<std::string>{"vad 0 1", "bss 0.250000"}));
  EXPECT_NE(log.text().find("ignore spurious dsproc vad event:  timeslot=20 id=" +
                            std::to_string(r.vadId() - 1) + " type=1 rid=" +
                            std::to_string(r.vadId()) + "\n"),
            std::string::npos);

  // Off: dropped; an unknown time-slot is said only while tracing; a short
  // record is dropped whatever the switch.
  ASSERT_TRUE(r.disableVAD());
  r.got.clear();
  err.clear();
  dsp().inject(20, Dsp::kVAD, 1, 1, 0);
  dsp().inject(77, Dsp::kSD, 1);
  settle();
  traces = false;
  dsp().inject(77, Dsp::kSD, 1);
  dsp().injectRaw(words({20, 0, 0x100, 5}));
  settle();
  EXPECT_TRUE(r.got.empty());
  EXPECT_EQ(err.text(), "receive dsproc event from unknown timeslot 77\n"
                        "dsproc: short event record of 16 bytes, dropped\n");
}

TEST_F(DSProcTest, AReceiverGoingLeavesWhatAnotherOneOfItsTimeSlotStillHasOn) {
  Receiver a(40);
  auto* b = new Receiver(40);
  std::vector<std::string> all;
  auto requests = [&] {
    all.clear();
    for (auto& e : board().logEntries()) all.push_back(e.in);
    board().clearLog();
    return all;
  };
  // Both have BSS and a tone filter on, b alone NG; each setting of the
  // delays or the gain is the time-slot's until the other sets its own.
  ASSERT_TRUE(a.enableBSS(true));
  ASSERT_TRUE(b->enableBSS(true));
  ASSERT_TRUE(b->enableNG(true));
  a.configureToneFilter(1000, 1, 50, -20);
  b->configureToneFilter(2100, 1, 100, -30);
  a.configureDelays(1, 2, 3);
  b->configureDelays(4, 5, 6);
  b->configureRxGain(5);
  a.configureRxGain(7);
  board().clearLog();
  b->CleanBeforeDestroy();
  delete b;
  EXPECT_EQ(requests(), (std::vector<std::string>{words({40, 0, 0x80}), words({40, 32, 0, 0, 0})}));
  EXPECT_EQ(dsp().slot(40).enabled, 0x10u);
  a.CleanBeforeDestroy();
  EXPECT_EQ(requests(), (std::vector<std::string>{words({40, 0, 0x10}), words({40, 64, 0, 0, 0}),
                                                  words({40, 0, 0x100})}));

  // One receiver switching a feature off switches it off for the other:
  // neither has it left to switch off, and the other's next request for it
  // reaches the driver.
  Receiver c(41), d(41);
  ASSERT_TRUE(c.enableVAD(true));
  ASSERT_TRUE(d.enableVAD(true));
  ASSERT_TRUE(c.enableMute(true, false));
  ASSERT_TRUE(d.disableVAD());
  ASSERT_TRUE(d.disableMute());
  EXPECT_EQ(c.vadState(), 0);
  board().clearLog();
  c.CleanBeforeDestroy();
  EXPECT_EQ(requests(), std::vector<std::string>{words({41, 0, 0x100})});
  ASSERT_TRUE(c.enableVAD(true));
  ASSERT_TRUE(c.enableMute(true, false));
  EXPECT_EQ(records(DSProcReceiverService::kEnable),
            (std::vector<std::string>{words({41, c.vadId(), 0x1}), words({41, c.vadId() + 1, 0x4})}));
}

TEST_F(DSProcTest, EachRecordReachesTheReceiversOfItsTimeSlotThatAskedForIt) {
  Receiver a(50), b(50);
  auto heard = [&](size_t n) {
    EXPECT_TRUE(runUntil([&] { return b.got.size() >= n; }));
    settle();
  };
  // Nobody asked for tone filters or flags: both hear them.
  dsp().inject(50, Dsp::kTone, 2100, 1);
  dsp().inject(50, Dsp::kFlags, 0x20000000, 0x20000000);
  heard(2);
  const std::vector<std::string> unclaimed{"tone 2100 1", "flags 536870912 536870912"};
  EXPECT_EQ(a.got, unclaimed);
  EXPECT_EQ(b.got, unclaimed);

  // b asks for everything that reports, a for nothing: a hears nothing.
  ASSERT_TRUE(b.enableVAD(true));
  ASSERT_TRUE(b.enableSD(true));
  ASSERT_TRUE(b.enableBSS(true));
  b.configureToneFilter(2100, 1, 100, -30);
  a.got.clear();
  b.got.clear();
  dsp().inject(50, Dsp::kVAD, 1, 1, 0);
  dsp().inject(50, Dsp::kSD, 1);
  dsp().injectScore(50, 0.5f);
  dsp().inject(50, Dsp::kTone, 2100, 1);
  dsp().inject(50, Dsp::kFlags, 0x20000000, 0x20000000);
  heard(5);
  EXPECT_EQ(b.got, (std::vector<std::string>{"vad 1 -1", "sd 1", "bss 0.500000", "tone 2100 1",
                                             "flags 536870912 536870912"}));
  EXPECT_TRUE(a.got.empty());

  // a's VAD is b's too, under a's id: both hear it and the flags, and b's
  // old id is gone.
  const uint32_t old = b.vadId();
  ASSERT_TRUE(a.enableVAD(true));
  EXPECT_EQ(b.vadId(), a.vadId());
  b.got.clear();
  dsp().inject(50, Dsp::kVAD, 3, 0, 1, old);
  dsp().inject(50, Dsp::kVAD, 3, 0, 1);
  dsp().inject(50, Dsp::kFlags, 0x20000000, 0x20000000);
  heard(2);
  const std::vector<std::string> both{"vad 0 1", "flags 536870912 536870912"};
  EXPECT_EQ(a.got, both);
  EXPECT_EQ(b.got, both);

  // Both hear a record: the first deletes the second before its turn.
  struct Deleter : Receiver {
    using Receiver::Receiver;
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override {
      Receiver::dsproc_vad_event(e);
      delete victim;
      victim = nullptr;
    }
    Receiver* victim = nullptr;
  };
  Deleter d(51);
  d.victim = new Receiver(51);
  ASSERT_TRUE(d.enableVAD(true));
  ASSERT_TRUE(d.victim->enableVAD(true));
  dsp().inject(51, Dsp::kVAD, 1, 0, 0);
  ASSERT_TRUE(runUntil([&] { return !d.got.empty(); }));
  settle();
  EXPECT_EQ(d.got, std::vector<std::string>{"vad 0 -1"});
  EXPECT_EQ(d.victim, nullptr);
}

}  // namespace
