#pragma once
// The board's conference mixer units ("/dev/mixer"), reached by the
// controller through two slot kinds, the mixer's TDM ports:
// - an input (create mixerIn) switches a sink's audio into one input
//   channel of a unit, optionally summed at once into one output channel,
//   and detects tones and voice on its time-slot;
// - an output (create mixerOut) is a source carrying one output channel,
//   the weighted sum of the inputs given at its create, with a tone
//   generator on its time-slot.
// Units are found only when the controller asks for the board's resources;
// a unit that is no longer reported aborts its ports and goes with the
// last of them.
#include <cstdint>
#include <list>
#include <ostream>
#include <vector>

#include "hardware/DSProcReceiver.h"
#include "hardware/TonecReceiver.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

namespace Mixer {

// One channel of one unit, as the driver's records name it (host order).
struct mix_slot {
  int32_t dev_no;
  int32_t type;  // 0: a TDM channel
  int32_t number;
};

// The driver's request words.
struct MixerRequest {
  static constexpr uint32_t kClear = 0x800C4D02;      // mix_slot of an output
  static constexpr uint32_t kAdd = 0x801C4D03;        // {rx, tx, gain}
  static constexpr uint32_t kRemove = 0x801C4D04;     // {rx, tx, -}
  static constexpr uint32_t kTdm = 0x800C4D06;        // mix_slot -> its switch channel
  static constexpr uint32_t kEnumerate = 0x80104D07;  // {id, tdm channels, -, mixer inputs}
};

// Full weight of an input in an output.
constexpr int32_t kFullGain = 32767;

// Issues one request on a descriptor opened for it alone; the record's
// size is the one the word announces. The driver's result, or -1 with
// errno (also that of a failed open).
int mixer_ctl(uint32_t request, void* record);

class Mixer;

class MixerSlot : public Slot {};

class TdmInput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  TdmInput(Mixer& mixer, int channel, int timeslot);
  ~TdmInput() override;

  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnInputStream() override { return true; }
  int IGetReceiveChannel() override { return timeslot_; }
  const char* GetName() const override { return "mixer tdm input"; }

  int channel() const { return channel_; }
  int summator() const { return summator_; }
  void setSummator(int s) {
    summatorSet_ = true;
    summator_ = s;
  }
  using TonecReceiver::echoCancel;

 private:
  friend class Mixer;
  uint32_t tonec_timeslot() const override { return uint32_t(timeslot_); }
  uint32_t dsproc_timeslot() const override { return uint32_t(timeslot_); }
  void tonec_event(Params const& p) override { processTonecEvent(p); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
  void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
  void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
  void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }

  Mixer& mixer_;
  int channel_;
  int timeslot_;
  bool summatorSet_ = false;
  int summator_ = -1;
};

class TdmOutput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  TdmOutput(Mixer& mixer, int channel, int timeslot);
  ~TdmOutput() override;

  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot_; }
  const char* GetName() const override { return "mixer tdm output"; }

  int channel() const { return channel_; }

 private:
  friend class Mixer;
  uint32_t tonec_timeslot() const override { return uint32_t(timeslot_); }
  uint32_t dsproc_timeslot() const override { return uint32_t(timeslot_); }
  void tonec_event(Params const&) override {}
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
  void dsproc_bss_event(::dsproc_bss_event const*) override {}
  void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
  void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
  void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }

  Mixer& mixer_;
  int channel_;
  int timeslot_;
};

// One unit. It deletes itself once it is dead and its last port is gone.
class Mixer {
 public:
  explicit Mixer(int id) : id_(uint32_t(id)) {}
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  uint32_t id() const { return id_; }
  bool isDead() const { return dead_; }
  void setDead(bool dead) { dead_ = dead; }
  const std::list<MixerSlot*>& ports() const { return ports_; }

  MixerSlot* New(const LGCP::MixerInParams& p);
  MixerSlot* New(const LGCP::MixerOutParams& p);
  // Undo what a port set up in the driver and unregister it; the unit may
  // be gone when these return.
  void Release(TdmInput& in);
  void Release(TdmOutput& out);
  // Clears every output channel.
  void Reset();
  // Aborts every port; the unit may be gone when this returns.
  void Clear();

  bool Channel2Slot(const LGCP::MixerChannel& c, mix_slot& s) const;
  bool ClearTX(const LGCP::MixerChannel& c);
  bool SetTX(const LGCP::MixerOutParams& p);
  int channel2timeslot(int channel);

  MixerSlot* Register(MixerSlot* s);
  void UnRegister(MixerSlot* s);
  void CheckForDestroy();

  void PutHeader(std::ostream& os) const { os << "mixer [" << id_ << "]: "; }

 private:
  ~Mixer() = default;
  // The channel number of a tdm channel in range, else -1.
  int tdmChannel(const LGCP::MixerChannel& c) const;

  uint32_t id_;
  bool dead_ = false;
  std::list<MixerSlot*> ports_;
};

class MixerFactory : public SlotFactory {
 public:
  // The most units the table holds.
  static constexpr size_t kMaxUnits = 100;

  static MixerFactory& instance();
  ~MixerFactory() override;

  const char* GetName() const override { return "Mixer"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;
  void PutHeader(std::ostream& os) const { os << "mixer: "; }

  Mixer* findMixer(int unit) const;
  void RefreshResources();
  void QueryDriverVersion();
  int tdm_channels() const { return tdmChannels_; }
  int mixer_inputs() const { return mixerInputs_; }
  const std::vector<Mixer*>& mixers() const { return mixers_; }
  bool versionKnown() const { return versionKnown_; }

 private:
  MixerFactory() = default;

  bool versionKnown_ = false;
  uint32_t version_[5] = {};
  int mixerInputs_ = -1;
  int tdmChannels_ = -1;
  std::vector<Mixer*> mixers_;
};

}  // namespace Mixer
