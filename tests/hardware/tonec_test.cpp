// The tone receiver service against the stand-in "/dev/dtmf": request
// records worked out by hand, the detector gate and ids against injected
// events, the DTMF playout and the wait tone timed from the stand-in's
// generator history on the test clock, and the event reader's failures.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "HwTestUtil.h"
#include "board/Dtmf.h"
#include "board/StandInFixture.h"
#include "hardware/TonecReceiver.h"

using Board::Dtmf;
using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
using hwtest::Capture;
using hwtest::runUntil;

namespace {

struct Receiver : TonecReceiver {
  explicit Receiver(uint32_t ts) : ts(ts) {}
  void tonec_event(Params const& p) override { events.push_back({p.code, p.timestamp}); }
  uint32_t tonec_timeslot() const override { return ts; }
  void tone_gen_complete() override { ++completed; }
  uint32_t ts;
  std::vector<std::pair<uint32_t, uint32_t>> events;  // {code, timestamp}
  int completed = 0;
};

// A tone setting without its time, for comparisons.
struct Gen {
  uint16_t f1, f2, a1, a2;
  bool operator==(const Gen& o) const {
    return f1 == o.f1 && f2 == o.f2 && a1 == o.a1 && a2 == o.a2;
  }
};
const Gen kOff{0, 0, 0, 0};
const Gen kSilence{1000, 1000, 0, 0};
const Gen kWait{425, 0, 2048, 2048};

class TonecTest : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    TonecReceiverService::instance()->init();
    dtmf().reset();
    board().clearLog();
  }
  Dtmf& dtmf() { return static_cast<Dtmf&>(*board().model("dtmf")); }
  // The log's records of a word, as bytes.
  std::vector<std::string> records(uint32_t word) {
    std::vector<std::string> out;
    for (auto& e : board().logEntries({word})) out.push_back(e.in);
    return out;
  }
  std::vector<long> values(uint32_t word) {
    std::vector<long> out;
    for (auto& e : board().logEntries({word})) out.push_back(e.value);
    return out;
  }
  // Generator settings of ts as {ms since the first, setting}.
  std::vector<std::pair<uint64_t, Gen>> tones(uint32_t ts) {
    std::vector<std::pair<uint64_t, Gen>> out;
    auto t = dtmf().tones(ts);
    for (auto& x : t)
      out.push_back({(x.usec - t.front().usec) / 1000, Gen{x.freq1, x.freq2, x.amp1, x.amp2}});
    return out;
  }
  void settle() { runUntil([] { return false; }, 20); }
  // Moves the manual test clock a millisecond per loop pass.
  void advance(unsigned ms) {
    for (unsigned i = 0; i < ms; ++i) {
      clock_.advance(1);
      multiplexer.run_once();
    }
  }
  Mux::TestClock clock_{Mux::TestClock::Manual};
  hwtest::LoopAnchor anchor_;
};

LGCP::TranslateDtmfParams digits(std::vector<std::pair<int, int>> tones) {
  LGCP::TranslateDtmfParams p;
  for (auto& t : tones) {
    LGCP::DualTone d;
    d.set_freq1(t.first);
    d.set_freq2(t.second);
    p.ref_digits().push_back(d);
  }
  return p;
}

