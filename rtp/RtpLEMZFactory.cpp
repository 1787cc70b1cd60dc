#include "rtp/RtpLEMZFactory.h"

#include <unistd.h>

#include <iostream>
#include <sstream>

#include "hardware/Device.h"
#include "hardware/Utils.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "rtp/RtpLEMZSlot.h"
#include "rtp/RtpSession.h"

RtpLEMZFactory& RtpLEMZFactory::instance() {
  static RtpLEMZFactory factory;
  return factory;
}

RtpLEMZFactory::RtpLEMZFactory() { IQuery(); }

std::ostream& RtpLEMZFactory::PutHeader(std::ostream& os) const {
  return os << "rtp ext LEMZ[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

void RtpLEMZFactory::IQuery() {
  g729 = g723 = g711 = g711mcc = universal = 0;
  std::ostringstream header;
  PutHeader(header);
  query(header.str());
}

void RtpLEMZFactory::Query(LGCP::Resources& r) {
  IQuery();
  report(r);
}

Slot* RtpLEMZFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.rtp_isSelected()) return nullptr;
  LGCP::CreateRtpParams const& p = params.get_rtp();
  TERM::RtpParams const& rtp = p.get_codecRTP();
  if (!rtp.radio_isPresent() || !rtp.get_radio().get_status().lemz_isSelected()) return nullptr;
  TERM::RtpRadioRequest const& radio = rtp.get_radio();
  PutHeader(std::clog) << "do create rtp ext LEMZ: " << rtp << std::endl;

  bool bss = radio.bss_enable_isPresent() && bool(radio.get_bss_enable());
  std::ostringstream header;
  PutHeader(header);
  RtpSession::Opened s;
  if (!RtpSession::open(p, RtpSession::Options{false, bss ? 1 : 0}, header.str(), s)) return nullptr;

  RtpLEMZRadioGWSlot* slot = nullptr;
  bool ownSession = !rtp.rtp_e2m_isPresent() || !rtp.get_rtp_e2m().mode_isPresent() ||
                    rtp.get_rtp_e2m().get_mode().both_rtp_and_rtp_ext_isSelected();
  if (ownSession) {
    rtp_ext_attach_session_params attach{s.rtp.lowlevel_fd(), int32_t(::getpid())};
    rtp_ext_init_params init{kProfile, 0, {0, 0, 0, 0}};
    slot = new RtpLEMZRadioGWSlot(s.channel, s.rtp, s.params, attach, init, true, bss ? 1 : 0);
  } else if (rtp.get_rtp_e2m().get_mode().only_rtp_isSelected()) {
    TERM::RtpExtDescription const& d = rtp.get_rtp_e2m().get_mode().get_only_rtp();
    rtp_attach_session_params attach{d.get_fd().getValue(), d.get_pid().getValue()};
    slot = new RtpLEMZRadioGWSlot(s.channel, s.rtp, s.params, attach, bss ? 1 : 0);
  } else {
    return nullptr;  // a mode of a later protocol: the session closes with s
  }
  slot->SetRadioStatus(radio.get_status());
  slot->startRTPC(s.rtcp, s.rtcpPeer);
  if (rtp.echo_isPresent() && bool(rtp.get_echo().get_suppressor())) slot->echoCancel(rtp.get_echo().get_canceller());
  if (radio.rx_delay_isPresent() || radio.tx_delay_isPresent() || radio.selcal_delay_isPresent()) {
    unsigned rx = radio.rx_delay_isPresent() ? unsigned(radio.get_rx_delay().getValue()) : 0;
    unsigned tx = radio.tx_delay_isPresent() ? unsigned(radio.get_tx_delay().getValue()) : 0;
    unsigned selcal = radio.selcal_delay_isPresent() ? unsigned(radio.get_selcal_delay().getValue()) : 0;
    slot->configureDelays(rx, tx, selcal);
  }
  if (radio.bss_enable_isPresent()) slot->enableBSS(bool(radio.get_bss_enable()));
  if (radio.ng_enable_isPresent()) slot->enableNG(bool(radio.get_ng_enable()));
  return slot;  // the factory's own descriptors close with s
}
