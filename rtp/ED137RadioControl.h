#pragma once
// The ED-137 radio control: the protocol engine of one ED-137 radio
// channel. It turns the controller's ED-137 radio values into R2S packets
// on the header-extension channel and received R2S packets into reports,
// sends the R2S keep-alive and reports its loss.
//
// The gateway variant makes the board the radio end of the session: it
// sends rx packets (the receiver state the controller sets, and
// keep-alives) and receives tx packets (push-to-talk from the voice
// system).
#include <cstdint>

#include "rtp/R2sProto.h"
#include "rtp/RadioControl.h"

namespace RTPSignalling {

// Session parameters; `Init` takes them from the radio's response.
struct ED137RadioParams {
  // The keep-alive timing a session has unless its radio says otherwise.
  static constexpr uint32_t kDefaultKeepAlivePeriod = 200;  // ms
  static constexpr uint32_t kDefaultKeepAliveMultiplier = 10;

  bool transmissionDependOnSQU = false;
  uint32_t sigtime = 1;
  uint32_t keepAlivePeriod = kDefaultKeepAlivePeriod;
  uint32_t keepAliveMultiplier = kDefaultKeepAliveMultiplier;
  uint32_t radioType = TERM::ED137RadioType::radio_txrx;
  uint32_t txrxMode = TERM::ED137RadioTxRxMode::txrx;

  void Init(TERM::ED137RadioResponse const& response);
  // Silence from the peer for this long means the session is lost.
  uint32_t KeepAliveLossTime() const { return keepAlivePeriod * keepAliveMultiplier; }
};

// One radio state, eleven words.
struct ED137RadioState {
  // The state word: a class in the top nibble, what is present in the low.
  enum : uint32_t {
    ClassMask = 0xF000,
    ClassRx = 0x1000,
    ClassTx = 0x2000,
    HasHeader = 0x0001,
    HasSqi = 0x0002,
    RxHeader = ClassRx | HasHeader,
    TxHeader = ClassTx | HasHeader,
  };

  uint32_t word = 0;
  uint32_t ptt = 0;  // a TERM::ED137RadioPTT value
  uint32_t squ = 0;
  uint32_t pttId = 0;
  uint32_t pttMute = 0;
  uint32_t pttSummation = 0;
  uint32_t sct = 0;
  uint32_t bssMethod = 0;  // a TERM::ED137RadioBSSMethod value
  uint32_t bssQuality = 0;
  uint32_t sessionAddr = 0;  // IPv4, network order
  uint32_t sessionSsrc = 0;

  bool IsEqual(ED137RadioState const& other) const;
  // The modifier parameters of the state's class; none selected for another.
  void EncodeASN(TERM::ED137RadioModifierParams& params) const;
};

static_assert(sizeof(ED137RadioState) == 11 * 4, "ED137RadioState");

class ED137RadioControl : public RadioControl {
 public:
  // The abort code that reports a silent peer.
  static constexpr int kKeepAliveLost = 151;

  void SetParams(ED137RadioParams const& p) { params = p; }
  ED137RadioParams const& GetParams() const { return params; }

  bool SendASNToChan(TERM::RadioStatus const& status) override;
  bool SendASNToChan(TERM::RadioModifier const& modifier) override;
  bool GetSQU() override { return radioState.squ != 0; }
  void OnRtpExtEvent(int fd, short events) override;

  virtual int PutProtoFromRadioToChan(ED137RadioState const&) { return 0; }
  virtual int PutProtoFromChanToRadio(ED137RadioState const&) { return 0; }
  virtual bool AccessFormChanToRadio(ED137RadioState const&) { return true; }
  virtual int EncodeProto(ED137RadioState const&, r2s_proto&) { return 0; }

  // The conversions to and from the controller's values.
  int DecodeASN(TERM::ED137RadioModifier const& modifier, ED137RadioState& state) const;
  int DecodeASN(TERM::ED137RadioStatus const& status, ED137RadioState& state) const;
  static int EncodeStatusASN(ED137RadioState const& state, TERM::RtpRadioRequest& request);
  static int EncodeASN(ED137RadioState const& radio, ED137RadioState const& received,
                       TERM::RtpRadioRequest& request);

  ED137RadioState const& GetRadioState() const { return radioState; }
  ED137RadioState const& GetChannelState() const { return channelState; }

 protected:
  ED137RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit ED137RadioControl(rtp_ext_init_params const& init);
  ED137RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);

  int SendRadioStateToChan(ED137RadioState const& state);
  bool NeedSendProto(ED137RadioState const& state) const;
  long SendProtoToChan(r2s_proto& packet);
  int OnRtpProtoRXEvent(r2s_proto const& packet);
  static int DecodeProto(r2s_proto const& packet, ED137RadioState& state);

  ED137RadioParams params;
  r2s_proto currentPacket{};
  r2s_proto previousPacket{};
  uint32_t lastSendTime = 0;  // the keep-alive clock
  uint32_t lastNotifyTime = 0;
  uint32_t lastReceiveTime = 0;
  ED137RadioState channelState;  // last reported to the controller
  ED137RadioState radioState;    // last set by the controller

 private:
  void Init();
};

class ED137RadioGWControl : public ED137RadioControl {
 public:
  // The tick after a keep-alive falls due comes this much later.
  static constexpr uint32_t kTickSlack = 10;

  ED137RadioGWControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
      : ED137RadioControl(id, attach, init) {}
  explicit ED137RadioGWControl(rtp_ext_init_params const& init) : ED137RadioControl(init) {}
  ED137RadioGWControl(int id, Fd rtp, rtp_attach_session_params const& attach)
      : ED137RadioControl(id, std::move(rtp), attach) {}

  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
  int PutProtoFromRadioToChan(ED137RadioState const& state) override;
  int PutProtoFromChanToRadio(ED137RadioState const& state) override;
  bool AccessFormChanToRadio(ED137RadioState const& state) override;
  int EncodeProto(ED137RadioState const& state, r2s_proto& packet) override;

 private:
  void SendKeepAlive(uint32_t now);
};

}  // namespace RTPSignalling