TEST_F(TonecTest, ConfigurationRecordsAreHostOrderWithSilenceBeforeNoise) {
  if (!testboard::littleEndian()) GTEST_SKIP() << "records worked out for a little-endian host";
  Receiver r(7);
  LGCP::DTMFParams p;
  p.set_threshold().set_twist(0x0102);
  p.set_threshold().set_ratio(0x0304);
  p.set_threshold().set_noise(0x0506);
  p.set_level().set_silence(0x0708);
  Capture log(std::clog);
  ASSERT_TRUE(r.configureDTMF(p));
  // {ts 7, twist, ratio, silence, noise}: silence before noise in the record...
  EXPECT_EQ(records(TonecReceiverService::kConfigureDetector),
            std::vector<std::string>{std::string("\x07\0\0\0\x02\x01\0\0\x04\x03\0\0"
                                                 "\x08\x07\0\0\x06\x05\0\0", 20)});
  // ...and after it in the line.
  EXPECT_EQ(log.text(), "DTMF_CONFIGURE_DETECTOR ts=7 twist=258 ratio=772 noise=1286 silence=1800\n");

  LGCP::IVAParams iva;
  iva.set_det_lvl_dB(-30);  // 0xFFFFFFE2
  ASSERT_TRUE(r.configureIVA(iva));
  EXPECT_EQ(records(TonecReceiverService::kIvaConfigure),
            std::vector<std::string>{std::string("\x07\0\0\0\xE2\xFF\xFF\xFF", 8)});

  // 697 Hz = 0x2B9, 1209 Hz = 0x4B9, amplitude 16384 = 0x4000.
  ASSERT_TRUE(r.enableToneGenerator(697, 1209, 16384, 16384));
  EXPECT_EQ(records(TonecReceiverService::kDial),
            std::vector<std::string>{std::string("\x07\0\0\0\xB9\x02\xB9\x04\0\x40\0\x40", 12)});

  // SELCAL: fewer than four signs send nothing; beyond four only four go,
  // with the default amplitude 12000 = 0x2EE0 and two zero bytes.
  Capture err(std::cerr);
  TERM::SelcalCommand s;
  s.set_signs("ABC");
  r.translateSelcal(s);
  EXPECT_EQ(err.text(), "SELCAL_DIAL fail: timeslot=7 incorect signs:ABC\n");
  EXPECT_TRUE(records(TonecReceiverService::kSelcalDial).empty());
  s.set_signs("ABCDE");
  r.translateSelcal(s);
  s.set_amp(300);
  s.set_signs("WXYZ");
  r.translateSelcal(s);
  EXPECT_EQ(records(TonecReceiverService::kSelcalDial),
            (std::vector<std::string>{std::string("\x07\0\0\0\xE0\x2E" "ABCD\0\0", 12),
                                      std::string("\x07\0\0\0\x2C\x01" "WXYZ\0\0", 12)}));
}

TEST_F(TonecTest, EventsReachTheReceiverOnlyWithTheCurrentDetectorId) {
  Receiver r(11), other(12);
  Capture err(std::cerr);
  ASSERT_TRUE(r.enableDTMF(true));
  const uint32_t first = r.detectorId();
  EXPECT_NE(first, 0u);
  EXPECT_EQ(err.text(), "DTMF_ENABLE_DETECTOR done: timeslot=11 id=" + std::to_string(first) + "\n");
  // Already on: nothing is sent, the id stays.
  ASSERT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(records(TonecReceiverService::kEnableDetector).size(), 1u);
  EXPECT_EQ(r.detectorId(), first);
  EXPECT_TRUE(dtmf().slot(11).detector);
  EXPECT_EQ(dtmf().slot(11).id, first);

  Capture log(std::clog);
  dtmf().inject(11, 5, 1234);  // the current id
  ASSERT_TRUE(runUntil([&] { return !r.events.empty(); }));
  EXPECT_EQ(r.events, (std::vector<std::pair<uint32_t, uint32_t>>{{5, 1234}}));
  const std::string fields = " timestamp=1234 timeslot=11 code=5 id=" + std::to_string(first);
  EXPECT_EQ(log.text(), "dtmf event: " + fields + "\n");

  // Off and on again: a new id; a record of the old activation is stale.
  ASSERT_TRUE(r.disableDTMF());
  ASSERT_TRUE(r.enableDTMF(true));
  const uint32_t second = r.detectorId();
  EXPECT_EQ(second, first + 1);
  log.clear();
  dtmf().inject(11, 6, 99, first);
  dtmf().inject(13, 7, 99, 0);  // nobody's time-slot
  err.clear();
  settle();
  const std::string stale = " timestamp=99 timeslot=11 code=6 id=" + std::to_string(first);
  EXPECT_EQ(log.text(), "dtmf event: " + stale + "\nignore spurious dtmf event: " + stale +
                            " rid=" + std::to_string(second) +
                            "\ndtmf event:  timestamp=99 timeslot=13 code=7 id=0\n");
  EXPECT_EQ(err.text(), "receive tonec event from unknown timeslot 13\n");
  EXPECT_EQ(r.events.size(), 1u);

  // A receiver with no detector on drops its events.
  log.clear();
  dtmf().inject(12, 8, 1, 0);
  settle();
  EXPECT_NE(log.text().find("ignore spurious dtmf event (DTMF disabled):  timestamp=1 timeslot=12"),
            std::string::npos);
  EXPECT_TRUE(other.events.empty());

  // A failed activation still uses up an id and changes nothing.
  ASSERT_TRUE(r.disableDTMF());
  board().failRequest(TonecReceiverService::kEnableDetector, EIO, true);
  err.clear();
  EXPECT_FALSE(r.enableDTMF(true));
  EXPECT_EQ(err.text(), "DTMF_ENABLE_DETECTOR fail: timeslot=11 id=" + std::to_string(second + 1) +
                            " errno=\"Input/output error\"\n");
  EXPECT_FALSE(r.detectorOn());
  ASSERT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(r.detectorId(), second + 2);
}

