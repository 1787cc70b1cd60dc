#pragma once
// The board's tone DSP on "/dev/dtmf": per time-slot DTMF and IVA
// detection, DTMF rejection, the echo canceller, a dual-tone generator and
// SELCAL dialling.
//
// TonecReceiverService is the one owner of the device: it issues every
// request, numbers the DTMF detector activations and reads the driver's
// 16-byte event records, handing each to the receivers of its time-slot
// that listen for it (a mixer channel's ports share one time-slot).
// TonecReceiver is what a slot inherits to own one time-slot's tone
// functions; besides forwarding to the service it sequences, on one timer,
// the DTMF digit playout and the wait tone (1 s of 425 Hz, 3 s of silence).
//
// Records are in the host's byte order. Everything runs on the loop's
// thread.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hardware/CyclicList.h"
#include "hardware/DspEvents.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "runtime/Event.h"
#include "runtime/Timer.h"

namespace Hardware {

class TonecReceiver;

class TonecReceiverService {
 public:
  // Request words (type 'B'). "value" requests take the time-slot itself as
  // the argument.
  static constexpr uint32_t kConfigureDetector = 0x40144202;  // {ts, twist, ratio, silence, noise}
  static constexpr uint32_t kEnableDetector = 0x40084203;     // {ts, id}
  static constexpr uint32_t kDisableDetector = 0x40044204;    // value
  static constexpr uint32_t kDial = 0x400C4205;               // {ts, u16 f1, f2, a1, a2}
  static constexpr uint32_t kLmsOn = 0x40044206;              // value
  static constexpr uint32_t kLmsOff = 0x40044207;             // value
  static constexpr uint32_t kRejectionEnable = 0x40044209;    // value
  static constexpr uint32_t kRejectionDisable = 0x4004420A;   // value
  static constexpr uint32_t kIvaEnable = 0x4004420B;          // value
  static constexpr uint32_t kIvaDisable = 0x4004420C;         // value
  static constexpr uint32_t kIvaConfigure = 0x4008420D;       // {ts, i32 level dB}
  static constexpr uint32_t kSelcalDial = 0x400C420E;         // {ts, u16 amp, 4 signs, 2 zero}
  // One event record: {code, ts, timestamp, detector id}.
  static constexpr size_t kEventSize = 16;
  // The SELCAL amplitude when the controller gives none.
  static constexpr uint16_t kSelcalAmp = 12000;

  static TonecReceiverService* instance();

  // Opens the device unless it is open.
  void init();
  bool isOpen() const { return event_.IsActive(); }

  bool configureDTMF(unsigned timeslot, LGCP::DTMFParams const& params);
  bool echoCancel(unsigned timeslot, bool on);
  bool enableDTMFReject(unsigned timeslot, bool on);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  // (0, 0, 0, 0) switches the generator off.
  bool enableToneGenerator(unsigned timeslot, uint16_t freq1, uint16_t freq2, uint16_t amp1,
                           uint16_t amp2);
  bool configureIVA(TonecReceiver& receiver, LGCP::IVAParams const& params);
  bool enableIVA(TonecReceiver& receiver, bool on);
  void translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& cmd);

  void OnEvent(int fd, short revents);

  TonecReceiverService(const TonecReceiverService&) = delete;
  TonecReceiverService& operator=(const TonecReceiverService&) = delete;

 private:
  friend class TonecReceiver;
  TonecReceiverService();

  // Sends a request that takes the time-slot by value; logs "<stem><suffix>"
  // either way.
  bool switchRequest(uint32_t word, unsigned timeslot, const char* stem, const char* suffix);
  // Hands one whole record to every receiver of its time-slot whose
  // detector is on under the record's id.
  void dispatch(const uint8_t* record);
  // The receivers of a time-slot, in the order they were registered.
  std::vector<TonecReceiver*> onTimeslot(uint32_t timeslot);
  bool registered(const TonecReceiver* r);
  static bool hears(const TonecReceiver& r, uint32_t timeslot, uint32_t id);

  Event event_;
  uint32_t lastId_ = 0;
  Containers::CyclicList receivers_;
};

class TonecReceiver {
 public:
  // What tonec_event receives, both copied from the event record.
  using Params = TonecParams;

