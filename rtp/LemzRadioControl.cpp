#include "rtp/LemzRadioControl.h"

#include <poll.h>

#include <cstring>
#include <iostream>
#include <type_traits>

#include "hardware/Device.h"
#include "runtime/Clock.h"

namespace RTPSignalling {

bool isPTTCommand(int command) {
  switch (command) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
      return true;
  }
  return false;
}

bool isDefaultInitCommand(int command) { return command <= 0; }

namespace {

void copyCallerID(char (&to)[256], const uint8_t* from) {
  std::memset(to, 0, sizeof to);
  std::memcpy(to, from, sizeof to - 1);
}

in_addr addrOf(uint32_t networkOrder) {
  in_addr a;
  a.s_addr = networkOrder;
  return a;
}

// Elapsed loop milliseconds since `then`; 0 when `then` is not earlier.
uint32_t elapsed(uint32_t now, uint32_t then) { return then < now ? now - then : 0; }

}  // namespace

LemzRadioControl::LemzRadioControl(int id_, rtp_ext_attach_session_params const& attach,
                                   rtp_ext_init_params const& init)
    : RadioControl(id_, attach, init) {
  Init();
}

LemzRadioControl::LemzRadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

LemzRadioControl::LemzRadioControl(int id_, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id_, std::move(rtp), attach) {
  Init();
}

void LemzRadioControl::Init() {
  statusTime = Mux::milliseconds();
  for (uint32_t& t : lastSendTimes) t = statusTime;
  sig_proto_init(&rxPacket);
  sig_proto_init(&prevPacket);
}

// ---- receive ----------------------------------------------------------------

void LemzRadioControl::OnRtpExtEvent(int, short events) {
  if (!(events & POLLIN)) return;
  if (debug) std::clog << GetPrefix() << " receive extension packet(s)!" << std::endl;
  sig_proto_init(&prevPacket);
  int run = 0;
  uint8_t buf[kPacketSize];
  for (int i = 0; i < kReadBurst; ++i) {
    Device::requestRecord(extFd.lowlevel_fd(), RTP_EXT_PACKET_INFO, &packetInfo, sizeof packetInfo);
    ssize_t r = Device::read(extFd.lowlevel_fd(), buf, sizeof buf);
    if (r < 1) break;
    sig_proto_init(&rxPacket);
    if (sig_proto_unpack(&rxPacket, buf, static_cast<int>(r)) != 0) continue;
    rxPacket.src_addr = packetInfo.addr;
    rxPacket.src_ssrc = packetInfo.ssrc;
    // Of a run of one type from one sender only the last counts.
    if (run > 0 && cmp_sig_proto_header(&rxPacket, &prevPacket) != 0) OnRtpProtoRXEvent(prevPacket);
    prevPacket = rxPacket;
    ++run;
  }
  if (run > 0) OnRtpProtoRXEvent(prevPacket);
}

int LemzRadioControl::OnRtpProtoRXEvent(sig_proto const& packet) {
  LemzRadioState rx;
  DecodeProto(packet, rx);
  if (AccessFormChanToRadio(rx)) {
    PutProtoFromChanToRadio(rx);
    TERM::RtpRadioRequest request;
    EncodeASN(toChanState, rx, request);
    if (debug)
      std::clog << GetPrefix() << " command=0x" << std::hex << rx.command << std::dec
                << " send extension to controller: " << request.asValueNotation() << std::endl;
    if (notify) notify->RadioControlNotify(request);
  }
  UpdateAccess(toChanState.flag_p != 0, addrOf(toChanState.session_addr));
  return 0;
}