TEST_F(TonecTest, DtmfAndIvaDetectorsKeepTheirOwnState) {
  Receiver r(21);
  ASSERT_TRUE(r.enableIVA(true));
  // IVA on does not stand for DTMF on: the DTMF detector is still asked for.
  ASSERT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(records(TonecReceiverService::kEnableDetector).size(), 1u);
  EXPECT_TRUE(dtmf().slot(21).detector);
  EXPECT_TRUE(dtmf().slot(21).iva);

  // DTMF off, IVA still on: events still come.
  ASSERT_TRUE(r.disableDTMF());
  dtmf().inject(21, 0x0300, 1, r.detectorId());
  ASSERT_TRUE(runUntil([&] { return r.events.size() == 1; }));
  // Both off: the gate is shut.
  ASSERT_TRUE(r.enableIVA(false));
  dtmf().inject(21, 0x0400, 2, r.detectorId());
  settle();
  EXPECT_EQ(r.events.size(), 1u);

  // What is on is switched off before destruction, DTMF, IVA, rejection,
  // the echo canceller.
  ASSERT_TRUE(r.enableDTMF(true));
  ASSERT_TRUE(r.enableIVA(true));
  ASSERT_TRUE(r.enableDTMFReject(true));
  ASSERT_TRUE(r.echoCancel(true));
  board().clearLog();
  r.CleanBeforeDestroy();
  std::vector<uint32_t> words;
  for (auto& e : board().logEntries()) words.push_back(e.word);
  EXPECT_EQ(words, (std::vector<uint32_t>{TonecReceiverService::kDisableDetector,
                                          TonecReceiverService::kIvaDisable,
                                          TonecReceiverService::kRejectionDisable,
                                          TonecReceiverService::kLmsOff}));
  EXPECT_EQ(values(TonecReceiverService::kIvaDisable), std::vector<long>{21});
  EXPECT_EQ(values(TonecReceiverService::kLmsOff), std::vector<long>{21});
  EXPECT_FALSE(dtmf().slot(21).lms);
  board().clearLog();
  r.CleanBeforeDestroy();
  EXPECT_TRUE(board().logEntries().empty());
}

TEST_F(TonecTest, DigitPlayoutSoundsEachDigitThenPausesThenSwitchesOff) {
  Receiver r(31);
  r.translateDTMF(digits({{697, 1209}, {770, 1336}}));
  EXPECT_TRUE(r.is_inDTMFTransmit());
  advance(279);
  EXPECT_EQ(r.completed, 0);
  advance(1);
  EXPECT_EQ(r.completed, 1);
  EXPECT_FALSE(r.is_inDTMFTransmit());
  EXPECT_EQ(tones(31), (std::vector<std::pair<uint64_t, Gen>>{{0, {697, 1209, 16384, 16384}},
                                                              {70, kSilence},
                                                              {140, {770, 1336, 16384, 16384}},
                                                              {210, kSilence},
                                                              {280, kOff}}));

  // Given durations and amplitudes; new digits during a playout replace
  // the rest without restarting the step under way.
  dtmf().reset();
  auto p = digits({{1, 2}, {3, 4}});
  p.set_amp1(100);
  p.set_amp2(200);
  p.set_toneDuration(40);
  p.set_pauseDuration(25);
  r.translateDTMF(p);
  auto q = p;
  q.ref_digits().clear();
  LGCP::DualTone d;
  d.set_freq1(70000);  // reduced to 16 bits: 4464
  d.set_freq2(6);
  q.ref_digits().push_back(d);
  r.translateDTMF(q);
  advance(200);
  EXPECT_EQ(r.completed, 2);
  EXPECT_EQ(tones(31), (std::vector<std::pair<uint64_t, Gen>>{{0, {1, 2, 100, 200}},
                                                              {40, kSilence},
                                                              {65, {4464, 6, 100, 200}},
                                                              {105, kSilence},
                                                              {130, kOff}}));

  // An empty list ends at once.
  dtmf().reset();
  r.translateDTMF(LGCP::TranslateDtmfParams());
  EXPECT_EQ(r.completed, 3);
  EXPECT_EQ(tones(31), (std::vector<std::pair<uint64_t, Gen>>{{0, kOff}}));
  EXPECT_FALSE(r.disableToneGenerator(false));
}

