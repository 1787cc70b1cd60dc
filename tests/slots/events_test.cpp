// From a driver's event record to the signal the controller reads: a slot
// kind that listens to the tone and voice-processing DSPs, created by the
// controller, events injected on the stand-in's "/dev/dtmf" and "/dev/dsp",
// and what arrives on the controller's link.
#include "SlotsTestUtil.h"
#include "board/Dsp.h"
#include "board/Dtmf.h"
#include "hardware/DSProcReceiver.h"
#include "hardware/RtpDriver.h"
#include "hardware/TonecReceiver.h"

using namespace slots_test;

namespace {

// What the mixer's ports and the RTP slots are to the DSPs: a slot that
// owns one time-slot's tone and voice-processing functions.
struct Listener : Slot, Hardware::TonecReceiver, Hardware::DSProcReceiver {
  explicit Listener(uint32_t ts) : ts(ts) {}
  ~Listener() override {
    TonecReceiver::CleanBeforeDestroy();
    DSProcReceiver::CleanBeforeDestroy();
  }
  const char* GetName() const override { return "listener"; }
  void tonec_event(Params const& p) override { processTonecEvent(p); }
  uint32_t tonec_timeslot() const override { return ts; }
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
  void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
  void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
  void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }
  uint32_t dsproc_timeslot() const override { return ts; }
  uint32_t ts;
};

// Makes a listener on time-slot `receiver` from an ext create whose
// transmitter is 1000; leaves every other create to the probes.
struct ListenerFactory : SlotFactory {
  static constexpr int kMarker = 1000;
  const char* GetName() const override { return "Listeners"; }
  Slot* INewSlot(const LGCP::CreateParams& p) override {
    if (!p.ext_isSelected() || p.get_ext().get_transmitter().getValue() != kMarker) return nullptr;
    return new Listener(uint32_t(p.get_ext().get_receiver().getValue()));
  }
  void Query(LGCP::Resources&) override {}
};

class SignalTest : public SlotsTest {
 protected:
  // Made last: offered every create first. It leaves the factory list
  // with this suite, so that the other suites see the daemon's own list.
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    listeners_ = new ListenerFactory;
  }
  static void TearDownTestSuite() {
    delete listeners_;
    listeners_ = nullptr;
  }
  void SetUp() override {
    SlotsTest::SetUp();
    Hardware::TonecReceiverService::instance()->init();
    Hardware::DSProcReceiverService::instance()->init();
    send(probe(6, ListenerFactory::kMarker, 40));
    collect(0);
    listener = dynamic_cast<Listener*>(slot(6));
    ASSERT_NE(listener, nullptr);
  }
  Board::Dtmf& dtmf() { return static_cast<Board::Dtmf&>(*board().model("dtmf")); }
  Board::Dsp& dsp() { return static_cast<Board::Dsp&>(*board().model("dsp")); }
  Listener* listener = nullptr;
  static ListenerFactory* listeners_;
};

ListenerFactory* SignalTest::listeners_ = nullptr;

TEST_F(SignalTest, ToneDetectorCodes) {
  ASSERT_TRUE(listener->enableDTMF(true));
  // A DTMF 5 event arrives as this frame, worked out by hand from the
  // aligned PER rules:
  //   Message preamble: seq absent, slot present      01 + 6 bits padding
  //   slot 6 in 0..1023: two octets, aligned           00 06
  //   pdu: signal, index 2 of 3 (2 bits)               10
  //   Signal: extension bit 0, tonec index 1 of 23     0 00001
  //   timestamp 1234: length 2, 04 D2                  02 04 D2
  //   TonecCode: extension bit 0, dtmf index 0 of 6    0 000
  //   dtmf 5 in 0..127: 7 bits                         0000101 + padding
  // and TPKT 03 00 and the length 13.
  dtmf().inject(40, 5, 1234);
  EXPECT_EQ(peer.recv_pumping(13),
            (Bytes{0x03, 0x00, 0x00, 0x0D, 0x40, 0x00, 0x06, 0x81, 0x02, 0x04, 0xD2, 0x00, 0xA0}));

  Capture cap;
  for (uint32_t code : {17u, 18u, 127u, 0x0300u, 0x1400u, 0x1500u, 0x1600u, 128u, 0xFFFFFF00u})
    dtmf().inject(40, code, 7);
  EXPECT_EQ(collect(0), (std::vector<std::string>{
                            "{ slot 6, pdu signal : tonec : { timestamp 7, event ced : NULL } }",
                            "{ slot 6, pdu signal : tonec : { timestamp 7, event cng : NULL } }",
                            "{ slot 6, pdu signal : tonec : { timestamp 7, event dtmf : 127 } }",
                            "{ slot 6, pdu signal : tonec : { timestamp 7, event iva : code : 3 } }",
                            "{ slot 6, pdu signal : tonec : { timestamp 7, event iva : code : 20 } }",
                            "{ slot 6, pdu signal : tonec : { timestamp 7, event iva : ringoff : NULL } }",
                        }));
  // 0x1600 (22), 128 (0 in the second byte) and -256 (-1) are no code.
  EXPECT_EQ(cap.err(), "bad DTMF code, ignored.\nbad DTMF code, ignored.\nbad DTMF code, ignored.\n");

  // The end of a digit playout.
  listener->translateDTMF(LGCP::TranslateDtmfParams());
  EXPECT_EQ(collect(0), std::vector<std::string>{
                            "{ slot 6, pdu signal : tonec : { timestamp 0, event dtmfDone : NULL } }"});
}