namespace {

// The words a state shares with a packet's header, the same both ways.
template <class F>
void eachHeaderWord(F&& f) {
  f(&LemzRadioState::command, &sig_proto::type);
  f(&LemzRadioState::source_addr, &sig_proto::src_addr);
  f(&LemzRadioState::source_ssrc, &sig_proto::src_ssrc);
  f(&LemzRadioState::priority, &sig_proto::priority);
  f(&LemzRadioState::flag_t, &sig_proto::flag_t);
  f(&LemzRadioState::flag_p, &sig_proto::flag_p);
  f(&LemzRadioState::flag_r, &sig_proto::flag_r);
  f(&LemzRadioState::flag_s, &sig_proto::flag_s);
  f(&LemzRadioState::flag_b, &sig_proto::flag_b);
  f(&LemzRadioState::flag_rv, &sig_proto::flag_rv);
  f(&LemzRadioState::flag_sh, &sig_proto::flag_sh);
  f(&LemzRadioState::flag_rs, &sig_proto::flag_rs);
  f(&LemzRadioState::flag_pw, &sig_proto::flag_pw);
  f(&LemzRadioState::flag_c, &sig_proto::flag_c);
  f(&LemzRadioState::status, &sig_proto::status);
}

}  // namespace

int LemzRadioControl::DecodeProto(sig_proto const& p, LemzRadioState& s) {
  eachHeaderWord([&](auto word, auto field) {
    s.*word = static_cast<std::remove_reference_t<decltype(s.*word)>>(p.*field);
  });
  switch (p.type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
    case WM_FLAG:
      break;
    case GW_ADJUST_CHAN:
      s.chan_id = static_cast<int32_t>(p.gw_adjust_chan.id);
      s.freq = p.gw_adjust_chan.freq;
      break;
    case GW_SEL_CALL:
      copyCallerID(s.callerID, p.gw_sel_call.callerID);
      break;
    case GW_SELECT_RC_CHAN:
      s.rc_interface = p.gw_select_rc_chan.interface;
      s.rc_channel = p.gw_select_rc_chan.channel;
      break;
    case WM_SELECT_RC_CHAN:
      s.rc_interface = p.wm_select_rc_chan.interface;
      s.rc_channel = p.wm_select_rc_chan.channel;
      break;
    case GW_ADJUST_SQUELSHE:
      s.squelsh = p.gw_adjust_squelsh.squelsh;
      break;
    case GW_ADJUST_RTE:
      s.rte = p.gw_adjust_rte.rte;
      break;
    case GW_ADJUST_STANDBY:
      s.standby_state = p.gw_adjust_standby.state;
      break;
    case WM_TRANS:
      s.session_addr = p.wm_trans.session_addr.s_addr;
      s.ssrc = p.wm_trans.ssrc;
      break;
    case WM_RADIO_QUALITY:
      s.radio_quality = p.wm_radio_quality.radio_quality;
      break;
    case WM_CHAN:
      s.chan_id = static_cast<int32_t>(p.wm_chan.id);
      s.freq = p.wm_chan.freq;
      s.squelsh = p.wm_chan.squelsh;
      s.rte = p.wm_chan.rte;
      break;
    case WM_SEL_CALL_TRANS:
      s.session_addr = p.wm_sel_call_trans.session_addr.s_addr;
      s.ssrc = p.wm_sel_call_trans.ssrc;
      copyCallerID(s.callerID, p.wm_sel_call_trans.callerID);
      break;
    case WM_STANDBY:
      s.standby_state = p.wm_standby.state;
      s.standby_group = p.wm_standby.group;
      s.standby_receiver_state = p.wm_standby.receiver_state;
      break;
    default:
      return -1;
  }
  return 0;
}

// ---- send -------------------------------------------------------------------

bool LemzRadioControl::SendASNToChan(TERM::RadioStatus const& status) {
  if (!status.lemz_isSelected()) return false;
  LemzRadioState s = toChanState;
  DecodeASN(status.get_lemz(), s);
  SendRadioStateToChan(s);
  return true;
}

bool LemzRadioControl::SendASNToChan(TERM::RadioModifier const& modifier) {
  if (!modifier.lemz_isSelected()) return false;
  LemzRadioState s = toChanState;
  DecodeASN(modifier.get_lemz(), s);
  SendRadioStateToChan(s);
  return true;
}