TEST_F(TonecTest, WaitToneCadenceAndItsCancellation) {
  Receiver r(41);
  r.activateAudibleCall();
  advance(8000);
  EXPECT_EQ(tones(41), (std::vector<std::pair<uint64_t, Gen>>{
                           {0, kWait}, {1000, kSilence}, {4000, kWait}, {5000, kSilence},
                           {8000, kWait}}));

  // Cancelled during the pause: off, and it does not come back.
  advance(1500);
  r.cancelAudibleCall();
  advance(20000);
  auto t = tones(41);
  ASSERT_EQ(t.size(), 7u);
  EXPECT_EQ(t[6], std::make_pair(uint64_t(9500), kOff));
}

TEST_F(TonecTest, WaitToneDuringAPlayoutEndsThePlayoutSoItCanBeCancelled) {
  Receiver r(51);
  r.translateDTMF(digits({{697, 1209}, {770, 1336}, {852, 1477}}));
  r.activateAudibleCall();
  // The playout is over and said so; the rest of the digits never sound.
  EXPECT_FALSE(r.is_inDTMFTransmit());
  EXPECT_EQ(r.completed, 1);
  r.cancelAudibleCall();
  advance(10000);
  EXPECT_EQ(tones(51), (std::vector<std::pair<uint64_t, Gen>>{
                           {0, {697, 1209, 16384, 16384}}, {0, kWait}, {0, kOff}}));
  EXPECT_EQ(r.completed, 1);
}

TEST_F(TonecTest, CleanUpSwitchesOffTheGeneratorThatStillSounds) {
  // Cut in the wait tone's pause: the generator runs at zero amplitude and
  // goes off; the cadence does not come back.
  Receiver r(81);
  r.activateAudibleCall();
  advance(1500);
  r.CleanBeforeDestroy();
  advance(10000);
  EXPECT_EQ(tones(81), (std::vector<std::pair<uint64_t, Gen>>{{0, kWait}, {1000, kSilence}, {1500, kOff}}));

  // Cut in a digit: off, and no completion for a playout nobody waits for.
  dtmf().reset();
  r.translateDTMF(digits({{941, 1477}, {697, 1209}}));
  advance(30);
  r.CleanBeforeDestroy();
  advance(1000);
  EXPECT_EQ(tones(81), (std::vector<std::pair<uint64_t, Gen>>{{0, {941, 1477, 16384, 16384}}, {30, kOff}}));
  EXPECT_FALSE(r.is_inDTMFTransmit());
  EXPECT_EQ(r.completed, 0);

  // A steady tone too; one already off, or never on, sends nothing, nor
  // does an echo canceller the receiver switched off again.
  dtmf().reset();
  ASSERT_TRUE(r.enableToneGenerator(1000, 0, 300, 0));
  r.CleanBeforeDestroy();
  ASSERT_TRUE(r.echoCancel(true));
  ASSERT_TRUE(r.echoCancel(false));
  r.translateDTMF(digits({{697, 1209}}));
  advance(140);
  EXPECT_EQ(r.completed, 1);
  board().clearLog();
  r.CleanBeforeDestroy();
  EXPECT_TRUE(board().logEntries().empty());
  EXPECT_EQ(tones(81).front().second, (Gen{1000, 0, 300, 0}));
  EXPECT_EQ(tones(81)[1].second, kOff);
}

