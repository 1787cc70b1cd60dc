#pragma once
// The board's voice-processing DSP on "/dev/dsp": per time-slot voice
// activity detection (VAD), signal detection (SD), BSS scoring, a noise
// gate (NG), two mute switches, delays, a receive gain and tone filters.
//
// DSProcReceiverService is the one owner of the device: it issues every
// request, numbers the feature activations and reads the driver's 24-byte
// event records, handing each to the receivers of its time-slot that asked
// for it (a mixer channel's ports share one time-slot).
// DSProcReceiver is what a slot inherits to own one time-slot's
// voice-processing functions; it remembers what it switched on so that
// CleanBeforeDestroy() can switch it off again, unless another receiver of
// the time-slot still has it on.
//
// Records are in the host's byte order. Everything runs on the loop's
// thread.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hardware/CyclicList.h"
#include "hardware/DspEvents.h"
#include "protocol/LGCP/LGCP.h"
#include "runtime/Event.h"

namespace Hardware {

class DSProcReceiver;

class DSProcReceiverService {
 public:
  // Request words (type 'd').
  static constexpr uint32_t kVersion = 0x40046404;    // argument 0; result: API version
  static constexpr uint32_t kConfigure = 0x40146401;  // {ts, kind, 12 bytes}
  static constexpr uint32_t kEnable = 0x400C6402;     // {ts, id, mask}
  static constexpr uint32_t kDisable = 0x400C6403;    // {ts, 0, mask}
  // DSPROC_CONFIGURE kinds.
  enum Kind : uint32_t { kindVAD = 1, kindSD = 2, kindDelays = 32, kindRxGain = 64, kindToneFilter = 256 };
  // Feature mask bits of DSPROC_ENABLE and DSPROC_DISABLE.
  enum Feature : uint32_t {
    featureVAD = 0x1,
    featureSD = 0x2,
    featureMute1 = 0x4,
    featureMute2 = 0x8,
    featureBSS = 0x10,
    featureNG = 0x80,
    featureTones = 0x100
  };
  // Event types.
  enum Type : uint32_t { eventVAD = 0x1, eventSD = 0x2, eventBSS = 0x10, eventTone = 0x100, eventFlags = 0x200 };
  // One event record: {ts, id, type, a, b, c}.
  static constexpr size_t kEventSize = 24;

  static DSProcReceiverService* instance();

  // Opens the device unless it is open.
  void init();
  bool isOpen() const { return event_.IsActive(); }

  bool configureVAD(unsigned timeslot, LGCP::VADParams const& params);
  bool configureSD(unsigned timeslot);
  bool enableVAD(DSProcReceiver& r, bool on);
  bool enableBSS(DSProcReceiver& r, bool on);
  bool enableNG(DSProcReceiver& r, bool on);
  bool enableSD(DSProcReceiver& r, bool on);
  bool enableMute(DSProcReceiver& r, bool first, bool second);
  // These four log their failures; the result says whether the driver took
  // the request.
  bool configureDelays(unsigned timeslot, unsigned rx, unsigned tx, unsigned selcal);
  bool configureRxGain(unsigned timeslot, char gain_dB);
  bool configureToneFilter(unsigned timeslot, unsigned freq, unsigned en, int dur_th_msec,
                           int det_lvl_dB);
  bool disableToneAll(DSProcReceiver& r);

  void OnEvent(int fd, short revents);

  // Where the "signalling.events" trace switch lives; null: traces off.
  static void traceSwitch(const bool* on) { s_trace = on; }

  DSProcReceiverService(const DSProcReceiverService&) = delete;
  DSProcReceiverService& operator=(const DSProcReceiverService&) = delete;

 private:
  friend class DSProcReceiver;
  struct FeatureState;
  DSProcReceiverService();

  static bool tracing() { return s_trace && *s_trace; }
  uint32_t nextId();
  bool enableFeature(DSProcReceiver& r, const FeatureState& f, bool on);
  // Opens the device if need be; otherwise writes the not-opened line.
  bool ready(const char* notOpened, unsigned timeslot);
  // DSPROC_CONFIGURE with bytes 8 to 19 of the record.
  bool configure(unsigned timeslot, uint32_t kind, const uint8_t* payload);
  // Hands one whole record to the receivers of its time-slot that listen
  // to its type: VAD and SD to those whose feature is not off under the
  // record's id, BSS to those with BSS on, tone filters to those that set
  // one and flags to those with VAD on. A tone-filter or flags record that
  // none of them asked for goes to every receiver of the time-slot.
  void dispatch(const uint8_t* record);
  // The receivers of a time-slot, in the order they were registered.
  std::vector<DSProcReceiver*> onTimeslot(uint32_t timeslot);
  bool registered(const DSProcReceiver* r);
  // The receiver listens to records of the type carrying the id.
  static bool asked(const DSProcReceiver& r, uint32_t type, uint32_t id);