TEST_F(SignalTest, VoiceProcessingEvents) {
  ASSERT_TRUE(listener->enableBSS(true));
  // BSS 0.5: "%4.6f" gives 0.500000. By hand: the same envelope for slot 6,
  // then Signal: extension bit 0, bss index 20 of 23 (0 10100), BSSEvent's
  // extension bit 0, padding, the length 8 and the eight characters.
  dsp().injectScore(40, 0.5f);
  EXPECT_EQ(peer.recv_pumping(18),
            (Bytes{0x03, 0x00, 0x00, 0x12, 0x40, 0x00, 0x06, 0x94, 0x00, 0x08, '0', '.', '5', '0',
                   '0', '0', '0', '0'}));

  Capture cap;
  dsp().inject(40, Board::Dsp::kVAD, 1, 2, 0);           // rx 2 only: vad-rx TRUE
  dsp().inject(40, Board::Dsp::kVAD, 0, 1, 1);           // nothing reported: dropped
  dsp().inject(40, Board::Dsp::kSD, 0);                  // sd-rx FALSE
  dsp().inject(40, Board::Dsp::kSD, uint32_t(-1));       // no report: dropped
  dsp().inject(40, Board::Dsp::kTone, 2100, 7);          // present
  dsp().inject(40, Board::Dsp::kFlags, 1u << 29, 7u << 29);  // rx on, tx off, SELCAL idle
  dsp().inject(40, Board::Dsp::kFlags, 1u << 31, 1u << 31);  // SELCAL only
  dsp().inject(40, Board::Dsp::kFlags, 1u << 30, 1u << 30);  // tx only
  dsp().injectScore(40, -1234.5f);
  EXPECT_EQ(collect(0), (std::vector<std::string>{
                            "{ slot 6, pdu signal : vad : { vad-rx TRUE } }",
                            "{ slot 6, pdu signal : sd : { sd-rx FALSE } }",
                            "{ slot 6, pdu signal : tonec : { timestamp 0, event tone-presence : "
                            "{ freq 2100, presence TRUE } } }",
                            "{ slot 6, pdu signal : vad : { vad-rx TRUE, vad-tx FALSE } }",
                            "{ slot 6, pdu signal : selcal : { in-progress FALSE } }",
                            "{ slot 6, pdu signal : selcal : { in-progress TRUE } }",
                            "{ slot 6, pdu signal : vad : { vad-tx TRUE } }",
                            "{ slot 6, pdu signal : bss : { score \"-1234.500000\" } }",
                        }));
  EXPECT_EQ(cap.err(), "bad VAD event, ignored.\nbad SD event, ignored.\n");

  // The RTP engine's packet detection; other types say nothing.
  listener->processRtpEvent(rtp_event{1, 300, 5000});
  listener->processRtpEvent(rtp_event{2, 1, 1});
  EXPECT_EQ(collect(0), (std::vector<std::string>{
                            "{ slot 6, pdu signal : rtp : pd : { value 300, timeout 5000 } }"}));
}

}  // namespace