TEST_F(TonecTest, CleanUpLeavesWhatAnotherReceiverOnTheTimeSlotSetSince) {
  // Two receivers of one time-slot, as a mixer channel's input and output.
  Receiver a(91), b(91);
  const Gen steady{1000, 0, 2000, 0};
  // a's digit is replaced by b's steady tone: a goes and the tone stays,
  // until b goes.
  a.translateDTMF(digits({{941, 1477}, {697, 1209}}));
  advance(30);
  ASSERT_TRUE(b.enableToneGenerator(1000, 0, 2000, 0));
  a.CleanBeforeDestroy();
  advance(1000);
  b.CleanBeforeDestroy();
  EXPECT_EQ(tones(91), (std::vector<std::pair<uint64_t, Gen>>{
                           {0, {941, 1477, 16384, 16384}}, {30, steady}, {1030, kOff}}));
  EXPECT_EQ(a.completed, 0);

  // a's cadence takes the generator back at its next step: b goes without
  // touching it, and the playout ends it itself.
  dtmf().reset();
  a.translateDTMF(digits({{941, 1477}}));
  advance(30);
  ASSERT_TRUE(b.enableToneGenerator(1000, 0, 2000, 0));
  advance(40);
  b.CleanBeforeDestroy();
  advance(100);
  EXPECT_EQ(a.completed, 1);
  EXPECT_EQ(tones(91), (std::vector<std::pair<uint64_t, Gen>>{
                           {0, {941, 1477, 16384, 16384}}, {30, steady}, {70, kSilence}, {140, kOff}}));

  // The echo canceller stays with the last receiver that switched it on.
  ASSERT_TRUE(a.echoCancel(true));
  ASSERT_TRUE(b.echoCancel(true));
  board().clearLog();
  a.CleanBeforeDestroy();
  EXPECT_TRUE(board().logEntries().empty());
  EXPECT_TRUE(dtmf().slot(91).lms);
  b.CleanBeforeDestroy();
  EXPECT_EQ(values(TonecReceiverService::kLmsOff), std::vector<long>{91});
}

TEST_F(TonecTest, DetectorsStayWithTheReceiversOfTheTimeSlotThatAskedForThem) {
  using Events = std::vector<std::pair<uint32_t, uint32_t>>;
  // a is registered first and asks for nothing: b's events go past it.
  Receiver a(93), b(93);
  ASSERT_TRUE(b.enableDTMF(true));
  dtmf().inject(93, 1, 10);
  ASSERT_TRUE(runUntil([&] { return !b.events.empty(); }));
  EXPECT_TRUE(a.events.empty());

  // Both ask for DTMF: the one detector now carries a's id, and each hears
  // it. b goes and a keeps it; a's going switches it off.
  ASSERT_TRUE(a.enableDTMF(true));
  EXPECT_EQ(b.detectorId(), a.detectorId());
  dtmf().inject(93, 2, 20);
  ASSERT_TRUE(runUntil([&] { return b.events.size() == 2; }));
  EXPECT_EQ(a.events, (Events{{2, 20}}));
  b.CleanBeforeDestroy();
  EXPECT_TRUE(records(TonecReceiverService::kDisableDetector).empty());
  EXPECT_TRUE(dtmf().slot(93).detector);
  dtmf().inject(93, 3, 30);
  ASSERT_TRUE(runUntil([&] { return a.events.size() == 2; }));
  EXPECT_EQ(b.events.size(), 2u);
  a.CleanBeforeDestroy();
  EXPECT_EQ(values(TonecReceiverService::kDisableDetector), std::vector<long>{93});

  // The IVA detector likewise, whichever receiver goes first.
  board().clearLog();
  ASSERT_TRUE(a.enableIVA(true));
  ASSERT_TRUE(b.enableIVA(true));
  a.CleanBeforeDestroy();
  EXPECT_TRUE(records(TonecReceiverService::kIvaDisable).empty());
  dtmf().inject(93, 0x0400, 40, b.detectorId());
  ASSERT_TRUE(runUntil([&] { return b.events.size() == 3; }));
  EXPECT_EQ(a.events.size(), 2u);
  b.CleanBeforeDestroy();
  EXPECT_EQ(values(TonecReceiverService::kIvaDisable), std::vector<long>{93});

  // A receiver switching its detector off switches it off for the time-slot:
  // the other one that had it on asks for it again, and gets it.
  ASSERT_TRUE(a.enableDTMF(true));
  ASSERT_TRUE(b.enableDTMF(true));
  ASSERT_TRUE(b.disableDTMF());
  EXPECT_FALSE(a.detectorOn());
  ASSERT_TRUE(a.enableDTMF(true));
  EXPECT_TRUE(dtmf().slot(93).detector);
  EXPECT_EQ(dtmf().slot(93).id, a.detectorId());
  board().clearLog();
  a.CleanBeforeDestroy();
  EXPECT_EQ(values(TonecReceiverService::kDisableDetector), std::vector<long>{93});
}

