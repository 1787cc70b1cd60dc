// The conversions between the ED-137 radio state and the controller's TERM
// radio values.
#include <string>

#include "rtp/ED137RadioControl.h"

namespace RTPSignalling {

namespace {

void headerToState(TERM::ED137RadioHeader const& h, ED137RadioState& s) {
  s.ptt = uint32_t(h.get_ptt().asInt());
  s.squ = uint32_t(h.get_squ().asInt());
  s.pttId = h.get_ptt_id().getValue();
  s.pttMute = bool(h.get_ptt_mute());
  s.pttSummation = bool(h.get_ptt_summation());
  s.sct = bool(h.get_sct());
}

void sqiToState(TERM::ED137RadioExtensionSQI const& sqi, ED137RadioState& s) {
  s.word |= ED137RadioState::HasSqi;
  s.bssMethod = uint32_t(sqi.get_bss_method().asInt());
  s.bssQuality = sqi.get_bss_quality().getValue();
}

void stateToHeader(ED137RadioState const& s, TERM::ED137RadioHeader& h) {
  h.set_ptt().setFromInt(int(s.ptt));
  h.set_squ().setFromInt(int(s.squ));
  h.set_ptt_id() = s.pttId;
  h.set_ptt_mute() = s.pttMute != 0;
  h.set_ptt_summation() = s.pttSummation != 0;
  h.set_sct() = s.sct != 0;
}

void stateToSqi(ED137RadioState const& s, TERM::ED137RadioExtensionSQI& sqi) {
  sqi.set_bss_method().setFromInt(int(s.bssMethod));
  sqi.set_bss_quality() = s.bssQuality;
}

}  // namespace

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r) {
  if (r.transmission_depend_on_squ_isPresent()) transmissionDependOnSQU = r.get_transmission_depend_on_squ();
  if (r.sigtime_isPresent()) sigtime = r.get_sigtime().getValue();
  if (r.r2s_keepalive_period_isPresent()) keepAlivePeriod = r.get_r2s_keepalive_period().getValue();
  if (r.r2s_keepalive_multiplier_isPresent()) keepAliveMultiplier = r.get_r2s_keepalive_multiplier().getValue();
  radioType = uint32_t(r.get_type().asInt());
  txrxMode = uint32_t(r.get_txrxmode().asInt());
}

bool ED137RadioState::IsEqual(ED137RadioState const& o) const {
  return word == o.word && ptt == o.ptt && squ == o.squ && pttId == o.pttId && pttMute == o.pttMute &&
         pttSummation == o.pttSummation && sct == o.sct && bssMethod == o.bssMethod &&
         bssQuality == o.bssQuality && sessionAddr == o.sessionAddr && sessionSsrc == o.sessionSsrc;
}

void ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& params) const {
  switch (word & ClassMask) {
    case ClassRx: {
      TERM::ED137RadioRxCommand& rx = params.select_rx();
      stateToHeader(*this, rx.set_header());
      if (word & HasSqi)
        stateToSqi(*this, rx.set_sqi());
      else
        rx.omit_sqi();
      break;
    }
    case ClassTx:
      stateToHeader(*this, params.select_tx().set_header());
      break;
    default:
      break;
  }
}

int ED137RadioControl::DecodeASN(TERM::ED137RadioModifier const& m, ED137RadioState& s) const {
  s.word = 0;
  s.sessionAddr = AddrFromText(m.get_addr().get_session_addr());
  s.sessionSsrc = m.get_addr().get_session_ssrc().getValue();
  TERM::ED137RadioModifierParams const& p = m.get_params();
  if (p.rx_isSelected()) {
    s.word = ED137RadioState::RxHeader;
    headerToState(p.get_rx().get_header(), s);
    if (p.get_rx().sqi_isPresent()) sqiToState(p.get_rx().get_sqi(), s);
  } else if (p.tx_isSelected()) {
    s.word = ED137RadioState::TxHeader;
    headerToState(p.get_tx().get_header(), s);
  }
  return 0;
}

int ED137RadioControl::DecodeASN(TERM::ED137RadioStatus const& st, ED137RadioState& s) const {
  s.word = ED137RadioState::RxHeader;
  headerToState(st.get_header(), s);
  if (st.sqi_isPresent()) sqiToState(st.get_sqi(), s);
  return 0;
}

int ED137RadioControl::EncodeStatusASN(ED137RadioState const& s, TERM::RtpRadioRequest& request) {
  TERM::ED137RadioStatus& st = request.set_status().select_ed_137();
  stateToHeader(s, st.set_header());
  stateToSqi(s, st.set_sqi());
  st.omit_radio_response();
  return 0;
}

int ED137RadioControl::EncodeASN(ED137RadioState const& radio, ED137RadioState const& received,
                                 TERM::RtpRadioRequest& request) {
  EncodeStatusASN(radio, request);
  TERM::ED137RadioModifier& m = request.set_request().select_ed_137();
  m.set_addr().set_session_addr(AddrText(received.sessionAddr));
  m.set_addr().set_session_ssrc(received.sessionSsrc);
  received.EncodeASN(m.set_params());
  return 0;
}

}  // namespace RTPSignalling
