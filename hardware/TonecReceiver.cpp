#include "hardware/TonecReceiver.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/DspRecord.h"
#include "hardware/Utils.h"

namespace Hardware {

namespace {

// The fields of an event record, as every event line prints them.
struct EventFields {
  const uint8_t* rec;
};

std::ostream& operator<<(std::ostream& out, EventFields const& f) {
  return out << " timestamp=" << getHost<uint32_t>(f.rec + 8)
             << " timeslot=" << getHost<uint32_t>(f.rec + 4)
             << " code=" << getHost<uint32_t>(f.rec) << " id=" << getHost<uint32_t>(f.rec + 12);
}

// A duration from the controller: a negative one counts as none at all.
unsigned duration(int ms) { return ms < 0 ? 0u : unsigned(ms); }

}  // namespace

// ---------------------------------------------------------------------------
// The service

TonecReceiverService* TonecReceiverService::instance() {
  static TonecReceiverService service;
  return &service;
}

TonecReceiverService::TonecReceiverService() { init(); }

void TonecReceiverService::init() {
  if (isOpen()) return;
  int fd = Device::open(GetDTMFDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << "open tonec fail, DTMF proceeding disabled: " << e << std::endl;
    return;
  }
  Fd owned(fd);  // the event keeps a duplicate of its own
  event_.Bind<TonecReceiverService>("TonecReceiverService::OnEvent",
                                    &TonecReceiverService::OnEvent, this);
  event_.Schedule(owned, POLLIN);
}

bool TonecReceiverService::configureDTMF(unsigned ts, LGCP::DTMFParams const& params) {
  if (!isOpen()) init();
  if (!isOpen()) {
    std::cerr << "configure DTMF fail: (interface not opened)" << " timeslot=" << ts << std::endl;
    return false;
  }
  const auto& th = params.get_threshold();
  uint32_t twist = th.get_twist().getValue(), ratio = th.get_ratio().getValue(),
           noise = th.get_noise().getValue(),
           silence = params.get_level().get_silence().getValue();
  uint8_t rec[20] = {};
  putHost<uint32_t>(rec, ts);
  putHost<uint32_t>(rec + 4, twist);
  putHost<uint32_t>(rec + 8, ratio);
  putHost<uint32_t>(rec + 12, silence);
  putHost<uint32_t>(rec + 16, noise);
  if (Device::requestRecord(event_.lowlevel_fd(), kConfigureDetector, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "DTMF_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR" << " ts=" << ts << " twist=" << twist
            << " ratio=" << ratio << " noise=" << noise << " silence=" << silence << std::endl;
  return true;
}

bool TonecReceiverService::switchRequest(uint32_t word, unsigned ts, const char* stem,
                                         const char* suffix) {
  if (Device::requestValue(event_.lowlevel_fd(), word, long(ts)) == -1) {
    ErrnoSuffix e;
    std::cerr << stem << suffix << " fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << stem << suffix << "[" << ts << "] ok" << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(unsigned ts, bool on) {
  return switchRequest(on ? kLmsOn : kLmsOff, ts, "CHANNEL_LMS", on ? "_ON" : "_OFF");
}

bool TonecReceiverService::enableDTMFReject(unsigned ts, bool on) {
  return switchRequest(on ? kRejectionEnable : kRejectionDisable, ts, "DTMF_REJECTION",
                       on ? "_ENABLE" : "_DISABLE");
}

bool TonecReceiverService::enableDTMF(TonecReceiver& r, bool on) {
  // The DTMF detector's own state: an IVA detector that is on says nothing
  // about it.
  if (r.dtmfOn_ == on) return true;
  const uint32_t ts = r.tonec_timeslot();
  if (on) {
    if (++lastId_ == 0) lastId_ = 1;
    const uint32_t id = lastId_;
    uint8_t rec[8] = {};
    putHost<uint32_t>(rec, ts);
    putHost<uint32_t>(rec + 4, id);
    if (Device::requestRecord(event_.lowlevel_fd(), kEnableDetector, rec, sizeof rec) == -1) {
      ErrnoSuffix e;
      std::cerr << "DTMF_ENABLE_DETECTOR fail:" << " timeslot=" << ts << " id=" << id << e
                << std::endl;
      return false;
    }
    r.detectorId_ = id;
    r.dtmfOn_ = true;
    // The time-slot has one detector: a receiver already listening to it
    // hears it under its new id.
    for (TonecReceiver* other : r.others())
      if (other->dtmfOn_) other->detectorId_ = id;
    std::cerr << "DTMF_ENABLE_DETECTOR done:" << " timeslot=" << ts << " id=" << id << std::endl;
    return true;
  }
  if (Device::requestValue(event_.lowlevel_fd(), kDisableDetector, long(ts)) == -1) {
    ErrnoSuffix e;
    std::cerr << "DTMF_DISABLE_DETECTOR fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  r.supersede(&TonecReceiver::dtmfOn_);
  r.dtmfOn_ = false;
  std::cerr << "DTMF_DISABLE_DETECTOR done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned ts, uint16_t freq1, uint16_t freq2,
                                               uint16_t amp1, uint16_t amp2) {
  uint8_t rec[12] = {};
  putHost<uint32_t>(rec, ts);
  putHost<uint16_t>(rec + 4, freq1);
  putHost<uint16_t>(rec + 6, freq2);
  putHost<uint16_t>(rec + 8, amp1);
  putHost<uint16_t>(rec + 10, amp2);
  if (Device::requestRecord(event_.lowlevel_fd(), kDial, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "DTMF_DIAL fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& r, LGCP::IVAParams const& params) {
  const uint32_t ts = r.tonec_timeslot();
  if (!isOpen()) init();
  if (!isOpen()) {
    std::cerr << "configure IVA fail: (interface not opened)" << " timeslot=" << ts << std::endl;
    return false;
  }
  const int32_t level = params.get_det_lvl_dB().getValue();
  uint8_t rec[8] = {};
  putHost<uint32_t>(rec, ts);
  putHost<int32_t>(rec + 4, level);
  if (Device::requestRecord(event_.lowlevel_fd(), kIvaConfigure, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "IVA_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << e << std::endl;
    return false;
  }
  std::clog << "IVA_CONFIGURE_DETECTOR" << " ts=" << ts << " det_lvl_dB=" << level << std::endl;
  return true;
}

bool TonecReceiverService::enableIVA(TonecReceiver& r, bool on) {
  if (!switchRequest(on ? kIvaEnable : kIvaDisable, r.tonec_timeslot(), "IVA_DETECTOR",
                     on ? "_ENABLE" : "_DISABLE"))
    return false;
  if (!on) r.supersede(&TonecReceiver::ivaOn_);
  r.ivaOn_ = on;
  return true;
}

void TonecReceiverService::translateSelcal(TonecReceiver& r, TERM::SelcalCommand const& cmd) {
  const uint32_t ts = r.tonec_timeslot();
  const std::string& signs = cmd.get_signs();
  if (signs.size() < 4) {
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << " incorect signs:" << signs
              << std::endl;
    return;
  }
  uint8_t rec[12] = {};
  putHost<uint32_t>(rec, ts);
  putHost<uint16_t>(rec + 4,
                    cmd.amp_isPresent() ? uint16_t(cmd.get_amp().getValue()) : kSelcalAmp);
  std::memcpy(rec + 6, signs.data(), 4);
  if (Device::requestRecord(event_.lowlevel_fd(), kSelcalDial, rec, sizeof rec) == -1) {
    ErrnoSuffix e;
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << e << std::endl;
  }
}

std::vector<TonecReceiver*> TonecReceiverService::onTimeslot(uint32_t ts) {
  std::vector<TonecReceiver*> out;
  for (auto& node : receivers_) {
    TonecReceiver* r = static_cast<TonecReceiver::Link&>(node).owner;
    if (r->tonec_timeslot() == ts) out.push_back(r);
  }
  return out;
}

bool TonecReceiverService::registered(const TonecReceiver* r) {
  for (auto& node : receivers_)
    if (static_cast<TonecReceiver::Link&>(node).owner == r) return true;
  return false;
}

bool TonecReceiverService::hears(const TonecReceiver& r, uint32_t ts, uint32_t id) {
  return r.tonec_timeslot() == ts && r.detectorOn() && r.detectorId_ == id;
}

void TonecReceiverService::dispatch(const uint8_t* rec) {
  const uint32_t ts = getHost<uint32_t>(rec + 4);
  const uint32_t id = getHost<uint32_t>(rec + 12);
  std::clog << "dtmf event: " << EventFields{rec} << std::endl;
  const std::vector<TonecReceiver*> all = onTimeslot(ts);
  if (all.empty()) {
    std::cerr << "receive tonec event from unknown timeslot " << ts << std::endl;
    return;
  }
  std::vector<TonecReceiver*> hearing;
  for (TonecReceiver* r : all)
    if (hears(*r, ts, id)) hearing.push_back(r);
  if (hearing.empty()) {
    auto open = std::find_if(all.begin(), all.end(),
                             [](TonecReceiver* r) { return r->detectorOn(); });
    if (open == all.end())
      std::clog << "ignore spurious dtmf event (DTMF disabled): " << EventFields{rec} << std::endl;
    else
      std::clog << "ignore spurious dtmf event: " << EventFields{rec}
                << " rid=" << (*open)->detectorId_ << std::endl;
    return;
  }
  const TonecReceiver::Params p{getHost<uint32_t>(rec), getHost<uint32_t>(rec + 8)};
  // One receiver's event may delete another before its turn.
  for (TonecReceiver* r : hearing)
    if (registered(r) && hears(*r, ts, id)) r->tonec_event(p);
}

void TonecReceiverService::OnEvent(int, short revents) {
  readEventRecords(event_, revents, kEventSize, "tonec",
                   [this](const uint8_t* rec) { dispatch(rec); });
}

// ---------------------------------------------------------------------------
// The receiver

TonecReceiver::TonecReceiver() : link_(this) {
  TonecReceiverService::instance()->receivers_.AddToTail(&link_);
}

TonecReceiver::~TonecReceiver() = default;

bool TonecReceiver::configureDTMF(LGCP::DTMFParams const& params) {
  return TonecReceiverService::instance()->configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) {
  return TonecReceiverService::instance()->enableDTMF(*this, on);
}

bool TonecReceiver::disableDTMF() { return enableDTMF(false); }

std::vector<TonecReceiver*> TonecReceiver::others() const {
  std::vector<TonecReceiver*> out = TonecReceiverService::instance()->onTimeslot(tonec_timeslot());
  out.erase(std::remove(out.begin(), out.end(), this), out.end());
  return out;
}

void TonecReceiver::supersede(bool TonecReceiver::*setting) {
  for (TonecReceiver* r : others()) r->*setting = false;
}

bool TonecReceiver::heldByAnother(bool TonecReceiver::*setting) const {
  for (TonecReceiver* r : others())
    if (r->*setting) return true;
  return false;
}

bool TonecReceiver::echoCancel(bool on) {
  if (!TonecReceiverService::instance()->echoCancel(tonec_timeslot(), on)) return false;
  supersede(&TonecReceiver::lmsOn_);
  lmsOn_ = on;
  return true;
}

bool TonecReceiver::enableDTMFReject(bool on) {
  if (!TonecReceiverService::instance()->enableDTMFReject(tonec_timeslot(), on)) return false;
  if (!on) supersede(&TonecReceiver::rejectionOn_);
  rejectionOn_ = on;
  return true;
}

bool TonecReceiver::configureIVA(LGCP::IVAParams const& params) {
  return TonecReceiverService::instance()->configureIVA(*this, params);
}

bool TonecReceiver::enableIVA(bool on) {
  return TonecReceiverService::instance()->enableIVA(*this, on);
}

bool TonecReceiver::enableToneGenerator(uint16_t freq1, uint16_t freq2, uint16_t amp1,
                                        uint16_t amp2) {
  if (!TonecReceiverService::instance()->enableToneGenerator(tonec_timeslot(), freq1, freq2, amp1,
                                                              amp2))
    return false;
  supersede(&TonecReceiver::generatorOn_);
  generatorOn_ = freq1 || freq2 || amp1 || amp2;
  return true;
}

bool TonecReceiver::enableSilence() {
  return enableToneGenerator(kSilenceFreq, kSilenceFreq, 0, 0);
}

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !inPlayout_) return false;
  if (inPlayout_) {
    timer_.reset();
    inPlayout_ = false;
  }
  return enableToneGenerator(0, 0, 0, 0);
}

void TonecReceiver::cutPlayout() {
  if (!inPlayout_) return;
  if (generatorOn_) {
    enableSilence();
    disableToneGenerator(true);
    return;
  }
  timer_.reset();
  inPlayout_ = false;
}

void TonecReceiver::translateDTMF(LGCP::TranslateDtmfParams const& params) {
  playout_ = params;
  if (inPlayout_) return;  // the step under way goes on with the new digits
  inPlayout_ = true;
  on_DTMFPauseFinish(&timer_);
}

void TonecReceiver::on_DTMFPauseFinish(Timer*) {
  auto& digits = playout_.ref_digits();
  if (digits.empty()) {
    disableToneGenerator(true);
    tone_gen_complete();
    return;
  }
  const LGCP::DualTone& d = digits[0];
  uint16_t amp1 = playout_.amp1_isPresent() ? uint16_t(playout_.get_amp1().getValue()) : kDigitAmp;
  uint16_t amp2 = playout_.amp2_isPresent() ? uint16_t(playout_.get_amp2().getValue()) : kDigitAmp;
  enableToneGenerator(uint16_t(d.get_freq1().getValue()), uint16_t(d.get_freq2().getValue()),
                      amp1, amp2);
  digits.erase(digits.begin());
  timer_.set(playout_.toneDuration_isPresent() ? duration(playout_.get_toneDuration().getValue())
                                             : kToneDuration,
             &TonecReceiver::on_DTMFToneFinish, this);
}

void TonecReceiver::on_DTMFToneFinish(Timer*) {
  enableSilence();
  timer_.set(playout_.pauseDuration_isPresent() ? duration(playout_.get_pauseDuration().getValue())
                                              : kPauseDuration,
             &TonecReceiver::on_DTMFPauseFinish, this);
}

void TonecReceiver::translateSelcal(TERM::SelcalCommand const& cmd) {
  TonecReceiverService::instance()->translateSelcal(*this, cmd);
}

void TonecReceiver::activateAudibleCall() {
  // The wait tone takes the timer: a playout under way ends here, and is
  // reported as ended, so that the wait tone can be cancelled and the
  // controller is not left waiting for the end of its digits.
  const bool cutPlayout = inPlayout_;
  if (cutPlayout) {
    inPlayout_ = false;
    playout_.ref_digits().clear();
  }
  on_waitPauseFinish(&timer_);
  if (cutPlayout) tone_gen_complete();
}

void TonecReceiver::on_waitPauseFinish(Timer*) {
  enableToneGenerator(kWaitFreq, 0, kWaitAmp, kWaitAmp);
  timer_.set(kWaitToneOn, &TonecReceiver::on_waitToneFinish, this);
}

void TonecReceiver::on_waitToneFinish(Timer*) {
  enableSilence();
  timer_.set(kWaitToneOff, &TonecReceiver::on_waitPauseFinish, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (inPlayout_) return;
  timer_.reset();
  enableToneGenerator(0, 0, 0, 0);
}

void TonecReceiver::CleanBeforeDestroy() {
  // A detector, or the rejection, that another receiver of the time-slot
  // asked for stays on for it.
  if (dtmfOn_) {
    if (heldByAnother(&TonecReceiver::dtmfOn_))
      dtmfOn_ = false;
    else
      disableDTMF();
  }
  if (ivaOn_) {
    if (heldByAnother(&TonecReceiver::ivaOn_))
      ivaOn_ = false;
    else
      enableIVA(false);
  }
  if (rejectionOn_) {
    if (heldByAnother(&TonecReceiver::rejectionOn_))
      rejectionOn_ = false;
    else
      enableDTMFReject(false);
  }
  // A playout or wait tone cut here ends quietly: its slot is going, and
  // nobody waits for its completion.
  timer_.reset();
  inPlayout_ = false;
  if (generatorOn_) enableToneGenerator(0, 0, 0, 0);
  if (lmsOn_) echoCancel(false);
}

}  // namespace Hardware
