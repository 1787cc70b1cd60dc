#include "signalling/PstnSlot.h"

#include <cstring>
#include <iostream>

#include "protocol/ACP/ACP.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "signalling/LAPD_NT.h"
#include "signalling/PacketRoom.h"
#include "signalling/Reports.h"
#include "signalling/SLC.h"

const TimerSpec<PstnSlot> PstnSlot::TUpdatespec = {&PstnSlot::OnUpdateTimer, 3000};

PstnSlot::PstnSlot(const LGCP::PstnParams& params)
    : hdlc_(new HDLC), lastTrunkState_(ACP::TrunkState::unknown) {
  hdlc_->bind(this);
  if (params.ss7_isSelected()) {
    const LGCP::SS7Params& p = params.get_ss7();
    const int trunk = p.get_trunk().getValue();
    slc_ = new SS7::SLC;
    target_ = slc_;
    slc_->hdlc(hdlc_.get());
    slc_->set_linkno(unsigned(trunk));
    slc_->set_slc(unsigned(p.get_slc().getValue()));
    slc_->set_dpc(unsigned(p.get_dpc().getValue()));
    slc_->set_opc(unsigned(p.get_opc().getValue()));
    slc_->set_emergency(p.get_emergency());
    add_protocol_tail(slc_);
    hdlc_->trunk(unsigned(trunk));
    trunk_ = unsigned(trunk) - 1;
    kind_ = Ss7;
  } else if (params.isdn_isSelected()) {
    const LGCP::IsdnParams& p = params.get_isdn();
    const bool bri = p.get_type() == LGCP::IsdnType::bri;
    const bool network = p.get_side().network_isSelected();
    const int trunk = p.get_trunk().getValue();
    const unsigned log = unsigned(p.get_log().getValue());
    if (bri && network) {
      // The network side sends through this slot's transmit and takes
      // the channel's frames from on_hdlc_receive.
      lapdNt_ = new ISDN::LAPD_NT;
      lapdNt_->set_log(log);
      add_protocol_tail(lapdNt_);
      kind_ = BriNetwork;
    } else {
      lapd_ = new ISDN::LAPD(network ? ISDN::Side::network : ISDN::Side::user, log);
      network_ = network;
      target_ = lapd_;
      lapd_->hdlc(hdlc_.get());
      lapd_->set_linkno(unsigned(trunk));
      lapd_->BindNotify(this);
      hdlc_->logLevel(log);
      hdlc_->trunk(unsigned(trunk));
      trunk_ = unsigned(trunk) - 1;
      if (bri) {
        lapd_->change_to_bri();
        kind_ = BriUser;
      } else {
        kind_ = Pri;
      }
      add_protocol_tail(lapd_);
    }
  }
  // cas: no link; the slot only holds its place.
  update_.set(this);
}

PstnSlot::~PstnSlot() {
  // The channel goes first, so that nothing it delivers reaches a link
  // being deleted; the stack deletes the link with the family.
  hdlc_.reset();
}

// ---------------------------------------------------------------- channel

void PstnSlot::start(Slot* trunk) {
  const HDLC::Params& p = hdlc_->params();
  const bool bri = kind_ == BriUser || kind_ == BriNetwork;
  if (p.tdm == kUnset || (bri && p.tdmTx == kUnset)) {
    // No connection gives the channels: the link starts when one does.
    std::clog << "pstn-slot: " << static_cast<const Slot&>(*this) << ": not connected, the link starts with the connection" << std::endl;
    return;
  }
  if (!hdlc_->activate(feedsTimeSlot(trunk))) {
    OnDeactivated();
    return;
  }
  activate();
}

bool PstnSlot::feedsTimeSlot(Slot* trunk) const {
  if (kind_ == BriUser || kind_ == BriNetwork) return true;  // start() waits for both connections
  Slot* other = trunk ? trunk->GetSource() : nullptr;
  return !other || other == this;
}