  Event event_;
  uint32_t lastId_ = 0;
  Containers::CyclicList receivers_;

  static const bool* s_trace;
};

class DSProcReceiver {
 public:
  DSProcReceiver();
  virtual ~DSProcReceiver();
  DSProcReceiver(const DSProcReceiver&) = delete;
  DSProcReceiver& operator=(const DSProcReceiver&) = delete;

  virtual void dsproc_vad_event(DSProcVADEvent const& e) = 0;
  virtual void dsproc_bss_event(::dsproc_bss_event const* e) = 0;
  virtual void dsproc_sd_event(DSProcSDEvent const& e) = 0;
  virtual void dsproc_tone_flt_event(::dsproc_tone_event const* e) = 0;
  virtual void dsproc_flags_event(::dsproc_flags_event const* e) = 0;
  virtual uint32_t dsproc_timeslot() const = 0;

  bool configureVAD(LGCP::VADParams const& params);
  bool enableVAD(bool on);
  bool disableVAD() { return enableVAD(false); }
  bool enableBSS(bool on);
  bool disableBSS() { return enableBSS(false); }
  bool enableNG(bool on);
  bool disableNG() { return enableNG(false); }
  bool configureSD();
  bool enableSD(bool on);
  bool disableSD() { return enableSD(false); }
  bool enableMute(bool first, bool second);
  bool disableMute() { return enableMute(false, false); }
  void configureDelays(unsigned rx, unsigned tx, unsigned selcal);
  void configureRxGain(char gain_dB);
  void configureToneFilter(unsigned freq, unsigned en, int dur_th_msec, int det_lvl_dB);
  void disableToneAll();
  // Switches off what this receiver switched on, except what another
  // receiver of the time-slot still has on; the owning slot calls it from
  // its own destructor.
  void CleanBeforeDestroy();

  // Feature states: -1 undetermined, 0 off, 1 on.
  int32_t vadState() const { return vadState_; }
  uint32_t vadId() const { return vadId_; }
  uint32_t sdId() const { return sdId_; }

 private:
  friend class DSProcReceiverService;
  struct Link : Containers::CyclicList {
    explicit Link(DSProcReceiver* r) : owner(r) {}
    DSProcReceiver* owner;
  };

  // The other receivers of this receiver's time-slot.
  std::vector<DSProcReceiver*> others() const;
  // This receiver's setting is now the time-slot's: the other receivers on
  // it have none of their own left to undo.
  void supersede(bool DSProcReceiver::*mark);
  // Another receiver of the time-slot has the mark, or the feature on.
  bool heldByAnother(bool DSProcReceiver::*mark) const;
  bool heldByAnother(int32_t DSProcReceiver::*state) const;
  // The mute switches were set for the time-slot: what the other receivers
  // knew of them no longer holds, and their next request goes to the driver.
  void forgetOthersMute();

  // A VAD, SD, BSS or NG state of 1: the feature is on at this receiver's
  // asking. The time-slot has one of each: an activation gives every
  // receiver that has it on the new id, and a receiver switching it off
  // switches it off for all of them.
  int32_t vadState_ = -1;
  uint32_t vadId_ = 0;
  int32_t bssState_ = 0;
  uint32_t bssId_ = 0;
  int32_t ngState_ = 0;
  uint32_t ngId_ = 0;
  int32_t sdState_ = -1;
  uint32_t sdId_ = 0;
  int32_t mute1State_ = -1;
  int32_t mute2State_ = -1;
  uint32_t muteId_ = 0;
  // The delays or the gain this receiver set are still the time-slot's.
  bool delaysSet_ = false;
  bool rxGainSet_ = false;
  // The receiver set a tone filter on, and no receiver has switched them
  // all off since.
  bool tonesOn_ = false;
  Link link_;
};

}  // namespace Hardware
