#pragma once
// The LEMZ radio control: the protocol engine of one LEMZ radio channel,
// between the controller's TERM radio values (through the slot) and the
// LEMZ packets on the header-extension channel. It keeps the radio state
// both ways, turns controller changes into packets and received packets
// into reports, applies the access rule, and on the gateway side repeats
// the status packets on the status timer.
#include <cstdint>

#include "rtp/LemzProto.h"
#include "rtp/RadioControl.h"

namespace RTPSignalling {

// The radio state of one side: 91 words, in this order.
struct LemzRadioState {
  int32_t command = 0;  // packet type described; 0 or less: every field applies
  int32_t priority = 15;  // lower wins
  int32_t flag_p = 0;  // PTT held
  uint32_t session_addr = 0;  // transmitting session, network order
  uint32_t ssrc = 0;
  char callerID[256] = {};  // NUL-terminated
  int32_t flag_b = 0;
  int32_t flag_r = 0;
  int32_t flag_t = 0;
  int32_t flag_s = 0;  // squelch open
  int32_t flag_sh = 0;
  int32_t flag_pw = 0;
  int32_t flag_rv = 0;
  int32_t flag_rs = 0;
  int32_t flag_c = 0;  // 0..3
  int32_t status = 0;  // 0..511
  int32_t rc_interface = 0;
  int32_t rc_channel = 0;
  int32_t chan_id = 0;
  float freq = 0.0f;
  // -1: not set yet
  int32_t squelsh = -1;
  int32_t rte = -1;
  int32_t standby_state = -1;
  int32_t standby_group = -1;
  int32_t standby_receiver_state = -1;
  float radio_quality = 0.0f;
  uint32_t source_addr = 0;  // the packet's sender, or the modifier's session
  uint32_t source_ssrc = 0;
};

static_assert(sizeof(LemzRadioState) == 91 * 4, "LemzRadioState");

bool isPTTCommand(int command);
bool isDefaultInitCommand(int command);

class LemzRadioControl : public RadioControl {
 public:
  // Status groups of the cycle, by the time of their last send.
  enum Group { FlagGroup = 0, ChanGroup = 1, RemoteGroup = 2, StandbyGroup = 3, Groups = 4 };
  // A group is resent once more than this has passed since its last send.
  static constexpr uint32_t kResendAfter = 999;
  // The tick after the oldest group falls due comes this much later.
  static constexpr uint32_t kTickSlack = 10;
  // Packets one readiness event reads at most; the rest wait for the next
  // pass, so a flooding sender cannot hold the loop.
  static constexpr int kReadBurst = 256;

  bool SendASNToChan(TERM::RadioStatus const& status) override;
  bool SendASNToChan(TERM::RadioModifier const& modifier) override;
  bool GetSQU() override { return toChanState.flag_s != 0; }
  void OnRtpExtEvent(int fd, short events) override;

  virtual int PutProtoFromRadioToChan(LemzRadioState const&) { return 0; }
  virtual int PutProtoFromChanToRadio(LemzRadioState const&) { return 0; }
  virtual bool AccessFormChanToRadio(LemzRadioState const&) { return true; }
  virtual int EncodeProto(LemzRadioState const&, sig_proto&) { return 0; }

  // The conversions to and from the controller's values.
  int DecodeASN(TERM::LemzRadioModifier const& modifier, LemzRadioState& state);
  int DecodeASN(TERM::LemzRadioStatus const& status, LemzRadioState& state);
  int EncodeStatusASN(LemzRadioState const& state, TERM::RtpRadioRequest& request);
  int EncodeASN(LemzRadioState const& current, LemzRadioState const& received,
                TERM::RtpRadioRequest& request);

  LemzRadioState const& GetToChanState() const { return toChanState; }
  LemzRadioState const& GetToRadioState() const { return toRadioState; }

 protected:
  LemzRadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit LemzRadioControl(rtp_ext_init_params const& init);
  LemzRadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);

  int OnRtpProtoRXEvent(sig_proto const& packet);
  int DecodeProto(sig_proto const& packet, LemzRadioState& state);
  int SendRadioStateToChan(LemzRadioState const& state);
  long SendProtoToChan(sig_proto& packet);

  LemzRadioState toRadioState;
  LemzRadioState toChanState;
  uint32_t lastSendTimes[Groups] = {};
  sig_proto rxPacket{};
  sig_proto prevPacket{};

 private:
  void Init();
};

// The radio-gateway side: sends the WM_* status, accepts GW_* commands.
class LemzRadioGWControl : public LemzRadioControl {
 public:
  LemzRadioGWControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
      : LemzRadioControl(id, attach, init) {}
  explicit LemzRadioGWControl(rtp_ext_init_params const& init) : LemzRadioControl(init) {}
  LemzRadioGWControl(int id, Fd rtp, rtp_attach_session_params const& attach)
      : LemzRadioControl(id, std::move(rtp), attach) {}

  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
  int PutProtoFromRadioToChan(LemzRadioState const& s) override;
  int PutProtoFromChanToRadio(LemzRadioState const& rx) override;
  bool AccessFormChanToRadio(LemzRadioState const& rx) override;
  int EncodeProto(LemzRadioState const& s, sig_proto& packet) override;
};

// The workstation side: the mirror image, without a status cycle.
class LemzRadioWSControl : public LemzRadioControl {
 public:
  LemzRadioWSControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
      : LemzRadioControl(id, attach, init) {}
  explicit LemzRadioWSControl(rtp_ext_init_params const& init) : LemzRadioControl(init) {}
  LemzRadioWSControl(int id, Fd rtp, rtp_attach_session_params const& attach)
      : LemzRadioControl(id, std::move(rtp), attach) {}

  int PutProtoFromRadioToChan(LemzRadioState const& s) override;
  int PutProtoFromChanToRadio(LemzRadioState const& rx) override;
  int EncodeProto(LemzRadioState const& s, sig_proto& packet) override;
};

}  // namespace RTPSignalling
