#include "signalling/HdlcSlot.h"

#include <algorithm>
#include <iostream>

#include "log/Ext.h"
#include "protocol/ACP/ACP.h"
#include "protocol/TERM/TERM.h"
#include "signalling/Reports.h"

const bool* HdlcSlot::s_trace = nullptr;

const TimerSpec<HdlcSlot> HdlcSlot::TUpdatespec = {&HdlcSlot::OnUpdateTimer, 3000};

namespace {

constexpr uint32_t kUnset = 0xFFFFFFFF;

}  // namespace

HdlcSlot::HdlcSlot(const LGCP::HdlcParams& params)
    : hdlc_(new HDLC), trunk_(unsigned(params.get_trunk().getValue())), address_(uint16_t(params.get_address().getValue())) {
  pending_.select_hdlcPackages();
  hdlc_->bind(this);
  hdlc_->trunk(trunk_);
  trunk_ -= 1;
  hdlc_->logLevel(unsigned(params.get_log().getValue()));
  if (tracing()) std::clog << ext::header(this) << "trunk=" << trunk_ << ", address=" << address_ << std::endl;
  update_.set(this);
}

HdlcSlot::~HdlcSlot() { hdlc_.reset(); }

void HdlcSlot::PutHeader(std::ostream& os) const { os << "HdlcSlot[" << trunk_ << "/*]" << ": "; }

void HdlcSlot::trace(const char* what, const Packet* frame) const {
  if (!tracing()) return;
  std::clog << ext::header(this) << what << std::endl;
  if (frame) std::clog << *frame << std::endl;
}

// ---------------------------------------------------------------- channel

bool HdlcSlot::connect(int channel, bool feed) {
  HDLC::Params p = hdlc_->params();
  p.tdm = uint32_t(channel);
  p.mode = HDLC::pri;
  hdlc_->params(p);
  if (p.tdm != kUnset) iactivate(feed);
  return true;
}

bool HdlcSlot::IHwConnectTransmitter(Slot& dst) {
  trace("IHwConnectTransmitter");
  return connect(dst.GetReceiveChannel(), true);
}

bool HdlcSlot::IHwConnectReceiver(Slot& src) {
  trace("IHwConnectReceiver");
  return connect(src.GetTransmitChannel(), feeds(src));
}

bool HdlcSlot::feeds(Slot& trunk) {
  Slot* other = trunk.GetSource();
  return !other || other == this;
}

Slot* HdlcSlot::trunkSource() {
  Slot* src = GetSource();
  return src && uint32_t(src->GetTransmitChannel()) == hdlc_->params().tdm ? src : nullptr;
}

void HdlcSlot::iactivate(bool feed) {
  if (tracing())
    std::clog << ext::header(this) << "Try to activate HDCL, params.tdm = " << int(hdlc_->params().tdm) << std::endl;
  if (!hdlc_->activate(feed)) {
    OnDeactivated();
    return;
  }
  trace("HDLC activated successfully");
}

bool HdlcSlot::IActivate(const TERM::TermActivateParams&) {
  trace("IActivate");
  if (hdlc_->params().tdm == kUnset) {
    // Nothing to switch the channel to yet: the connection starts it.
    std::clog << ext::header(this) << "not connected, the channel starts with the connection" << std::endl;
    return true;
  }
  Slot* trunk = trunkSource();
  iactivate(!trunk || feeds(*trunk));
  return true;
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot& dst) {
  trace("IHwDisconnectTransmitter");
  Slot::IHwDisconnectTransmitter(dst);
  hdlc_->deactivate();
  if (!trunkSource()) forget();
  return true;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot&) {
  trace("IHwDisconnectReceiver");
  // The slot has no receive channel of its own on the switch (the
  // controller's channel is switched by the HDLC): nothing to break there.
  hdlc_->deactivate();
  const std::vector<Slot*>& sinks = GetSinks();
  const uint32_t tdm = hdlc_->params().tdm;
  if (std::none_of(sinks.begin(), sinks.end(), [tdm](Slot* s) { return uint32_t(s->GetReceiveChannel()) == tdm; }))
    forget();
  return true;
}

