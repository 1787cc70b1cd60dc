#include "slots/Mixer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/HwMux.h"
#include "hardware/Utils.h"
#include "log/Ext.h"
#include "protocol/LGCP/LGCP.h"
#include "runtime/Fd.h"

namespace Mixer {

namespace {

struct route {
  mix_slot rx;
  mix_slot tx;
  int32_t gain;
};
static_assert(sizeof(mix_slot) == 12 && sizeof(route) == 28, "driver record sizes");

struct unit_record {
  int32_t id;
  int32_t tdm_channels;
  int32_t unused;
  int32_t mixer_inputs;
};
static_assert(sizeof(unit_record) == 16, "driver record size");

mix_slot tdm(uint32_t id, int number) { return mix_slot{int32_t(id), 0, number}; }

}  // namespace

int mixer_ctl(uint32_t request, void* record) {
  const int fd = Device::open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int result = Device::requestRecord(fd, request, record, (request >> 16) & 0x1FFF);
  const int saved = errno;
  Device::close(fd);
  errno = saved;
  return result;
}

// ---------------------------------------------------------------- ports

TdmInput::TdmInput(Mixer& mixer, int channel, int timeslot)
    : mixer_(mixer), channel_(channel), timeslot_(timeslot) {}

TdmInput::~TdmInput() {
  TonecReceiver::CleanBeforeDestroy();
  DSProcReceiver::CleanBeforeDestroy();
}

bool TdmInput::IBeforeDestroy() {
  HwMux::instance()->Disable(timeslot_);
  mixer_.Release(*this);
  return true;
}

TdmOutput::TdmOutput(Mixer& mixer, int channel, int timeslot)
    : mixer_(mixer), channel_(channel), timeslot_(timeslot) {}

TdmOutput::~TdmOutput() {
  TonecReceiver::CleanBeforeDestroy();
  DSProcReceiver::CleanBeforeDestroy();
}

bool TdmOutput::IBeforeDestroy() {
  // The time-slot is also what the unit's input on this channel hears:
  // that path is the input's while it lives.
  const std::list<MixerSlot*>& ports = mixer_.ports();
  const bool shared = std::any_of(ports.begin(), ports.end(), [this](MixerSlot* s) {
    auto* in = dynamic_cast<TdmInput*>(s);
    return in && in->IGetReceiveChannel() == timeslot_;
  });
  if (!shared) HwMux::instance()->Disable(timeslot_);
  mixer_.Release(*this);
  return true;
}

namespace {

using P = LGCP::IoctlParams;

// The delays ioctl of both kinds: the mixer has no SELCAL delay.
void delays(Mixer& unit, Hardware::DSProcReceiver& r, const LGCP::Delays& d) {
  if (d.selcal_isPresent())
    std::cerr << ext::header(&unit) << "error: selcal delay isn't supported for mixer!!! Set to zero." << std::endl;
  r.configureDelays(d.rx_isPresent() ? unsigned(d.get_rx().getValue()) : 0,
                    d.tx_isPresent() ? unsigned(d.get_tx().getValue()) : 0, 0);
}

void toneFilter(Hardware::DSProcReceiver& r, const LGCP::ToneFilter& f) {
  r.configureToneFilter(unsigned(f.get_freq().getValue()), f.get_enable() ? 1u : 0u,
                        int(f.get_duration_th_msec().getValue()), int(f.get_det_level_dB().getValue()));
}

// What both kinds serve alike; -1 for an alternative the caller decides.
int commonIoctl(Mixer& unit, Hardware::TonecReceiver& t, Hardware::DSProcReceiver& d, const P& p) {
  switch (p.currentSelection()) {
    case P::translateDTMF::id: t.translateDTMF(p.get_translateDTMF()); return 1;
    case P::dtmf_params::id: return t.configureDTMF(p.get_dtmf_params());
    case P::vad_enable::id: return d.enableVAD(p.get_vad_enable());
    case P::vad_disable::id: return d.disableVAD();
    case P::vad_params::id: return d.configureVAD(p.get_vad_params());
    case P::sd_enable::id: return d.enableSD(p.get_sd_enable());
    case P::sd_disable::id: return d.disableSD();
    case P::sd_params::id: return d.configureSD();
    case P::iva_enable::id: return t.enableIVA(p.get_iva_enable());
    case P::tone_filter::id: toneFilter(d, p.get_tone_filter()); return 1;
    case P::delays::id: delays(unit, d, p.get_delays()); return 1;
  }
  return -1;
}

}  // namespace

bool TdmInput::Ioctl(const LGCP::IoctlParams& p) {
  const int common = commonIoctl(mixer_, *this, *this, p);
  if (common >= 0) return common != 0;
  switch (p.currentSelection()) {
    case P::echoSuppressor::id: return echoCancel(p.get_echoSuppressor());
    case P::dtmf_enable::id: return enableDTMF(p.get_dtmf_enable());
    case P::dtmf_reject_enable::id: return enableDTMFReject(p.get_dtmf_reject_enable());
    case P::iva_params::id: return configureIVA(p.get_iva_params());
    case P::rx_gain::id:
      configureRxGain(char(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
      return true;
  }
  return false;
}

bool TdmOutput::Ioctl(const LGCP::IoctlParams& p) {
  const int common = commonIoctl(mixer_, *this, *this, p);
  if (common >= 0) return common != 0;
  switch (p.currentSelection()) {
    case P::dtmf_disable::id: return disableToneGenerator(false);
    case P::dtmf_reject_disable::id: return enableDTMFReject(false);
    case P::tone_gen_enable::id: {
      const LGCP::ToneGenerator& g = p.get_tone_gen_enable();
      disableToneGenerator(false);
      enableToneGenerator(uint16_t(g.get_freq().getValue()), 0, uint16_t(g.get_amp().getValue()), 0);
      return true;
    }
    case P::tone_gen_disable::id:
      disableToneGenerator(true);
      return true;
  }
  return false;
}

// ---------------------------------------------------------------- unit

int Mixer::tdmChannel(const LGCP::MixerChannel& c) const {
  if (!c.tdm_isSelected()) return -1;
  const long n = c.get_tdm().getValue();
  return n >= 0 && n < MixerFactory::instance().tdm_channels() ? int(n) : -1;
}

bool Mixer::Channel2Slot(const LGCP::MixerChannel& c, mix_slot& s) const {
  s = mix_slot{int32_t(id_), 0, 0};
  if (!c.tdm_isSelected()) return false;
  s.number = int32_t(c.get_tdm().getValue());
  return true;
}

int Mixer::channel2timeslot(int channel) {
  mix_slot s = tdm(id_, channel);
  const int ts = mixer_ctl(MixerRequest::kTdm, &s);
  if (ts >= 0) return ts;
  Errno e;
  std::cerr << ext::header(this) << "MIX_TDM dev_no=" << id_ << " type=0 number=" << channel << " fail : " << e
            << std::endl;
  return -1;
}

MixerSlot* Mixer::New(const LGCP::MixerInParams& p) {
  const int c = tdmChannel(p.get_channel());
  if (c < 0) return nullptr;
  const int ts = channel2timeslot(c);
  if (ts < 0) return nullptr;
  TdmInput* in = new TdmInput(*this, c, ts);
  if (p.summator_isPresent()) {
    const LGCP::MixerChannel& sum = p.get_summator();
    if (sum.tdm_isSelected()) {
      in->setSummator(int(sum.get_tdm().getValue()));
      route r{tdm(id_, in->summator()), tdm(id_, c), kFullGain};
      if (mixer_ctl(MixerRequest::kAdd, &r) < 0) {
        Errno e;
        std::cerr << ext::header(this) << "MIX_RX_ADD fail : " << e << std::endl;
      }
    } else {
      std::cerr << ext::header(this) << "wrong summator coding !" << std::endl;
    }
  }
  if (p.ecm_isPresent()) in->echoCancel(p.get_ecm().get_ec() || p.get_ecm().get_es());
  return Register(in);
}

MixerSlot* Mixer::New(const LGCP::MixerOutParams& p) {
  // The channel is tested before any route is programmed: a create that
  // fails must leave no route behind, nor clear another port's output.
  const int c = tdmChannel(p.get_channel());
  if (c < 0) return nullptr;
  const int ts = channel2timeslot(c);
  if (ts < 0) return nullptr;
  if (!SetTX(p)) {
    // Routes added before the failure would be owned by no port.
    ClearTX(p.get_channel());
    return nullptr;
  }
  return Register(new TdmOutput(*this, c, ts));
}

bool Mixer::ClearTX(const LGCP::MixerChannel& c) {
  mix_slot s;
  if (!Channel2Slot(c, s)) {
    std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
    return false;
  }
  if (mixer_ctl(MixerRequest::kClear, &s) < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MIX_RX_CLEAR dev_no=" << s.dev_no << " type=" << s.type
              << " number=" << s.number << " fail : " << e << std::endl;
    return false;
  }
  return true;
}

bool Mixer::SetTX(const LGCP::MixerOutParams& p) {
  if (!ClearTX(p.get_channel())) return false;
  route r{};
  if (p.get_inputs().empty()) {
    if (!Channel2Slot(p.get_channel(), r.rx)) {
      std::cerr << ext::header(this) << "SetTX error: mixer translation fail" << std::endl;
      return false;
    }
    r.tx = r.rx;
    r.gain = kFullGain;
    if (mixer_ctl(MixerRequest::kAdd, &r) < 0) {
      Errno e;
      std::cerr << ext::header(this) << "MIX_RX_ADD fail : " << e << std::endl;
      return false;
    }
    return true;
  }
  for (const LGCP::MixerInput& in : p.get_inputs()) {
    if (!Channel2Slot(p.get_channel(), r.rx)) {
      std::cerr << ext::header(this) << "SetTX error: translation fail [1]" << std::endl;
      return false;
    }
    if (!Channel2Slot(in.get_channel(), r.tx)) {
      std::cerr << ext::header(this) << "SetTX error: translation fail [2]" << std::endl;
      return false;
    }
    r.gain = int32_t(in.get_gain().getValue());
    if (mixer_ctl(MixerRequest::kAdd, &r) < 0) {
      Errno e;
      std::cerr << ext::header(this) << "MIX_RX_ADD fail : " << e << std::endl;
      return false;
    }
  }
  return true;
}

void Mixer::Release(TdmInput& in) {
  in.cutPlayout();
  if (in.summator() >= 0) {
    route r{tdm(id_, in.summator()), tdm(id_, in.channel()), 0};
    if (mixer_ctl(MixerRequest::kRemove, &r) < 0) {
      Errno e;
      std::cerr << ext::header(this) << "MIX_RX_REMOVE rx.number=" << in.summator()
                << " tx.number=" << in.channel() << " fail : " << e << std::endl;
    }
  }
  UnRegister(&in);
}

void Mixer::Release(TdmOutput& out) {
  out.cutPlayout();
  std::clog << ext::header(this) << "clear tdm output " << out.channel() << std::endl;
  mix_slot s = tdm(id_, out.channel());
  mixer_ctl(MixerRequest::kClear, &s);
  UnRegister(&out);
}

void Mixer::Reset() {
  std::clog << ext::header(this) << "clear all inputs" << std::endl;
  unsigned failures = 0;
  for (int n = 0; n < MixerFactory::instance().tdm_channels(); ++n) {
    mix_slot s = tdm(id_, n);
    if (mixer_ctl(MixerRequest::kClear, &s) < 0) ++failures;
  }
  if (failures) std::cerr << ext::header(this) << "reset fail: " << failures << " errors." << std::endl;
}

void Mixer::Clear() {
  // A port told of the abort stays until the controller destroys it.
  const std::list<MixerSlot*> ports = ports_;
  for (MixerSlot* s : ports) s->OnAbort(0);
  CheckForDestroy();
}

MixerSlot* Mixer::Register(MixerSlot* s) {
  ports_.push_back(s);
  return s;
}

void Mixer::UnRegister(MixerSlot* s) {
  ports_.remove(s);
  CheckForDestroy();
}

void Mixer::CheckForDestroy() {
  if (ports_.empty() && dead_) delete this;
}

// ---------------------------------------------------------------- factory

MixerFactory& MixerFactory::instance() {
  static MixerFactory self;
  return self;
}

MixerFactory::~MixerFactory() {
  // A unit that still has ports goes with the last of them.
  for (Mixer* m : mixers_) {
    m->setDead(true);
    m->CheckForDestroy();
  }
}

Mixer* MixerFactory::findMixer(int unit) const {
  for (Mixer* m : mixers_)
    if (!m->isDead() && m->id() == uint32_t(unit)) return m;
  return nullptr;
}

Slot* MixerFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.mixerOut_isSelected()) {
    Mixer* m = findMixer(int(params.get_mixerOut().get_unit().getValue()));
    return m ? m->New(params.get_mixerOut()) : nullptr;
  }
  if (params.mixerIn_isSelected()) {
    Mixer* m = findMixer(int(params.get_mixerIn().get_unit().getValue()));
    return m ? m->New(params.get_mixerIn()) : nullptr;
  }
  return nullptr;
}

void MixerFactory::RefreshResources() {
  for (Mixer* m : mixers_) m->setDead(true);
  unit_record rec{-1, 0, 0, 0};
  mixerInputs_ = tdmChannels_ = -1;
  // One call per unit the table can hold: a driver that repeats itself
  // cannot hold the loop. A unit still reported always stays; new ones are
  // taken while fewer than kMaxUnits are confirmed.
  size_t live = 0;
  for (size_t calls = 0; calls < kMaxUnits; ++calls) {
    if (mixer_ctl(MixerRequest::kEnumerate, &rec) < 0) break;
    mixerInputs_ = mixerInputs_ < 0 ? rec.mixer_inputs : std::min(mixerInputs_, rec.mixer_inputs);
    tdmChannels_ = tdmChannels_ < 0 ? rec.tdm_channels : std::min(tdmChannels_, rec.tdm_channels);
    auto known = std::find_if(mixers_.begin(), mixers_.end(),
                              [&](Mixer* m) { return m->id() == uint32_t(rec.id); });
    if (known != mixers_.end()) {
      if ((*known)->isDead()) ++live;
      (*known)->setDead(false);
    } else if (live < kMaxUnits) {
      mixers_.push_back(new Mixer(rec.id));
      ++live;
      mixers_.back()->Reset();
    }
  }
  std::vector<Mixer*> gone;
  std::vector<Mixer*> kept;
  for (Mixer* m : mixers_) (m->isDead() ? gone : kept).push_back(m);
  mixers_ = kept;
  // Out of the table first: a unit with no port deletes itself at once.
  for (Mixer* m : gone) m->Clear();
  QueryDriverVersion();
}

void MixerFactory::QueryDriverVersion() {
  const char* name = GetVoiceDevName();
  Fd fd(Device::open(name, O_RDONLY | O_CLOEXEC));
  if (!fd.is_valid()) {
    Errno e;
    std::cerr << "device \"" << name << "\" open fail: " << e << std::endl;
    return;
  }
  uint32_t rec[5] = {};
  versionKnown_ = Device::requestRecord(fd.lowlevel_fd(), 0x4014560A, rec, sizeof rec) >= 0;
  if (versionKnown_) std::memcpy(version_, rec, sizeof rec);
}

void MixerFactory::Query(LGCP::Resources& r) {
  RefreshResources();
  auto& list = r.ref_mixer();
  list.clear();
  for (Mixer* m : mixers_) {
    LGCP::MixerResources_subtype row;
    row.set_unit(m->id());
    row.set_tdm_inputs(std::max(tdmChannels_, 0));
    row.set_tdm_outputs(std::max(tdmChannels_, 0));
    row.set_mixer_inputs(std::max(mixerInputs_, 0));
    row.set_dpu_per_mixer(770);
    row.set_dpu_per_ec(17);
    row.set_dpu_per_lms(24);
    list.push_back(row);
  }
}

}  // namespace Mixer
