#include "rtp/ED137RadioControl.h"

#include <poll.h>

#include <iostream>

#include "hardware/Device.h"
#include "runtime/Clock.h"

namespace RTPSignalling {

namespace {

// Packets one readiness event reads at most; the rest wait for the next
// pass, so a flooding sender cannot hold the loop.
constexpr int kReadBurst = 256;

in_addr addrOf(uint32_t networkOrder) {
  in_addr a;
  a.s_addr = networkOrder;
  return a;
}

// Elapsed loop milliseconds since `then`; 0 when `then` is not earlier.
uint32_t elapsed(uint32_t now, uint32_t then) { return then < now ? now - then : 0; }

// Copies a state, its signal-quality values only when it carries them.
void copyState(ED137RadioState const& from, ED137RadioState& to) {
  uint32_t method = to.bssMethod, quality = to.bssQuality;
  to = from;
  if (!(from.word & ED137RadioState::HasSqi)) {
    to.bssMethod = method;
    to.bssQuality = quality;
  }
}

}  // namespace

ED137RadioControl::ED137RadioControl(int id_, rtp_ext_attach_session_params const& attach,
                                     rtp_ext_init_params const& init)
    : RadioControl(id_, attach, init) {
  Init();
}

ED137RadioControl::ED137RadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

ED137RadioControl::ED137RadioControl(int id_, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id_, std::move(rtp), attach) {
  Init();
}

void ED137RadioControl::Init() {
  statusTime = Mux::milliseconds();
  lastSendTime = lastNotifyTime = lastReceiveTime = statusTime;
  r2s_proto_init(&currentPacket, R2S_KIND_EMPTY);
  r2s_proto_init(&previousPacket, R2S_KIND_EMPTY);
}

// ---- controller to network --------------------------------------------------

bool ED137RadioControl::SendASNToChan(TERM::RadioStatus const& status) {
  if (!status.ed_137_isSelected()) return false;
  ED137RadioState s = radioState;
  DecodeASN(status.get_ed_137(), s);
  SendRadioStateToChan(s);
  return true;
}

bool ED137RadioControl::SendASNToChan(TERM::RadioModifier const& modifier) {
  if (!modifier.ed_137_isSelected()) return false;
  ED137RadioState s = radioState;
  DecodeASN(modifier.get_ed_137(), s);
  SendRadioStateToChan(s);
  return true;
}

bool ED137RadioControl::NeedSendProto(ED137RadioState const& state) const {
  // With both positive the driver repeats the last packet itself, so an
  // unchanged state need not be written again.
  if (int32_t(extInit.params[2]) > 0 && int32_t(extInit.params[3]) > 0) return !state.IsEqual(radioState);
  return true;
}

int ED137RadioControl::SendRadioStateToChan(ED137RadioState const& state) {
  if (!NeedSendProto(state)) return 0;
  if (PutProtoFromRadioToChan(state) == 0) {
    r2s_proto packet;
    r2s_proto_init(&packet, R2S_KIND_EMPTY);
    if (EncodeProto(state, packet) == 0) {
      SendProtoToChan(packet);
      statusTime = Mux::milliseconds();
      if (mode == Gateway && (state.word & ED137RadioState::ClassRx)) lastSendTime = statusTime;
    }
  }
  TERM::RtpRadioRequest request;
  EncodeStatusASN(radioState, request);
  if (debug)
    std::clog << GetPrefix() << "command=0x" << std::hex << state.word << std::dec
              << " receive extension from controller: " << request.asValueNotation() << std::endl;
  UpdateAccess(radioState.ptt != 0, addrOf(radioState.sessionAddr));
  return 0;
}

long ED137RadioControl::SendProtoToChan(r2s_proto& packet) {
  unsigned char buf[kPacketSize];
  int n = r2s_proto_pack(&packet, buf, sizeof buf);
  if (n < 1) return 0;
  return Device::write(extFd.lowlevel_fd(), buf, size_t(n));
}

// ---- network to controller --------------------------------------------------

void ED137RadioControl::OnRtpExtEvent(int, short events) {
  if (!(events & POLLIN)) return;
  if (debug) std::clog << GetPrefix() << " receive extension packet(s)!" << std::endl;
  statusTime = Mux::milliseconds();
  r2s_proto_init(&previousPacket, R2S_KIND_EMPTY);
  int batch = 0;
  unsigned char buf[kPacketSize];
  for (int i = 0; i < kReadBurst; ++i) {
    Device::requestRecord(extFd.lowlevel_fd(), RTP_EXT_PACKET_INFO, &packetInfo, sizeof packetInfo);
    ssize_t r = Device::read(extFd.lowlevel_fd(), buf, sizeof buf);
    if (r < 1) break;
    r2s_proto_init(&currentPacket, R2S_KIND_EMPTY);
    if (r2s_proto_unpack_tx(&currentPacket, buf, int(r)) != 0) continue;
    lastReceiveTime = statusTime;
    currentPacket.source_addr = packetInfo.addr;
    currentPacket.source_ssrc = packetInfo.ssrc;
    // Of a run of packets from one sender only the last counts.
    if (batch > 0 && cmp_r2s_proto_source(&previousPacket, &currentPacket) != 0)
      OnRtpProtoRXEvent(previousPacket);
    previousPacket = currentPacket;
    ++batch;
  }
  if (batch > 0) OnRtpProtoRXEvent(previousPacket);
}

int ED137RadioControl::DecodeProto(r2s_proto const& p, ED137RadioState& s) {
  s.sessionAddr = p.source_addr;
  s.sessionSsrc = p.source_ssrc;
  switch (p.kind) {
    case R2S_KIND_TX:
      s.word |= ED137RadioState::TxHeader;
      s.ptt = p.header[R2S_TX_PTT_TYPE];
      s.pttId = p.header[R2S_TX_PTT_ID];
      s.pttMute = p.header[R2S_TX_PM];
      s.pttSummation = p.header[R2S_TX_PTTS];
      return 0;
    case R2S_KIND_RX: {
      s.word |= ED137RadioState::RxHeader;
      s.ptt = p.header[R2S_RX_PTT_TYPE];
      s.squ = p.header[R2S_RX_SQU];
      s.pttId = p.header[R2S_RX_PTT_ID];
      s.pttMute = p.header[R2S_RX_PM];
      s.pttSummation = p.header[R2S_RX_PTTS];
      s.sct = p.header[R2S_RX_SCT];
      const uint32_t count = p.count < R2S_MAX_FEATURES ? p.count : R2S_MAX_FEATURES;
      for (uint32_t i = 0; i < count; ++i) {
        if (p.additionals[i].kind != R2S_FEATURE_SQI) continue;
        s.word |= ED137RadioState::HasSqi;
        s.bssQuality = p.additionals[i].value[0];
        s.bssMethod = p.additionals[i].value[1];
      }
      return 0;
    }
    default:
      return -1;
  }
}

int ED137RadioControl::OnRtpProtoRXEvent(r2s_proto const& packet) {
  const uint32_t now = statusTime;
  ED137RadioState s;
  DecodeProto(packet, s);
  if (!AccessFormChanToRadio(s)) return 0;
  // An unchanged state reaches the controller at most once per interval.
  if (s.IsEqual(channelState) && statusInterval > elapsed(now, lastNotifyTime)) return 0;
  PutProtoFromChanToRadio(s);
  TERM::RtpRadioRequest request;
  EncodeASN(radioState, s, request);
  if (debug)
    std::clog << GetPrefix() << " command=0x" << std::hex << s.word << std::dec
              << " send extension to controller: " << request.asValueNotation() << std::endl;
  lastNotifyTime = now;
  if (notify) notify->RadioControlNotify(request);
  return 0;
}

// ---- the gateway ------------------------------------------------------------

int ED137RadioGWControl::PutProtoFromRadioToChan(ED137RadioState const& state) {
  copyState(state, radioState);
  return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(ED137RadioState const& state) {
  copyState(state, channelState);
  return 0;
}

bool ED137RadioGWControl::AccessFormChanToRadio(ED137RadioState const&) {
  // Push-to-talk is taken only by a radio that transmits.
  bool transmits = params.radioType == TERM::ED137RadioType::radio_txrx ||
                   params.radioType == TERM::ED137RadioType::radio ||
                   params.radioType == TERM::ED137RadioType::coupling;
  bool txMode = params.txrxMode == TERM::ED137RadioTxRxMode::tx || params.txrxMode == TERM::ED137RadioTxRxMode::txrx;
  return transmits && txMode;
}

int ED137RadioGWControl::EncodeProto(ED137RadioState const& s, r2s_proto& packet) {
  switch (s.word & ED137RadioState::ClassMask) {
    case ED137RadioState::ClassRx:
      r2s_proto_init(&packet, R2S_KIND_RX);
      r2s_proto_set_rx_header(&packet, s.ptt, s.squ, s.pttId, s.pttMute, s.pttSummation, s.sct);
      if (s.word & ED137RadioState::HasSqi) r2s_proto_add_rx_sqi(&packet, s.bssQuality, s.bssMethod);
      return 0;
    case ED137RadioState::ClassTx:
      r2s_proto_init(&packet, R2S_KIND_TX);
      r2s_proto_set_tx_header(&packet, s.ptt, s.pttId, s.pttMute, s.pttSummation);
      return 0;
    default:
      return -1;
  }
}

void ED137RadioGWControl::SendKeepAlive(uint32_t now) {
  // The keep-alive is an rx packet of the last state the controller set (an
  // empty rx header before any). A state of the tx class goes out as rx for
  // the keep-alive only: folding the rx bits into its word would give a
  // class no packet has, and the keep-alives would stop while the gateway
  // is alive.
  ED137RadioState keepAlive = radioState;
  if ((radioState.word & ED137RadioState::ClassMask) == ED137RadioState::ClassTx)
    keepAlive.word = ED137RadioState::RxHeader;
  else
    keepAlive.word = radioState.word |= ED137RadioState::RxHeader;
  r2s_proto packet;
  r2s_proto_init(&packet, R2S_KIND_EMPTY);
  if (EncodeProto(keepAlive, packet) == 0) {
    SendProtoToChan(packet);
    lastSendTime = now;
  }
}

unsigned long ED137RadioGWControl::ProcessRadioStatus(unsigned long now_, unsigned long interval) {
  const uint32_t now = uint32_t(now_);
  const uint32_t loss = params.KeepAliveLossTime();
  if (loss != 0 && lastReceiveTime <= now && now - lastReceiveTime >= loss && notify)
    notify->RadioControlNotify(kKeepAliveLost);
  if (elapsed(now, lastSendTime) >= interval) SendKeepAlive(now);
  const uint32_t since = elapsed(now, lastSendTime);
  if (since == 0 || since >= interval) return interval;
  return interval - since + kTickSlack;
}

}  // namespace RTPSignalling