int LemzRadioControl::SendRadioStateToChan(LemzRadioState const& s) {
  sig_proto packet;
  if (PutProtoFromRadioToChan(s) == 0 && EncodeProto(s, packet) == 0) {
    SendProtoToChan(packet);
    statusTime = Mux::milliseconds();
    if (mode == Gateway) {
      switch (s.command) {
        case WM_FLAG:
        case WM_TRANS:
        case WM_SEL_CALL_TRANS:
          lastSendTimes[FlagGroup] = statusTime;
          break;
        case WM_CHAN:
          lastSendTimes[ChanGroup] = statusTime;
          break;
        case WM_SELECT_RC_CHAN:
          lastSendTimes[RemoteGroup] = statusTime;
          break;
        case WM_STANDBY:
          lastSendTimes[StandbyGroup] = statusTime;
          break;
      }
    }
  }
  if (debug) {
    TERM::RtpRadioRequest request;
    EncodeStatusASN(toChanState, request);
    std::clog << GetPrefix() << " command=0x" << std::hex << s.command << std::dec
              << " receive extension from controller: " << request.asValueNotation() << std::endl;
  }
  UpdateAccess(toChanState.flag_p != 0, addrOf(toChanState.session_addr));
  return 0;
}

long LemzRadioControl::SendProtoToChan(sig_proto& packet) {
  uint8_t buf[kPacketSize];
  int n = sig_proto_pack(&packet, buf, sizeof buf);
  if (n < 1) return 0;
  return Device::write(extFd.lowlevel_fd(), buf, static_cast<size_t>(n));
}

// ---- gateway side -------------------------------------------------------------

// The header fields of a state: its command, priority, status and flags.
static void copyHeaderFields(LemzRadioState& to, LemzRadioState const& from) {
  to.command = from.command;
  to.priority = from.priority;
  to.status = from.status;
  to.flag_p = from.flag_p;
  to.flag_b = from.flag_b;
  to.flag_r = from.flag_r;
  to.flag_t = from.flag_t;
  to.flag_s = from.flag_s;
  to.flag_sh = from.flag_sh;
  to.flag_pw = from.flag_pw;
  to.flag_rv = from.flag_rv;
  to.flag_rs = from.flag_rs;
  to.flag_c = from.flag_c;
}

// The fields of the gateway's status reports that the command carries
// (every one for a default initialisation), but the transmitting session.
static void copyReportFields(LemzRadioState& to, LemzRadioState const& from) {
  bool all = isDefaultInitCommand(from.command);
  if (all || from.command == WM_CHAN) {
    to.chan_id = from.chan_id;
    to.freq = from.freq;
    to.squelsh = from.squelsh;
    to.rte = from.rte;
  }
  if (all || from.command == WM_SELECT_RC_CHAN) {
    to.rc_interface = from.rc_interface;
    to.rc_channel = from.rc_channel;
  }
  if (all || from.command == WM_RADIO_QUALITY) to.radio_quality = from.radio_quality;
  if (all || from.command == WM_STANDBY) {
    to.standby_state = from.standby_state;
    to.standby_group = from.standby_group;
    to.standby_receiver_state = from.standby_receiver_state;
  }
}

int LemzRadioGWControl::PutProtoFromRadioToChan(LemzRadioState const& s) {
  bool all = isDefaultInitCommand(s.command);
  copyHeaderFields(toChanState, s);
  copyReportFields(toChanState, s);
  if (all || s.command == WM_TRANS || s.command == WM_SEL_CALL_TRANS) {
    toChanState.session_addr = s.session_addr;
    toChanState.ssrc = s.ssrc;
  }
  return all ? -1 : 0;
}

namespace {

void encodeHeader(LemzRadioState const& s, sig_proto& p) {
  sig_proto_init(&p);
  eachHeaderWord([&](auto word, auto field) { p.*field = static_cast<uint32_t>(s.*word); });
}

uint8_t callerIDInto(uint8_t (&to)[256], const char (&from)[256]) {
  std::memset(to, 0, sizeof to);
  size_t n = strnlen(from, sizeof from - 1);
  std::memcpy(to, from, n);
  return static_cast<uint8_t>(n);
}

}  // namespace