TEST_F(TonecTest, DTMFRejectionStaysOnWhileAReceiverOfTheTimeSlotAsksForIt) {
  Receiver a(94), b(94);
  ASSERT_TRUE(a.enableDTMFReject(true));
  ASSERT_TRUE(b.enableDTMFReject(true));
  a.CleanBeforeDestroy();
  EXPECT_TRUE(records(TonecReceiverService::kRejectionDisable).empty());
  EXPECT_TRUE(dtmf().slot(94).rejection);
  b.CleanBeforeDestroy();
  EXPECT_EQ(values(TonecReceiverService::kRejectionDisable), std::vector<long>{94});

  // Switched off by one, it is off for both: the other has none left to
  // switch off.
  ASSERT_TRUE(a.enableDTMFReject(true));
  ASSERT_TRUE(b.enableDTMFReject(true));
  ASSERT_TRUE(b.enableDTMFReject(false));
  board().clearLog();
  a.CleanBeforeDestroy();
  EXPECT_TRUE(records(TonecReceiverService::kRejectionDisable).empty());
}

TEST_F(TonecTest, AReceiverDeletedDuringDeliveryGetsNoMoreRecords) {
  // The first receiver's event deletes it and the second one; the
  // second's record, read in the same pass, finds nobody.
  struct Deleter : Receiver {
    using Receiver::Receiver;
    void tonec_event(Params const&) override {
      delete victim;
      delete this;
    }
    Receiver* victim = nullptr;
  };
  auto* d = new Deleter(71);
  auto* second = new Receiver(72);
  d->victim = second;
  ASSERT_TRUE(d->enableDTMF(true));
  ASSERT_TRUE(second->enableDTMF(true));
  Capture err(std::cerr);
  dtmf().inject(71, 1, 0);
  dtmf().inject(72, 2, 0);
  settle();
  EXPECT_EQ(err.text(), "receive tonec event from unknown timeslot 72\n");

  // Both of one time-slot hear the record: the first deletes the second
  // before its turn.
  d = new Deleter(73);
  d->victim = new Receiver(73);
  ASSERT_TRUE(d->enableDTMF(true));
  ASSERT_TRUE(d->victim->enableDTMF(true));
  err.clear();
  dtmf().inject(73, 3, 0);
  dtmf().inject(73, 4, 0);
  settle();
  EXPECT_EQ(err.text(), "receive tonec event from unknown timeslot 73\n");
}

TEST_F(TonecTest, ShortRecordsAreDroppedAndALostDeviceIsReopenedByConfiguration) {
  Receiver r(61);
  ASSERT_TRUE(r.enableDTMF(true));
  Capture err(std::cerr);
  dtmf().injectRaw(std::string("\x05\0\0\0\x3D\0\0", 7));
  dtmf().inject(61, 9, 3);
  ASSERT_TRUE(runUntil([&] { return !r.events.empty(); }));
  EXPECT_EQ(err.text(), "tonec: short event record of 7 bytes, dropped\n");
  EXPECT_EQ(r.events, (std::vector<std::pair<uint32_t, uint32_t>>{{9, 3}}));

  // The device goes away: one line, then the service is without it (and the
  // loop does not spin on it) until a configuration opens it again.
  err.clear();
  dtmf().sever();
  ASSERT_TRUE(runUntil([] { return !TonecReceiverService::instance()->isOpen(); }));
  settle();
  EXPECT_EQ(err.text(), "fail to read from tonec: Input/output error\n");
  EXPECT_FALSE(r.enableToneGenerator(1, 1, 1, 1));
  LGCP::DTMFParams p;
  EXPECT_TRUE(r.configureDTMF(p));
  EXPECT_TRUE(TonecReceiverService::instance()->isOpen());
  dtmf().inject(61, 4, 5);
  ASSERT_TRUE(runUntil([&] { return r.events.size() == 2; }));
}

}  // namespace
