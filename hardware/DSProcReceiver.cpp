#include "hardware/DSProcReceiver.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/DspRecord.h"
#include "hardware/Utils.h"
#include "protocol/TERM/TERM.h"

namespace Hardware {

const bool* DSProcReceiverService::s_trace = nullptr;

// One feature of the enable family: its mask bit, its name in the log and
// where a receiver keeps its state and id.
struct DSProcReceiverService::FeatureState {
  uint32_t bit;
  const char* name;
  int32_t DSProcReceiver::*state;
  uint32_t DSProcReceiver::*id;
};

// ---------------------------------------------------------------------------
// The service

DSProcReceiverService* DSProcReceiverService::instance() {
  static DSProcReceiverService service;
  return &service;
}

DSProcReceiverService::DSProcReceiverService() { init(); }

void DSProcReceiverService::init() {
  if (isOpen()) return;
  int fd = Device::open(GetDSPDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << "open dsproc fail, VAD proceeding disabled: " << e << std::endl;
    return;
  }
  Fd owned(fd);  // the event keeps a duplicate of its own
  event_.Bind<DSProcReceiverService>("DSProcReceiverService::OnEvent",
                                     &DSProcReceiverService::OnEvent, this);
  event_.Schedule(owned, POLLIN);
}

uint32_t DSProcReceiverService::nextId() {
  if (++lastId_ == 0) lastId_ = 1;
  return lastId_;
}

bool DSProcReceiverService::ready(const char* notOpened, unsigned ts) {
  if (!isOpen()) init();
  if (isOpen()) return true;
  std::cerr << notOpened << " timeslot=" << ts << std::endl;
  return false;
}

bool DSProcReceiverService::configure(unsigned ts, uint32_t kind, const uint8_t* payload) {
  uint8_t rec[20] = {};
  putHost<uint32_t>(rec, ts);
  putHost<uint32_t>(rec + 4, kind);
  std::memcpy(rec + 8, payload, 12);
  return Device::requestRecord(event_.lowlevel_fd(), kConfigure, rec, sizeof rec) != -1;
}

bool DSProcReceiverService::configureVAD(unsigned ts, LGCP::VADParams const& params) {
  if (!ready("configure VAD fail: (interface not opened)", ts)) return false;
  uint8_t p[12] = {};
  if (Device::requestValue(event_.lowlevel_fd(), kVersion, 0) == 2) {
    if (!params.v2_isSelected()) {
      std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: " << " timeslot=" << ts
                << std::endl;
      return false;
    }
    const TERM::VADParamsV2& v2 = params.get_v2();
    putHost<uint16_t>(p, uint16_t(v2.get_voice_th_msec().getValue()));
    putHost<uint16_t>(p + 2, uint16_t(v2.get_silence_th_msec().getValue()));
    p[4] = uint8_t(v2.get_e_th_dB().getValue());
  } else {
    putHost<uint32_t>(p, 3);
    putHost<uint32_t>(p + 4, 127);
    putHost<uint32_t>(p + 8, 0);
  }
  if (!configure(ts, kindVAD, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE VAD fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE VAD" << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::configureSD(unsigned ts) {
  if (!ready("configure SD fail: (interface not opened)", ts)) return false;
  const uint8_t p[12] = {};
  if (!configure(ts, kindSD, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE SD fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE SD" << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::enableFeature(DSProcReceiver& r, const FeatureState& f, bool on) {
  int32_t& state = r.*f.state;
  // -1 is undetermined: it never counts as already there.
  if (state >= 0 && (state != 0) == on) return true;
  const uint32_t ts = r.dsproc_timeslot();
  uint8_t rec[12] = {};
  putHost<uint32_t>(rec, ts);
  putHost<uint32_t>(rec + 8, f.bit);
  if (on) {
    const uint32_t id = nextId();
    putHost<uint32_t>(rec + 4, id);
    if (Device::requestRecord(event_.lowlevel_fd(), kEnable, rec, sizeof rec) == -1) {
      ErrnoSuffix e;
      std::cerr << "DSPROC_ENABLE " << f.name << " fail:" << " timeslot=" << ts << " id=" << id
                << e << std::endl;
      return false;
    }
    r.*f.id = id;
    state = 1;
    std::cerr << "DSPROC_ENABLE " << f.name << " done:" << " timeslot=" << ts << " id=" << id
              << std::endl;
    return true;
  }
  if (Device::requestRecord(event_.lowlevel_fd(), kDisable, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_DISABLE " << f.name << " fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  state = 0;
  std::cerr << "DSPROC_DISABLE " << f.name << " done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& r, bool on) {
  static const FeatureState f{featureVAD, "VAD", &DSProcReceiver::vadState_,
                              &DSProcReceiver::vadId_};
  return enableFeature(r, f, on);
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& r, bool on) {
  static const FeatureState f{featureBSS, "BSS", &DSProcReceiver::bssState_,
                              &DSProcReceiver::bssId_};
  return enableFeature(r, f, on);
}

bool DSProcReceiverService::enableNG(DSProcReceiver& r, bool on) {
  static const FeatureState f{featureNG, "NG", &DSProcReceiver::ngState_, &DSProcReceiver::ngId_};
  return enableFeature(r, f, on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& r, bool on) {
  static const FeatureState f{featureSD, "SD", &DSProcReceiver::sdState_, &DSProcReceiver::sdId_};
  return enableFeature(r, f, on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& r, bool first, bool second) {
  if (r.mute1State_ >= 0 && r.mute2State_ >= 0 && (r.mute1State_ != 0) == first &&
      (r.mute2State_ != 0) == second)
    return true;
  const uint32_t ts = r.dsproc_timeslot();
  uint8_t rec[12] = {};
  putHost<uint32_t>(rec, ts);
  if (first || second) {
    const uint32_t id = nextId();
    putHost<uint32_t>(rec + 4, id);
    putHost<uint32_t>(rec + 8, (first ? featureMute1 : 0u) | (second ? featureMute2 : 0u));
    if (Device::requestRecord(event_.lowlevel_fd(), kEnable, rec, sizeof rec) == -1) {
      ErrnoSuffix e;
      std::cerr << "DSPROC_ENABLE MUTE fail:" << " timeslot=" << ts << " id=" << id << e
                << std::endl;
      return false;
    }
    r.muteId_ = id;
    r.mute1State_ = first ? 1 : 0;
    r.mute2State_ = second ? 1 : 0;
    std::cerr << "DSPROC_ENABLE MUTE done:" << " timeslot=" << ts << " id=" << id << std::endl;
    return true;
  }
  putHost<uint32_t>(rec + 8, featureMute1 | featureMute2);
  if (Device::requestRecord(event_.lowlevel_fd(), kDisable, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_DISABLE MUTE fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  r.mute1State_ = r.mute2State_ = 0;
  std::cerr << "DSPROC_DISABLE MUTE done:" << " timeslot=" << ts << std::endl;
  return true;
}

void DSProcReceiverService::configureDelays(unsigned ts, unsigned rx, unsigned tx,
                                            unsigned selcal) {
  if (!ready("configure Delays fail: (interface not opened)", ts)) return;
  uint8_t p[12] = {};
  putHost<uint32_t>(p, rx);
  putHost<uint32_t>(p + 4, tx);
  putHost<uint32_t>(p + 8, selcal);
  if (!configure(ts, kindDelays, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE DELAYS fail:" << " timeslot=" << ts << e << std::endl;
    return;
  }
  std::clog << "DSPROC_CONFIGURE DELAYS" << " ts=" << ts << " rx=" << rx << " tx=" << tx
            << " selcal=" << selcal << std::endl;
}

void DSProcReceiverService::configureRxGain(unsigned ts, char gain_dB) {
  if (!ready("Configure Rx gain fail: (interface not opened)", ts)) return;
  uint8_t p[12] = {};
  p[0] = uint8_t(gain_dB);
  if (!configure(ts, kindRxGain, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE Rx Gain fail:" << " timeslot=" << ts << e << std::endl;
    return;
  }
  std::clog << "DSPROC_CONFIGURE RX GAIN" << " ts=" << ts << " gain_dB=" << unsigned(p[0])
            << std::endl;
}

void DSProcReceiverService::configureToneFilter(unsigned ts, unsigned freq, unsigned en,
                                                int dur_th_msec, int det_lvl_dB) {
  if (!ready("Configure Tone Filter fail: (interface not opened)", ts)) return;
  uint8_t p[12] = {};
  putHost<uint16_t>(p, uint16_t(freq));
  p[2] = uint8_t(en);
  putHost<uint16_t>(p + 4, uint16_t(dur_th_msec));
  p[6] = uint8_t(det_lvl_dB);
  if (!configure(ts, kindToneFilter, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE Tone Filter fail:" << " timeslot=" << ts << e << std::endl;
    return;
  }
  std::clog << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << ts << " freq=" << freq << ", en=" << en
            << ", dur_th_msec=" << dur_th_msec << ", det_lvl_dB=" << det_lvl_dB << std::endl;
}

void DSProcReceiverService::disableToneAll(DSProcReceiver& r) {
  const uint32_t ts = r.dsproc_timeslot();
  if (!ready("Disable All Tone fail: (interface not opened)", ts)) return;
  uint8_t rec[12] = {};
  putHost<uint32_t>(rec, ts);
  putHost<uint32_t>(rec + 8, featureTones);
  if (Device::requestRecord(event_.lowlevel_fd(), kDisable, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "Disable All Tone fail:" << " timeslot=" << ts << e << std::endl;
    return;
  }
  std::clog << "DISABLE ALL TONE done: " << " ts=" << ts << std::endl;
}

DSProcReceiver* DSProcReceiverService::find(uint32_t ts) {
  for (auto& node : receivers_) {
    DSProcReceiver* r = static_cast<DSProcReceiver::Link&>(node).owner;
    if (r->dsproc_timeslot() == ts) return r;
  }
  return nullptr;
}

void DSProcReceiverService::dispatch(const uint8_t* rec) {
  const uint32_t ts = getHost<uint32_t>(rec);
  const uint32_t id = getHost<uint32_t>(rec + 4);
  const uint32_t type = getHost<uint32_t>(rec + 8);
  const uint32_t a = getHost<uint32_t>(rec + 12);
  const uint32_t b = getHost<uint32_t>(rec + 16);
  const uint32_t c = getHost<uint32_t>(rec + 20);
  const bool trace = tracing();
  if (trace) {
    std::clog << "dsproc event: " << " timeslot=" << ts << " id=" << id << " type=" << type
              << std::endl;
    switch (type) {
      case eventVAD:
        std::clog << "dsproc vad event: " << " dir_mask=" << a << " vad_rx=" << int32_t(b)
                  << " vad_tx=" << int32_t(c) << std::endl;
        break;
      case eventSD:
        std::clog << "dsproc sd event: " << " sd_rx=" << int32_t(a) << std::endl;
        break;
      case eventBSS:
        std::clog << "dsproc bss event: " << " score=" << getHost<float>(rec + 12) << std::endl;
        break;
      case eventFlags:
        std::clog << "dsproc flags event: " << " flags=" << std::hex << a << ", mask=" << b
                  << std::dec << std::endl;
        break;
    }
  }
  DSProcReceiver* r = find(ts);
  if (!r) {
    if (trace) std::cerr << "receive dsproc event from unknown timeslot " << ts << std::endl;
    return;
  }
  // The payload, copied to its own aligned place.
  auto payload = [rec](auto& out) { std::memcpy(&out, rec + 12, sizeof out); };
  auto dropped = [&](const char* what, bool disabled, uint32_t rid) {
    if (!trace) return;
    std::clog << "ignore spurious dsproc " << what << " event"
              << (disabled ? " (dsproc disabled): " : ": ") << " timeslot=" << ts << " id=" << id
              << " type=" << type;
    if (!disabled) std::clog << " rid=" << rid;
    std::clog << std::endl;
  };
  switch (type) {
    case eventVAD:
      if (r->vadState_ == 0) return dropped("vad", true, 0);
      if (id != r->vadId_) return dropped("vad", false, r->vadId_);
      r->dsproc_vad_event(DSProcVADEvent{(a & 1) ? int32_t(b) : -1, (a & 2) ? int32_t(c) : -1});
      return;
    case eventSD:
      // An SD record is dropped with the texts of a VAD record.
      if (r->sdState_ == 0) return dropped("vad", true, 0);
      if (id != r->sdId_) return dropped("vad", false, r->sdId_);
      r->dsproc_sd_event(DSProcSDEvent{int32_t(a)});
      return;
    case eventBSS: {
      if (r->bssState_ == 0) return dropped("bss", true, 0);
      ::dsproc_bss_event e;
      payload(e);
      r->dsproc_bss_event(&e);
      return;
    }
    case eventTone: {
      ::dsproc_tone_event e;
      payload(e);
      r->dsproc_tone_flt_event(&e);
      return;
    }
    case eventFlags: {
      ::dsproc_flags_event e;
      payload(e);
      r->dsproc_flags_event(&e);
      return;
    }
  }
}

void DSProcReceiverService::OnEvent(int, short revents) {
  readEventRecords(event_, revents, kEventSize, "dsproc",
                   [this](const uint8_t* rec) { dispatch(rec); });
}

// ---------------------------------------------------------------------------
// The receiver

DSProcReceiver::DSProcReceiver() : link_(this) {
  DSProcReceiverService::instance()->receivers_.AddToTail(&link_);
}

DSProcReceiver::~DSProcReceiver() = default;

bool DSProcReceiver::configureVAD(LGCP::VADParams const& params) {
  return DSProcReceiverService::instance()->configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::enableVAD(bool on) { return DSProcReceiverService::instance()->enableVAD(*this, on); }

bool DSProcReceiver::enableBSS(bool on) { return DSProcReceiverService::instance()->enableBSS(*this, on); }

bool DSProcReceiver::enableNG(bool on) { return DSProcReceiverService::instance()->enableNG(*this, on); }

bool DSProcReceiver::configureSD() {
  return DSProcReceiverService::instance()->configureSD(dsproc_timeslot());
}

bool DSProcReceiver::enableSD(bool on) { return DSProcReceiverService::instance()->enableSD(*this, on); }

bool DSProcReceiver::enableMute(bool first, bool second) {
  return DSProcReceiverService::instance()->enableMute(*this, first, second);
}

void DSProcReceiver::configureDelays(unsigned rx, unsigned tx, unsigned selcal) {
  DSProcReceiverService::instance()->configureDelays(dsproc_timeslot(), rx, tx, selcal);
  delaysSet_ = rx || tx || selcal;
}

void DSProcReceiver::configureRxGain(char gain_dB) {
  DSProcReceiverService::instance()->configureRxGain(dsproc_timeslot(), gain_dB);
  rxGainSet_ = gain_dB != 0;
}

void DSProcReceiver::configureToneFilter(unsigned freq, unsigned en, int dur_th_msec,
                                         int det_lvl_dB) {
  DSProcReceiverService::instance()->configureToneFilter(dsproc_timeslot(), freq, en, dur_th_msec,
                                                         det_lvl_dB);
}

void DSProcReceiver::disableToneAll() { DSProcReceiverService::instance()->disableToneAll(*this); }

void DSProcReceiver::CleanBeforeDestroy() {
  if (vadState_ > 0) enableVAD(false);
  if (bssState_ > 0) disableBSS();
  if (ngState_ > 0) disableNG();
  if (delaysSet_) configureDelays(0, 0, 0);
  if (rxGainSet_) configureRxGain(0);
  disableToneAll();
}

}  // namespace Hardware