void HdlcSlot::forget() {
  HDLC::Params p = hdlc_->params();
  p.tdm = kUnset;
  hdlc_->params(p);
}

bool HdlcSlot::IDeactivate() {
  update_.set(this);
  UpdateHDLC_Statistics();
  return true;
}

// ---------------------------------------------------------------- sending

bool HdlcSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (!params.hdlcPackages_isSelected()) return false;
  for (const LGCP::HdlcPackage& pkg : params.get_hdlcPackages()) {
    const std::vector<char>& body = pkg.get_body();
    Packet f;
    f.reserve_head(0);
    f.put16_b(address_);
    f.put8(uint8_t(sent_ * 32 + lastReceived_));
    ++sent_;
    for (char c : body) f.put8(static_cast<unsigned char>(c));
    if (tracing())
      std::clog << ext::header(this) << "enqueue package: " << std::endl << ext::hex(f.data(), f.tail()) << std::endl;
    if (transmitPacket(f)) {
      overflowSaid_ = false;
    } else if (!overflowSaid_) {
      // The answer stays a success: the controller is told here, once
      // per run of dropped frames.
      std::cerr << ext::header(this) << "backlog full (" << kBacklog << " frames), frames dropped" << std::endl;
      overflowSaid_ = true;
    }
  }
  return true;
}

bool HdlcSlot::transmitPacket(Packet& frame) {
  const bool queued = backlog_.put(frame);
  if (!backlog_.empty() && hdlc_->is_ready()) on_hdlc_ready();
  return queued;
}

void HdlcSlot::on_hdlc_ready() {
  Packet f;
  while (backlog_.preview(&f)) {
    if (!hdlc_->hdlc_transmit(f)) return;
    backlog_.get(nullptr);
    trace("on_hdlc_ready", &f);
  }
}

// ---------------------------------------------------------------- receiving

void HdlcSlot::on_hdlc_receive(Packet& frame) {
  trace("on_hdlc_receive", &frame);
  enqResponce(frame);
  // What is left is the body; its second octet decides whether the run
  // goes on. A body too short to have one ends the run.
  const bool more = frame.length() >= 2 && (frame[1] & 0x80);
  if (!more) {
    flush_.reset();
    flushResponce();
  } else if (!flush_.is_running()) {
    flush_.set(kFlushMs, &HdlcSlot::flushResponce, this);
  }
}

void HdlcSlot::enqResponce(Packet& frame) {
  const uint16_t address = frame.pull16_b();
  const uint8_t control = frame.pull8();
  if (address != address_) return;
  lastReceived_ = control >> 5;
  LGCP::HdlcPackage pkg;
  pkg.set_body(std::vector<char>(frame.data(), frame.tail()));
  pending_.ref_hdlcPackages().push_back(pkg);
}

void HdlcSlot::flushResponce() {
  const unsigned n = pending_.get_hdlcPackages().size();
  if (tracing()) std::clog << ext::header(this) << "flushResponce: " << n << std::endl;
  if (n) OnIoctlResponse(pending_);
  pending_.select_hdlcPackages();
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type) {
  std::clog << ext::header(this) << "on_hdlc_error" << std::endl;
}

// ---------------------------------------------------------------- reports

void HdlcSlot::OnUpdateTimer() {
  update_.set(this);
  UpdateHDLC_Statistics();
}

void HdlcSlot::UpdateHDLC_Statistics() {
  LGCP::IoctlResponse r;
  signalling::hdlcLinkInfo(r, hdlc_->statistics());
  OnIoctlResponse(r);
}

// ---------------------------------------------------------------- factory

HdlcSlotFactory& HdlcSlotFactory::instance() {
  static HdlcSlotFactory f;
  return f;
}

Slot* HdlcSlotFactory::INewSlot(const LGCP::CreateParams& params) {
  if (HdlcSlot::tracing()) std::clog << std::endl << std::endl << "HdlcSlotFactory.INewSlot" << std::endl << std::endl << std::endl;
  if (!params.hdlcParams_isSelected()) return nullptr;
  return new HdlcSlot(params.get_hdlcParams());
}

void HdlcSlotFactory::SelfSignal(const LGCP::Signal&) {
  // Trunk statuses mean nothing to a frame pipe.
}
