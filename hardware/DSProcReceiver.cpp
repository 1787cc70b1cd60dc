#include "hardware/DSProcReceiver.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
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
    for (DSProcReceiver* other : r.others())
      if (other->*f.state > 0) other->*f.id = id;
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
  for (DSProcReceiver* other : r.others())
    if (other->*f.state > 0) other->*f.state = 0;
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
    r.forgetOthersMute();
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
  r.forgetOthersMute();
  r.mute1State_ = r.mute2State_ = 0;
  std::cerr << "DSPROC_DISABLE MUTE done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::configureDelays(unsigned ts, unsigned rx, unsigned tx,
                                            unsigned selcal) {
  if (!ready("configure Delays fail: (interface not opened)", ts)) return false;
  uint8_t p[12] = {};
  putHost<uint32_t>(p, rx);
  putHost<uint32_t>(p + 4, tx);
  putHost<uint32_t>(p + 8, selcal);
  if (!configure(ts, kindDelays, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE DELAYS fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE DELAYS" << " ts=" << ts << " rx=" << rx << " tx=" << tx
            << " selcal=" << selcal << std::endl;
  return true;
}

bool DSProcReceiverService::configureRxGain(unsigned ts, char gain_dB) {
  if (!ready("Configure Rx gain fail: (interface not opened)", ts)) return false;
  uint8_t p[12] = {};
  p[0] = uint8_t(gain_dB);
  if (!configure(ts, kindRxGain, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE Rx Gain fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE RX GAIN" << " ts=" << ts << " gain_dB=" << unsigned(p[0])
            << std::endl;
  return true;
}

bool DSProcReceiverService::configureToneFilter(unsigned ts, unsigned freq, unsigned en,
                                                int dur_th_msec, int det_lvl_dB) {
  if (!ready("Configure Tone Filter fail: (interface not opened)", ts)) return false;
  uint8_t p[12] = {};
  putHost<uint16_t>(p, uint16_t(freq));
  p[2] = uint8_t(en);
  putHost<uint16_t>(p + 4, uint16_t(dur_th_msec));
  p[6] = uint8_t(det_lvl_dB);
  if (!configure(ts, kindToneFilter, p)) {
    ErrnoSuffix e;
    std::cerr << "DSPROC_CONFIGURE Tone Filter fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << ts << " freq=" << freq << ", en=" << en
            << ", dur_th_msec=" << dur_th_msec << ", det_lvl_dB=" << det_lvl_dB << std::endl;
  return true;
}

bool DSProcReceiverService::disableToneAll(DSProcReceiver& r) {
  const uint32_t ts = r.dsproc_timeslot();
  if (!ready("Disable All Tone fail: (interface not opened)", ts)) return false;
  uint8_t rec[12] = {};
  putHost<uint32_t>(rec, ts);
  putHost<uint32_t>(rec + 8, featureTones);
  if (Device::requestRecord(event_.lowlevel_fd(), kDisable, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "Disable All Tone fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "DISABLE ALL TONE done: " << " ts=" << ts << std::endl;
  return true;
}

std::vector<DSProcReceiver*> DSProcReceiverService::onTimeslot(uint32_t ts) {
  std::vector<DSProcReceiver*> out;
  for (auto& node : receivers_) {
    DSProcReceiver* r = static_cast<DSProcReceiver::Link&>(node).owner;
    if (r->dsproc_timeslot() == ts) out.push_back(r);
  }
  return out;
}

bool DSProcReceiverService::registered(const DSProcReceiver* r) {
  for (auto& node : receivers_)
    if (static_cast<DSProcReceiver::Link&>(node).owner == r) return true;
  return false;
}

bool DSProcReceiverService::asked(const DSProcReceiver& r, uint32_t type, uint32_t id) {
  switch (type) {
    // An undetermined state lets the id it has (0 before any request) pass.
    case eventVAD: return r.vadState_ != 0 && r.vadId_ == id;
    case eventSD: return r.sdState_ != 0 && r.sdId_ == id;
    case eventBSS: return r.bssState_ != 0;
    case eventTone: return r.tonesOn_;
    // The flags report the voice activity of the time-slot.
    case eventFlags: return r.vadState_ > 0;
  }
  return false;
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
  const std::vector<DSProcReceiver*> all = onTimeslot(ts);
  if (all.empty()) {
    if (trace) std::cerr << "receive dsproc event from unknown timeslot " << ts << std::endl;
    return;
  }
  std::vector<DSProcReceiver*> hearing;
  for (DSProcReceiver* r : all)
    if (asked(*r, type, id)) hearing.push_back(r);
  // A tone-filter or flags record that nobody there asked for is the
  // time-slot's: each of its receivers hears it.
  const bool unclaimed = hearing.empty() && (type == eventTone || type == eventFlags);
  if (unclaimed) hearing = all;
  auto dropped = [&](const char* what, bool disabled, uint32_t rid) {
    if (!trace) return;
    std::clog << "ignore spurious dsproc " << what << " event"
              << (disabled ? " (dsproc disabled): " : ": ") << " timeslot=" << ts << " id=" << id
              << " type=" << type;
    if (!disabled) std::clog << " rid=" << rid;
    std::clog << std::endl;
  };
  if (hearing.empty()) {
    // An SD record is dropped with the texts of a VAD record.
    if (type == eventVAD || type == eventSD) {
      const bool vad = type == eventVAD;
      auto open = std::find_if(all.begin(), all.end(), [vad](DSProcReceiver* r) {
        return (vad ? r->vadState_ : r->sdState_) != 0;
      });
      if (open == all.end()) return dropped("vad", true, 0);
      return dropped("vad", false, vad ? (*open)->vadId_ : (*open)->sdId_);
    }
    if (type == eventBSS) dropped("bss", true, 0);
    return;
  }
  // The payload, copied to its own aligned place.
  auto payload = [rec](auto& out) { std::memcpy(&out, rec + 12, sizeof out); };
  for (DSProcReceiver* r : hearing) {
    // One receiver's event may delete or change another before its turn.
    if (!registered(r) || r->dsproc_timeslot() != ts) continue;
    if (!unclaimed && !asked(*r, type, id)) continue;
    switch (type) {
      case eventVAD:
        r->dsproc_vad_event(DSProcVADEvent{(a & 1) ? int32_t(b) : -1, (a & 2) ? int32_t(c) : -1});
        break;
      case eventSD:
        r->dsproc_sd_event(DSProcSDEvent{int32_t(a)});
        break;
      case eventBSS: {
        ::dsproc_bss_event e;
        payload(e);
        r->dsproc_bss_event(&e);
        break;
      }
      case eventTone: {
        ::dsproc_tone_event e;
        payload(e);
        r->dsproc_tone_flt_event(&e);
        break;
      }
      case eventFlags: {
        ::dsproc_flags_event e;
        payload(e);
        r->dsproc_flags_event(&e);
        break;
      }
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
  if (DSProcReceiverService::instance()->configureDelays(dsproc_timeslot(), rx, tx, selcal))
    supersede(&DSProcReceiver::delaysSet_);
  delaysSet_ = rx || tx || selcal;
}

void DSProcReceiver::configureRxGain(char gain_dB) {
  if (DSProcReceiverService::instance()->configureRxGain(dsproc_timeslot(), gain_dB))
    supersede(&DSProcReceiver::rxGainSet_);
  rxGainSet_ = gain_dB != 0;
}

void DSProcReceiver::configureToneFilter(unsigned freq, unsigned en, int dur_th_msec,
                                         int det_lvl_dB) {
  if (DSProcReceiverService::instance()->configureToneFilter(dsproc_timeslot(), freq, en,
                                                             dur_th_msec, det_lvl_dB) &&
      en)
    tonesOn_ = true;
}

void DSProcReceiver::disableToneAll() {
  if (!DSProcReceiverService::instance()->disableToneAll(*this)) return;
  supersede(&DSProcReceiver::tonesOn_);
  tonesOn_ = false;
}

std::vector<DSProcReceiver*> DSProcReceiver::others() const {
  std::vector<DSProcReceiver*> out = DSProcReceiverService::instance()->onTimeslot(dsproc_timeslot());
  out.erase(std::remove(out.begin(), out.end(), this), out.end());
  return out;
}

void DSProcReceiver::supersede(bool DSProcReceiver::*mark) {
  for (DSProcReceiver* r : others()) r->*mark = false;
}

bool DSProcReceiver::heldByAnother(bool DSProcReceiver::*mark) const {
  for (DSProcReceiver* r : others())
    if (r->*mark) return true;
  return false;
}

bool DSProcReceiver::heldByAnother(int32_t DSProcReceiver::*state) const {
  for (DSProcReceiver* r : others())
    if (r->*state > 0) return true;
  return false;
}

void DSProcReceiver::forgetOthersMute() {
  for (DSProcReceiver* r : others()) r->mute1State_ = r->mute2State_ = -1;
}

void DSProcReceiver::CleanBeforeDestroy() {
  // A feature another receiver of the time-slot still has on stays on for
  // it.
  auto release = [this](int32_t DSProcReceiver::*state, bool (DSProcReceiver::*off)()) {
    if (this->*state <= 0) return;
    if (heldByAnother(state))
      this->*state = 0;
    else
      (this->*off)();
  };
  release(&DSProcReceiver::vadState_, &DSProcReceiver::disableVAD);
  release(&DSProcReceiver::bssState_, &DSProcReceiver::disableBSS);
  release(&DSProcReceiver::ngState_, &DSProcReceiver::disableNG);
  if (delaysSet_) configureDelays(0, 0, 0);
  if (rxGainSet_) configureRxGain(0);
  if (heldByAnother(&DSProcReceiver::tonesOn_))
    tonesOn_ = false;
  else
    disableToneAll();
}

}  // namespace Hardware
