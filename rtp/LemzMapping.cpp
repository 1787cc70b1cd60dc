// The conversions between the LEMZ radio state and the controller's TERM
// radio values.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "rtp/LemzRadioControl.h"

namespace RTPSignalling {

namespace {

// ---- single values ----

float floatFromText(std::string const& text) { return static_cast<float>(std::atof(text.c_str())); }

std::string floatText(float f) {
  char text[256];
  std::snprintf(text, sizeof text, "%4.6f", double(f));
  return text;
}

void callerIDFromText(char (&to)[256], std::string const& text) {
  std::memset(to, 0, sizeof to);
  std::strncpy(to, text.c_str(), sizeof to - 1);
}

std::string callerIDText(const char (&id)[256]) { return std::string(id, strnlen(id, sizeof id)); }

// The TERM fields are constrained, and the controller's coder carries the
// standby states only as "active" and "standby": "not-use" (-1, the byte
// 0xFF from a radio) cannot be encoded. A report holding a value the
// controller cannot be told would be refused by the coder and lost, so such
// a value travels as the first value of its field's range: "no-config" for
// squelch and RTE, "active" for the standby states, 0 for numbers. `changed`
// names each value from the radio that was changed so, with what was sent
// instead (a field the own state never had set is expected, and not named:
// those calls give no field name).
struct Fit {
  std::string changed;
  int enumerated(int32_t v, int32_t max, const char* first, const char* field) {
    if (v >= 0 && v <= max) return v;
    if (field) {
      if (!changed.empty()) changed += ", ";
      changed += std::string(field) + " " + std::to_string(v) + " reported as " + first;
    }
    return 0;
  }
  int squelshe(int32_t v, const char* field = nullptr) { return enumerated(v, 2, "no-config", field); }
  int rte(int32_t v, const char* field = nullptr) { return enumerated(v, 7, "no-config", field); }
  int standby(int32_t v, const char* field = nullptr) { return enumerated(v, 1, "active", field); }
  unsigned range(int32_t v, int32_t max) { return v < 0 ? 0u : v > max ? unsigned(max) : unsigned(v); }
};

void flagsToState(TERM::RadioFlags const& f, LemzRadioState& s) {
  s.priority = f.get_prio().getValue();
  s.flag_p = f.get_ptt() ? 1 : 0;
  s.flag_b = f.get_bss() ? 1 : 0;
  s.flag_r = f.get_vad_rx() ? 1 : 0;
  s.flag_t = f.get_vad_tx() ? 1 : 0;
  s.flag_s = f.get_sql() ? 1 : 0;
  s.flag_sh = f.get_sh() ? 1 : 0;
  s.flag_pw = f.get_pwr() ? 1 : 0;
  s.flag_rv = f.get_rv() ? 1 : 0;
  s.flag_rs = f.get_resv() ? 1 : 0;
  s.flag_c = static_cast<int32_t>(f.get_selcall().getValue());
  s.status = static_cast<int32_t>(f.get_li().getValue());
}

void flagsFromState(LemzRadioState const& s, TERM::RadioFlags& f, Fit& fit) {
  f.set_prio(s.priority);
  f.set_ptt(s.flag_p != 0);
  f.set_bss(s.flag_b != 0);
  f.set_vad_rx(s.flag_r != 0);
  f.set_vad_tx(s.flag_t != 0);
  f.set_sql(s.flag_s != 0);
  f.set_sh(s.flag_sh != 0);
  f.set_pwr(s.flag_pw != 0);
  f.set_rv(s.flag_rv != 0);
  f.set_resv(s.flag_rs != 0);
  f.set_selcall(fit.range(s.flag_c, 3));
  f.set_li(fit.range(s.status, 511));
}

void freqToState(TERM::RadioFrequency const& f, LemzRadioState& s) {
  s.chan_id = f.get_channel().getValue();
  s.freq = floatFromText(f.get_frequency());
}

void freqFromState(LemzRadioState const& s, TERM::RadioFrequency& f) {
  f.set_channel(s.chan_id);
  f.set_frequency(floatText(s.freq));
}

void remoteFromState(LemzRadioState const& s, TERM::RadioRemote& r, Fit& fit) {
  r.set_no(fit.range(s.rc_interface, 255));
  r.set_ch(fit.range(s.rc_channel, 255));
}

using Squelshe = TERM::RadioSquelshe::NamedNumber;
using RTE = TERM::RadioRTE::NamedNumber;
using Standby = TERM::RadioStandby::NamedNumber;

}  // namespace

int LemzRadioControl::DecodeASN(TERM::LemzRadioStatus const& st, LemzRadioState& s) {
  s.command = 0;
  flagsToState(st.get_flags(), s);
  freqToState(st.get_freq(), s);
  s.rc_interface = static_cast<int32_t>(st.get_remote().get_no().getValue());
  s.rc_channel = static_cast<int32_t>(st.get_remote().get_ch().getValue());
  s.squelsh = st.get_squelshe().asInt();
  s.rte = st.get_rte().asInt();
  s.standby_state = st.get_standby_state_channel().asInt();
  s.standby_group = static_cast<int32_t>(st.get_standby_group().getValue());
  s.standby_receiver_state = st.get_standby_state_receiver().asInt();
  return 0;
}

int LemzRadioControl::DecodeASN(TERM::LemzRadioModifier const& m, LemzRadioState& s) {
  using P = TERM::LemzRadioModifierParams;
  s.command = 0;
  s.source_addr = AddrFromText(m.get_addr().get_session_addr());
  s.source_ssrc = m.get_addr().get_session_ssrc().getValue();
  P const& p = m.get_params();
  switch (p.currentSelection()) {
    case P::gw_set_flags::id:
      s.command = GW_FLAG;
      flagsToState(p.get_gw_set_flags().get_flags(), s);
      break;
    case P::gw_set_freq::id:
      s.command = GW_ADJUST_CHAN;
      freqToState(p.get_gw_set_freq().get_freq(), s);
      break;
    case P::gw_set_ptt::id:
      s.command = GW_FLAG_PTT;
      flagsToState(p.get_gw_set_ptt().get_flags(), s);
      break;
    case P::gw_set_bss::id:
      s.command = GW_FLAG_BSS;
      flagsToState(p.get_gw_set_bss().get_flags(), s);
      break;
    case P::gw_set_rv::id:
      s.command = GW_FLAG_RV;
      flagsToState(p.get_gw_set_rv().get_flags(), s);
      break;
    case P::gw_set_sh::id:
      s.command = GW_FLAG_SH;
      flagsToState(p.get_gw_set_sh().get_flags(), s);
      break;
    case P::gw_set_pwr::id:
      s.command = GW_FLAG_PW;
      flagsToState(p.get_gw_set_pwr().get_flags(), s);
      break;
    case P::gw_set_resv::id:
      s.command = GW_FLAG_RS;
      flagsToState(p.get_gw_set_resv().get_flags(), s);
      break;
    case P::gw_set_selcall::id: {
      auto const& v = p.get_gw_set_selcall();
      s.command = GW_SEL_CALL;
      flagsToState(v.get_flags(), s);
      s.session_addr = AddrFromText(v.get_ip());
      s.ssrc = v.get_ssrc().getValue();
      callerIDFromText(s.callerID, v.get_cid());
      break;
    }
    case P::gw_set_remote::id:
      s.command = GW_SELECT_RC_CHAN;
      s.rc_interface = static_cast<int32_t>(p.get_gw_set_remote().get_remote().get_no().getValue());
      s.rc_channel = static_cast<int32_t>(p.get_gw_set_remote().get_remote().get_ch().getValue());
      break;
    case P::gw_set_squelshe::id:
      s.command = GW_ADJUST_SQUELSHE;
      s.squelsh = p.get_gw_set_squelshe().get_squelshe().asInt();
      break;
    case P::gw_set_rte::id:
      s.command = GW_ADJUST_RTE;
      s.rte = p.get_gw_set_rte().get_rte().asInt();
      break;
    case P::gw_set_standby::id:
      s.command = GW_ADJUST_STANDBY;
      s.standby_state = p.get_gw_set_standby().get_state().asInt();
      break;
    case P::wm_flags::id:
      s.command = WM_FLAG;
      flagsToState(p.get_wm_flags().get_flags(), s);
      break;
    case P::wm_trans::id: {
      auto const& v = p.get_wm_trans();
      s.command = WM_TRANS;
      flagsToState(v.get_flags(), s);
      s.session_addr = AddrFromText(v.get_ip());
      s.ssrc = v.get_ssrc().getValue();
      break;
    }
    case P::wm_quality::id:
      s.command = WM_RADIO_QUALITY;
      s.radio_quality = floatFromText(p.get_wm_quality().get_bss_val());
      break;
    case P::wm_chan::id: {
      auto const& v = p.get_wm_chan();
      s.command = WM_CHAN;
      freqToState(v.get_freq(), s);
      s.rte = v.get_rte().asInt();
      s.squelsh = v.get_squelshe().asInt();
      break;
    }
    case P::wm_selcall::id: {
      auto const& v = p.get_wm_selcall();
      s.command = WM_SEL_CALL_TRANS;
      flagsToState(v.get_flags(), s);
      s.session_addr = AddrFromText(v.get_ip());
      s.ssrc = v.get_ssrc().getValue();
      callerIDFromText(s.callerID, v.get_cid());
      break;
    }
    case P::wm_remote::id:
      s.command = WM_SELECT_RC_CHAN;
      s.rc_interface = static_cast<int32_t>(p.get_wm_remote().get_remote().get_no().getValue());
      s.rc_channel = static_cast<int32_t>(p.get_wm_remote().get_remote().get_ch().getValue());
      break;
    case P::wm_standby::id: {
      auto const& v = p.get_wm_standby();
      s.command = WM_STANDBY;
      s.standby_state = v.get_state_channel().asInt();
      s.standby_group = static_cast<int32_t>(v.get_group().getValue());
      s.standby_receiver_state = v.get_state_receiver().asInt();
      break;
    }
  }
  return 0;
}

int LemzRadioControl::EncodeStatusASN(LemzRadioState const& s, TERM::RtpRadioRequest& request) {
  Fit fit;  // the own state: unset fields are expected, never counted
  TERM::LemzRadioStatus& st = request.set_status().select_lemz();
  flagsFromState(s, st.set_flags(), fit);
  freqFromState(s, st.set_freq());
  remoteFromState(s, st.set_remote(), fit);
  st.set_squelshe(Squelshe(fit.squelshe(s.squelsh)));
  st.set_rte(RTE(fit.rte(s.rte)));
  st.set_standby_state_channel(Standby(fit.standby(s.standby_state)));
  st.set_standby_group(fit.range(s.standby_group, 255));
  st.set_standby_state_receiver(Standby(fit.standby(s.standby_receiver_state)));
  return 0;
}

int LemzRadioControl::EncodeASN(LemzRadioState const& current, LemzRadioState const& r,
                                TERM::RtpRadioRequest& request) {
  using P = TERM::LemzRadioModifierParams;
  EncodeStatusASN(current, request);
  TERM::LemzRadioModifier& m = request.set_request().select_lemz();
  m.set_addr().set_session_addr(AddrText(r.source_addr));
  m.set_addr().set_session_ssrc(r.source_ssrc);
  P& p = m.set_params();
  Fit fit;
  switch (r.command) {
    case GW_FLAG:
      flagsFromState(r, p.select_gw_set_flags().set_flags(), fit);
      break;
    case GW_ADJUST_CHAN:
      freqFromState(r, p.select_gw_set_freq().set_freq());
      break;
    case GW_FLAG_PTT:
      flagsFromState(r, p.select_gw_set_ptt().set_flags(), fit);
      break;
    case GW_FLAG_BSS:
      flagsFromState(r, p.select_gw_set_bss().set_flags(), fit);
      break;
    case GW_FLAG_RV:
      flagsFromState(r, p.select_gw_set_rv().set_flags(), fit);
      break;
    case GW_FLAG_SH:
      flagsFromState(r, p.select_gw_set_sh().set_flags(), fit);
      break;
    case GW_FLAG_PW:
      flagsFromState(r, p.select_gw_set_pwr().set_flags(), fit);
      break;
    case GW_FLAG_RS:
      flagsFromState(r, p.select_gw_set_resv().set_flags(), fit);
      break;
    case GW_SEL_CALL: {
      auto& v = p.select_gw_set_selcall();
      flagsFromState(r, v.set_flags(), fit);
      v.set_ip(AddrText(r.session_addr));
      v.set_ssrc(r.ssrc);
      v.set_cid(callerIDText(r.callerID));
      break;
    }
    case GW_SELECT_RC_CHAN:
      remoteFromState(r, p.select_gw_set_remote().set_remote(), fit);
      break;
    case GW_ADJUST_SQUELSHE:
      p.select_gw_set_squelshe().set_squelshe(Squelshe(fit.squelshe(r.squelsh, "squelshe")));
      break;
    case GW_ADJUST_RTE:
      p.select_gw_set_rte().set_rte(RTE(fit.rte(r.rte, "rte")));
      break;
    case GW_ADJUST_STANDBY:
      p.select_gw_set_standby().set_state(Standby(fit.standby(r.standby_state, "state")));
      break;
    case WM_FLAG:
      flagsFromState(r, p.select_wm_flags().set_flags(), fit);
      break;
    case WM_TRANS: {
      auto& v = p.select_wm_trans();
      flagsFromState(r, v.set_flags(), fit);
      v.set_ip(AddrText(r.session_addr));
      v.set_ssrc(r.ssrc);
      break;
    }
    case WM_RADIO_QUALITY:
      p.select_wm_quality().set_bss_val(floatText(r.radio_quality));
      break;
    case WM_CHAN: {
      auto& v = p.select_wm_chan();
      freqFromState(r, v.set_freq());
      v.set_squelshe(Squelshe(fit.squelshe(r.squelsh, "squelshe")));
      v.set_rte(RTE(fit.rte(r.rte, "rte")));
      break;
    }
    case WM_SEL_CALL_TRANS: {
      auto& v = p.select_wm_selcall();
      flagsFromState(r, v.set_flags(), fit);
      v.set_ip(AddrText(r.session_addr));
      v.set_ssrc(r.ssrc);
      v.set_cid(callerIDText(r.callerID));
      break;
    }
    case WM_SELECT_RC_CHAN:
      remoteFromState(r, p.select_wm_remote().set_remote(), fit);
      break;
    case WM_STANDBY: {
      auto& v = p.select_wm_standby();
      v.set_state_channel(Standby(fit.standby(r.standby_state, "state-channel")));
      v.set_group(fit.range(r.standby_group, 255));
      v.set_state_receiver(Standby(fit.standby(r.standby_receiver_state, "state-receiver")));
      break;
    }
  }
  if (!fit.changed.empty())
    std::cerr << GetPrefix() << " command=0x" << std::hex << r.command << std::dec
              << ": value(s) outside the controller's range: " << fit.changed << std::endl;
  return 0;
}

}  // namespace RTPSignalling
