#pragma once
// The board's voice-processing DSP on "/dev/dsp": per time-slot voice
// activity detection (VAD), signal detection (SD), BSS scoring, a noise
// gate (NG), two mute switches, delays, a receive gain and tone filters.
//
// DSProcReceiverService is the one owner of the device: it issues every
// request, numbers the feature activations and reads the driver's 24-byte
// event records, handing each to the receiver of its time-slot.
// DSProcReceiver is what a slot inherits to own one time-slot's
// voice-processing functions; it remembers what it switched on so that
// CleanBeforeDestroy() can switch it off again.
//
// Records are in the host's byte order. Everything runs on the loop's
// thread.
#include <cstddef>
#include <cstdint>

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
  void configureDelays(unsigned timeslot, unsigned rx, unsigned tx, unsigned selcal);
  void configureRxGain(unsigned timeslot, char gain_dB);
  void configureToneFilter(unsigned timeslot, unsigned freq, unsigned en, int dur_th_msec,
                           int det_lvl_dB);
  void disableToneAll(DSProcReceiver& r);

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
  void dispatch(const uint8_t* record);
  DSProcReceiver* find(uint32_t timeslot);

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
  // Switches off what this receiver switched on; the owning slot calls it
  // from its own destructor.
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
  bool delaysSet_ = false;
  bool rxGainSet_ = false;
  Link link_;
};

}  // namespace Hardware