bool PstnSlot::IHwConnectReceiver(Slot& src) {
  HDLC::Params p = hdlc_->params();
  if (kind_ == Ss7 || kind_ == Pri) {
    const unsigned trunk = unsigned(src.GetTrunk());
    if (trunk > 3) {
      std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
      return false;
    }
    const unsigned timeslot = unsigned(src.GetTrunkTimeSlot());
    if (timeslot > 31) {
      std::cerr << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
      return false;
    }
    p.trunk = trunk;
    p.timeslot = timeslot;
  }
  p.mode = kind_ == Ss7 ? HDLC::ss7 : kind_ == Pri ? HDLC::pri : HDLC::bri;
  p.tdm = uint32_t(src.GetTransmitChannel());
  hdlc_->params(p);
  // A BRI port needs the other direction's channel as well.
  if ((kind_ == BriUser || kind_ == BriNetwork) && p.tdmTx == kUnset) return true;
  start(&src);
  return true;
}

bool PstnSlot::IHwConnectTransmitter(Slot& dst) {
  if (kind_ == Ss7 || kind_ == Pri) {
    // The receiver connection wired the time-slot both ways. Taking this
    // connection down idled the time-slot; making it again gives it back
    // to the open channel.
    if (hdlc_->is_open() && uint32_t(dst.GetReceiveChannel()) == hdlc_->params().tdm) return hdlc_->rewire();
    return true;
  }
  HDLC::Params p = hdlc_->params();
  p.tdmTx = uint32_t(dst.GetReceiveChannel());
  hdlc_->params(p);
  if (p.tdm != kUnset) start(GetSource());
  return true;
}

bool PstnSlot::IHwDisconnectReceiver(Slot&) {
  deactivate();
  // The slot has no receive channel of its own on the switch: the paths
  // are the HDLC channel's, and closing it undoes them. Left open, they
  // would outlive the connection that made them.
  hdlc_->deactivate();
  forget(&HDLC::Params::tdm);
  return true;
}

bool PstnSlot::IHwDisconnectTransmitter(Slot& dst) {
  const bool bri = kind_ == BriUser || kind_ == BriNetwork;
  if (bri) deactivate();
  Slot::IHwDisconnectTransmitter(dst);
  // A BRI channel needs both connections; on an E1 time-slot the receiver
  // connection made both ways and keeps its channel.
  if (bri) {
    hdlc_->deactivate();
    forget(&HDLC::Params::tdmTx);
  }
  return true;
}

void PstnSlot::forget(uint32_t HDLC::Params::*channel) {
  HDLC::Params p = hdlc_->params();
  p.*channel = kUnset;
  hdlc_->params(p);
}

bool PstnSlot::IActivate(const TERM::TermActivateParams&) {
  start(GetSource());
  return true;
}

bool PstnSlot::IDeactivate() {
  deactivate();
  return true;
}

void PstnSlot::on_hdlc_receive(Packet& frame) {
  if (target_)
    target_->on_hdlc_receive(frame);
  else if (lapdNt_)
    lapdNt_->receive(frame);
}

void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  if (target_) target_->on_hdlc_error(cause);
}

void PstnSlot::on_hdlc_ready() {
  // The network side keeps nothing back that readiness could release.
  if (target_) target_->on_hdlc_ready();
}

void PstnSlot::transmit(Packet& p) {
  if (kind_ == BriNetwork) hdlc_->hdlc_transmit(p);
}

// ---------------------------------------------------------------- payloads

bool PstnSlot::IUserData(const std::vector<char>& data) {
  if (top()) signalling::sendPayload(*this, data, std::cerr, "pstn-slot");  // cas: nowhere to go
  return true;
}

void PstnSlot::on_message(Packet& p) {
  std::vector<char> bytes(p.data(), p.tail());
  OnUserData(bytes);
}

void PstnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, Protocol_status_ptr) {
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnUpdateTimer();
  OnDeactivated();
}

// ---------------------------------------------------------------- reports

void PstnSlot::OnUpdateTimer() {
  update_.set(this);
  UpdateHDLC_Statistics();
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
}

