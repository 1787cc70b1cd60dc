#include "rtp/RtpED137Factory.h"

#include <iostream>
#include <sstream>

#include "hardware/Device.h"
#include "hardware/Utils.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "rtp/RtpED137Slot.h"
#include "rtp/RtpSession.h"

RtpED137Factory& RtpED137Factory::instance() {
  static RtpED137Factory factory;
  return factory;
}

RtpED137Factory::RtpED137Factory() { IQuery(); }

std::ostream& RtpED137Factory::PutHeader(std::ostream& os) const {
  return os << "rtp ext ED137[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

void RtpED137Factory::IQuery() {
  g729 = g723 = g711 = g711mcc = universal = 0;
  std::ostringstream header;
  PutHeader(header);
  query(header.str());
}

void RtpED137Factory::Query(LGCP::Resources& r) {
  IQuery();
  report(r);
}

namespace {

// The header-extension session of the R2S profile. The keep-alive count
// is what the driver repeats the last packet by: the keep-alive period in
// packets of the session's packet factor (2 without one), times sigtime.
// The factor is taken as the session record holds it (16 bits): the count
// is then in the packets the driver makes, and no factor a controller sends
// can wrap the divisor to 0.
rtp_ext_init_params ed137Init(RTPSignalling::ED137RadioParams const& p, uint16_t pfactor) {
  uint32_t factor = pfactor ? pfactor : 2;
  uint32_t count = p.keepAlivePeriod / (factor * 10);
  if (p.sigtime) count *= p.sigtime;
  rtp_ext_init_params init{};
  init.etype = RTPSignalling::ETYPE_ED137;
  init.params[0] = 1;
  init.params[1] = TERM::Payload::ptR2S;
  init.params[2] = count;
  init.params[3] = p.sigtime ? p.sigtime : 1;
  return init;
}

}  // namespace

Slot* RtpED137Factory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.rtp_isSelected()) return nullptr;
  LGCP::CreateRtpParams const& p = params.get_rtp();
  TERM::RtpParams const& rtp = p.get_codecRTP();
  if (!rtp.radio_isPresent() || !rtp.get_radio().get_status().ed_137_isSelected()) return nullptr;
  TERM::RtpRadioRequest const& radio = rtp.get_radio();
  PutHeader(std::clog) << "do create rtp ext ED137: " << rtp << std::endl;

  std::ostringstream header;
  PutHeader(header);
  int32_t bss = radio.bss_enable_isPresent() && bool(radio.get_bss_enable()) ? 1 : 0;
  RtpSession::Opened s;
  if (!RtpSession::open(p, RtpSession::Options{false, bss}, header.str(), s)) return nullptr;

  RTPSignalling::ED137RadioParams radioParams;
  TERM::ED137RadioStatus const& status = radio.get_status().get_ed_137();
  if (status.radio_response_isPresent()) radioParams.Init(status.get_radio_response());
  uint16_t pfactor = rtp.pfactor_isPresent() ? uint16_t(rtp.get_pfactor().getValue()) : 0;
  rtp_ext_attach_session_params attach{s.rtp.lowlevel_fd(), -1};

  auto* slot = new RtpED137RadioGWSlot(s.channel, s.rtp, s.params, attach, ed137Init(radioParams, pfactor),
                                       radioParams, bss);
  slot->setTransmissionDependOnSQU(radioParams.transmissionDependOnSQU);
  slot->SetRadioStatus(radio.get_status());
  slot->startRTPC(s.rtcp, s.rtcpPeer);
  if (rtp.echo_isPresent() && bool(rtp.get_echo().get_suppressor()))
    slot->echoCancel(rtp.get_echo().get_canceller());
  if (radio.rx_delay_isPresent() || radio.tx_delay_isPresent() || radio.selcal_delay_isPresent())
    slot->configureDelays(radio.rx_delay_isPresent() ? unsigned(radio.get_rx_delay().getValue()) : 0,
                          radio.tx_delay_isPresent() ? unsigned(radio.get_tx_delay().getValue()) : 0,
                          radio.selcal_delay_isPresent() ? unsigned(radio.get_selcal_delay().getValue()) : 0);
  if (radio.bss_enable_isPresent()) slot->enableBSS(bool(radio.get_bss_enable()));
  if (radio.ng_enable_isPresent()) slot->enableNG(bool(radio.get_ng_enable()));
  return slot;  // the factory's own descriptors close with s
}