int LemzRadioGWControl::EncodeProto(LemzRadioState const& s, sig_proto& p) {
  encodeHeader(s, p);
  switch (s.command) {
    case WM_FLAG:
      return 0;
    case WM_TRANS:
      p.wm_trans.session_addr = addrOf(s.session_addr);
      p.wm_trans.ssrc = s.ssrc;
      return 0;
    case WM_RADIO_QUALITY:
      p.wm_radio_quality.radio_quality = s.radio_quality;
      return 0;
    case WM_CHAN:
      p.wm_chan.id = static_cast<uint32_t>(s.chan_id);
      p.wm_chan.freq = s.freq;
      p.wm_chan.squelsh = static_cast<uint8_t>(s.squelsh);
      p.wm_chan.rte = static_cast<uint8_t>(s.rte);
      return 0;
    case WM_SEL_CALL_TRANS:
      p.wm_sel_call_trans.session_addr = addrOf(s.session_addr);
      p.wm_sel_call_trans.ssrc = s.ssrc;
      p.wm_sel_call_trans.callerID_length = callerIDInto(p.wm_sel_call_trans.callerID, s.callerID);
      return 0;
    case WM_SELECT_RC_CHAN:
      p.wm_select_rc_chan.interface = static_cast<uint8_t>(s.rc_interface);
      p.wm_select_rc_chan.channel = static_cast<uint8_t>(s.rc_channel);
      return 0;
    case WM_STANDBY:
      p.wm_standby.state = static_cast<uint8_t>(s.standby_state);
      p.wm_standby.group = static_cast<uint8_t>(s.standby_group);
      p.wm_standby.receiver_state = static_cast<uint8_t>(s.standby_receiver_state);
      return 0;
  }
  return -1;
}

// Copies the command fields of a received (or, on the workstation, a
// controller's) state, by command.
static int copyCommandFields(LemzRadioState& to, LemzRadioState const& from) {
  bool all = isDefaultInitCommand(from.command);
  int c = from.command;
  if (all || c == GW_FLAG || c == GW_FLAG_PTT) to.flag_p = from.flag_p;
  if (all || c == GW_FLAG || c == GW_FLAG_BSS) to.flag_b = from.flag_b;
  if (all || c == GW_FLAG || c == GW_FLAG_SH) to.flag_sh = from.flag_sh;
  if (all || c == GW_FLAG || c == GW_FLAG_RV) to.flag_rv = from.flag_rv;
  if (all || c == GW_FLAG || c == GW_FLAG_PW) to.flag_pw = from.flag_pw;
  if (all || c == GW_FLAG || c == GW_FLAG_RS) to.flag_rs = from.flag_rs;
  if (all || c == GW_ADJUST_CHAN) {
    to.chan_id = from.chan_id;
    to.freq = from.freq;
  }
  if (all || c == GW_SEL_CALL) std::memcpy(to.callerID, from.callerID, sizeof to.callerID);
  if (all || c == GW_SELECT_RC_CHAN) {
    to.rc_interface = from.rc_interface;
    to.rc_channel = from.rc_channel;
  }
  if (all || c == GW_ADJUST_SQUELSHE) to.squelsh = from.squelsh;
  if (all || c == GW_ADJUST_RTE) to.rte = from.rte;
  if (all || c == GW_ADJUST_STANDBY) to.standby_state = from.standby_state;
  return all ? -1 : 0;
}

int LemzRadioGWControl::PutProtoFromChanToRadio(LemzRadioState const& rx) {
  toRadioState.session_addr = rx.source_addr;
  toRadioState.ssrc = rx.source_ssrc;
  toRadioState.command = rx.command;
  toRadioState.priority = rx.priority;
  return copyCommandFields(toRadioState, rx);
}