void PstnSlot::UpdateHDLC_Statistics() {
  LGCP::IoctlResponse r;
  signalling::hdlcLinkInfo(r, hdlc_->statistics());
  OnIoctlResponse(r);
}

void PstnSlot::UpdateISDN_Statistics() {
  if (!lapd_) return;
  LGCP::IoctlResponse r;
  if (signalling::isdnLinkInfo(r, *lapd_, network_)) OnIoctlResponse(r);
}

void PstnSlot::UpdateSS7_Statistics() {
  if (!slc_) return;
  const SS7::SLC::Statistics s = slc_->statistics();
  LGCP::IoctlResponse r;
  ACP::SS7LinkInfo& i = r.select_ss7LinkInfo();
  i.set_msuTxCount(int(s.suSent));
  i.set_msuRxCount(int(s.suReceived));
  i.set_octetsTx(int(s.octetsSent));
  i.set_octetsRx(int(s.octetsReceived));
  i.set_speedRx(0);
  i.set_speedTx(0);
  i.set_overflowCntr(int(s.tbOverflows));
  i.set_rtbSize(int(s.rtbSize));
  i.set_repeatCntr(int(s.retransmissions));
  i.set_badSeqCntr(int(s.nacks));
  i.set_ss7state(ACP::SS7State::NamedNumber(slc_->get_state_id()));
  OnIoctlResponse(r);
}

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* link) {
  LGCP::IoctlResponse r;
  r.select_isdnLinkStatus(link->GetFlowStatus() == ISDN::LAPD::FlowStatus::congested
                              ? LGCP::IsdnLinkStatus::congested
                              : LGCP::IsdnLinkStatus::normal);
  OnIoctlResponse(r);
}

bool PstnSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (params.ss7RqBSN_isSelected()) {
    if (!slc_) return false;
    LGCP::IoctlResponse r;
    r.select_ss7BSN(int(slc_->get_bsn()));
    OnIoctlResponse(r);
    return true;
  }
  if (params.ss7Log_isSelected()) {
    if (!slc_) return false;
    const LGCP::SS7L2Log& l = params.get_ss7Log();
    SS7::SLC::Trace& t = slc_->trace();
    t.state = l.get_state();
    t.rawReceive = l.get_raw_receive();
    t.rawTransmit = l.get_raw_transmit();
    t.mtpTransmit = l.get_mtp_transmit();
    t.mtpReceive = l.get_mtp_receive();
    t.mtpActivate = l.get_mtp_activate();
    t.timers = l.get_timers();
    t.msuProcessing = l.get_msu_processing();
    return true;
  }
  return false;
}

void PstnSlot::OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) {
  if (!slc_ || trunk != trunk_ || int(state) == lastTrunkState_) return;
  lastTrunkState_ = int(state);
  slc_->OnTrunkHardStatus(state == ACP::TrunkState::normal);
}

// ---------------------------------------------------------------- factory

PstnFactory& PstnFactory::instance() {
  static PstnFactory f;
  return f;
}

Slot* PstnFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.pstn_isSelected()) return nullptr;
  return new PstnSlot(params.get_pstn());
}

void PstnFactory::SelfSignal(const LGCP::Signal& sig) {
  if (!sig.trunkStatus_isSelected()) return;
  const ACP::TrunkStatus& t = sig.get_trunkStatus();
  const unsigned trunk = unsigned(t.get_trunk().getValue());
  const auto state = ACP::TrunkState::NamedNumber(t.get_state());
  // E1 and BRI trunks are numbered apart: BRI framer n says nothing of the
  // link on E1 trunk n, so a status only reaches links on its own kind of
  // trunk.
  const bool bri = t.get_type().asInt() == ACP::TrunkType::bri;
  // A copy: a slot may go while it is told.
  const std::list<Slot*> slots = this->slots();
  for (Slot* s : slots) {
    const PstnSlot::Kind k = static_cast<PstnSlot*>(s)->kind();
    const bool onBri = k == PstnSlot::BriUser || k == PstnSlot::BriNetwork;
    if (onBri == bri) s->OnTrunkStatus(trunk, state);
  }
}