  // The DTMF playout's defaults and the wait tone's cadence.
  static constexpr unsigned kToneDuration = 70;   // ms per digit
  static constexpr unsigned kPauseDuration = 70;  // ms after each digit
  static constexpr uint16_t kDigitAmp = 16384;
  static constexpr uint16_t kWaitFreq = 425;
  static constexpr uint16_t kWaitAmp = 2048;
  static constexpr unsigned kWaitToneOn = 1000;   // ms
  static constexpr unsigned kWaitToneOff = 3000;  // ms
  // The generator running at zero amplitude.
  static constexpr uint16_t kSilenceFreq = 1000;

  TonecReceiver();
  virtual ~TonecReceiver();
  TonecReceiver(const TonecReceiver&) = delete;
  TonecReceiver& operator=(const TonecReceiver&) = delete;

  virtual void tonec_event(Params const& p) = 0;
  virtual uint32_t tonec_timeslot() const = 0;
  // A DTMF playout has ended.
  virtual void tone_gen_complete() {}

  bool configureDTMF(LGCP::DTMFParams const& params);
  bool enableDTMF(bool on);
  bool disableDTMF();
  bool echoCancel(bool on);
  bool enableDTMFReject(bool on);
  bool configureIVA(LGCP::IVAParams const& params);
  bool enableIVA(bool on);
  bool enableToneGenerator(uint16_t freq1, uint16_t freq2, uint16_t amp1, uint16_t amp2);
  bool enableSilence();
  // Without force, only during a playout: ends it and switches the
  // generator off.
  bool disableToneGenerator(bool force);
  // Starts a playout, or gives a running one a new digit list.
  void translateDTMF(LGCP::TranslateDtmfParams const& params);
  void translateSelcal(TERM::SelcalCommand const& cmd);
  void activateAudibleCall();
  void cancelAudibleCall();
  bool is_inDTMFTransmit() const { return inPlayout_; }
  // Ends a playout under way, as its slot goes, without a completion
  // notice: the generator is brought to silence and then off, unless another
  // receiver on the time-slot has set it since.
  void cutPlayout();
  // Switches off what this receiver switched on, the generator and the
  // echo canceller included, and ends a playout or the wait tone; a
  // detector another receiver of the time-slot listens to, or the DTMF
  // rejection another one asked for, stays on. The owning slot calls it
  // from its own destructor.
  void CleanBeforeDestroy();

  // Events are delivered while the DTMF or the IVA detector is on.
  bool detectorOn() const { return dtmfOn_ || ivaOn_; }
  uint32_t detectorId() const { return detectorId_; }

 private:
  friend class TonecReceiverService;
  struct Link : Containers::CyclicList {
    explicit Link(TonecReceiver* r) : owner(r) {}
    TonecReceiver* owner;
  };

  void on_DTMFPauseFinish(Timer*);
  void on_DTMFToneFinish(Timer*);
  void on_waitPauseFinish(Timer*);
  void on_waitToneFinish(Timer*);
  // The other receivers of this receiver's time-slot.
  std::vector<TonecReceiver*> others() const;
  // This receiver's setting is now the time-slot's: the other receivers on
  // it have none of their own left to undo.
  void supersede(bool TonecReceiver::*setting);
  // Another receiver of the time-slot has the setting on.
  bool heldByAnother(bool TonecReceiver::*setting) const;

  Timer timer_;
  bool inPlayout_ = false;
  // The id the time-slot's DTMF detector carries: this receiver's last
  // activation, or another receiver's since, while this one listens too.
  uint32_t detectorId_ = 0;
  LGCP::TranslateDtmfParams playout_;
  Link link_;
  // The detector, or the rejection, is on at this receiver's asking: it
  // stays on while any receiver of the time-slot asks for it, and a
  // receiver switching it off switches it off for all of them.
  bool ivaOn_ = false;
  bool dtmfOn_ = false;
  bool rejectionOn_ = false;
  // The generator or canceller is on with this receiver's setting, the last
  // one the driver took on the time-slot: the next slot there must not
  // inherit it, and a slot sharing the time-slot keeps its own.
  bool generatorOn_ = false;
  bool lmsOn_ = false;
};

}  // namespace Hardware