bool LemzRadioGWControl::AccessFormChanToRadio(LemzRadioState const& rx) {
  if (toChanState.flag_p == 0) return true;
  // A sender of higher priority (lower value) takes PTT over.
  if (isPTTCommand(rx.command) && rx.priority < toChanState.priority && rx.flag_p != 0) return true;
  return rx.source_addr == toChanState.session_addr;
}

unsigned long LemzRadioGWControl::ProcessRadioStatus(unsigned long now_, unsigned long interval) {
  uint32_t now = static_cast<uint32_t>(now_);
  LemzRadioState& c = toChanState;
  auto resend = [&](Group g, int32_t type) {
    c.command = type;
    sig_proto packet;
    if (EncodeProto(c, packet) == 0) {
      SendProtoToChan(packet);
      lastSendTimes[g] = now;
    }
  };
  auto due = [&](Group g) { return elapsed(now, lastSendTimes[g]) > kResendAfter; };
  if (due(FlagGroup)) {
    int32_t type = WM_FLAG;
    if (c.flag_p != 0) type = c.callerID[0] != 0 ? WM_SEL_CALL_TRANS : WM_TRANS;
    resend(FlagGroup, type);
  }
  if (due(ChanGroup) && c.chan_id >= 0 && c.freq >= 0.0f) resend(ChanGroup, WM_CHAN);
  if (due(RemoteGroup) && c.rc_interface >= 0 && c.rc_channel >= 0) resend(RemoteGroup, WM_SELECT_RC_CHAN);
  if (due(StandbyGroup) && c.standby_state >= 0 && c.standby_group >= 0 && c.standby_receiver_state >= 0)
    resend(StandbyGroup, WM_STANDBY);

  uint32_t oldest = lastSendTimes[0];
  for (uint32_t t : lastSendTimes)
    if (t < oldest) oldest = t;
  uint32_t e = elapsed(now, oldest);
  if (e > 0 && e < interval) return interval - e + kTickSlack;
  return interval;
}

// ---- workstation side ---------------------------------------------------------

int LemzRadioWSControl::PutProtoFromRadioToChan(LemzRadioState const& s) {
  toChanState.command = s.command;
  toChanState.priority = s.priority;
  return copyCommandFields(toChanState, s);
}

int LemzRadioWSControl::EncodeProto(LemzRadioState const& s, sig_proto& p) {
  encodeHeader(s, p);
  switch (s.command) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
      return 0;
    case GW_ADJUST_CHAN:
      p.gw_adjust_chan.id = static_cast<uint32_t>(s.chan_id);
      p.gw_adjust_chan.freq = s.freq;
      return 0;
    case GW_SEL_CALL:
      p.gw_sel_call.callerID_length = callerIDInto(p.gw_sel_call.callerID, s.callerID);
      return 0;
    case GW_SELECT_RC_CHAN:
      p.gw_select_rc_chan.interface = static_cast<uint8_t>(s.rc_interface);
      p.gw_select_rc_chan.channel = static_cast<uint8_t>(s.rc_channel);
      return 0;
    case GW_ADJUST_SQUELSHE:
      p.gw_adjust_squelsh.squelsh = static_cast<uint8_t>(s.squelsh);
      return 0;
    case GW_ADJUST_RTE:
      p.gw_adjust_rte.rte = static_cast<uint8_t>(s.rte);
      return 0;
    case GW_ADJUST_STANDBY:
      p.gw_adjust_standby.state = static_cast<uint8_t>(s.standby_state);
      return 0;
  }
  return -1;
}

int LemzRadioWSControl::PutProtoFromChanToRadio(LemzRadioState const& rx) {
  bool all = isDefaultInitCommand(rx.command);
  toRadioState.session_addr = rx.source_addr;
  toRadioState.ssrc = rx.source_ssrc;
  copyHeaderFields(toRadioState, rx);
  copyReportFields(toRadioState, rx);
  // A call report names the transmitting session in its body.
  if (all || rx.command == WM_SEL_CALL_TRANS) {
    toRadioState.session_addr = rx.session_addr;
    toRadioState.ssrc = rx.ssrc;
  }
  return all ? -1 : 0;
}

}  // namespace RTPSignalling
