#include "rtp/RtpFactory.h"

#include <fcntl.h>

#include <iostream>
#include <sstream>

#include "hardware/Device.h"
#include "hardware/Utils.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "rtp/RtpSession.h"
#include "rtp/RtpSlot.h"

RtpFactory& RtpFactory::instance() {
  static RtpFactory factory;
  return factory;
}

RtpFactory::RtpFactory() { IQuery(); }

std::ostream& RtpFactory::PutHeader(std::ostream& os) const {
  return os << "rtp[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

// The counts of the G.711 controller channels and of any codec stay as they
// were when the engine cannot tell them now; the others start again from 0.
void RtpFactory::IQuery() {
  g729 = g723 = g711 = 0;
  std::ostringstream header;
  PutHeader(header);
  query(header.str());
}

void RtpFactory::Query(LGCP::Resources& r) {
  IQuery();
  report(r);
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.rtp_isSelected() || params.get_rtp().get_codecRTP().radio_isPresent()) return nullptr;
  LGCP::CreateRtpParams const& p = params.get_rtp();
  PutHeader(std::clog) << "do create rtp: " << p.get_codecRTP() << std::endl;

  std::ostringstream header;
  PutHeader(header);
  RtpSession::Opened s;
  if (!RtpSession::open(p, RtpSession::Options{true, 0}, header.str(), s)) return nullptr;

  RtpSlot* slot = new RtpSlot(s.channel, std::move(s.rtp), s.params);
  slot->startRTPC(s.rtcp, s.rtcpPeer);
  TERM::RtpParams const& rtp = p.get_codecRTP();
  if (rtp.echo_isPresent() && bool(rtp.get_echo().get_suppressor()))
    slot->echoCancel(rtp.get_echo().get_canceller());
  return slot;
}
