#include "signalling/IsdnSlot.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/MccRequests.h"
#include "log/Ext.h"
#include "protocol/ACP/ACP.h"
#include "protocol/LGCP/LGCP.h"
#include "signalling/PacketRoom.h"
#include "signalling/Reports.h"

// ---------------------------------------------------------------- ISDN slot

IsdnSlot::IsdnSlot(Fd fd, ISDN::LAPD* link) : link_(link) {
  channel_ = Device::requestValue(fd.lowlevel_fd(), HDLC::kTimeslot, 0);
  watch(fd, "IsdnSlot::OnEvent");
}

IsdnSlot::IsdnSlot(Fd fd, ISDN::LAPD* link, uint32_t timeslotWord, const char* handlerName) : link_(link) {
  channel_ = Device::requestValue(fd.lowlevel_fd(), timeslotWord, 0);
  watch(fd, handlerName);
}

IsdnSlot::~IsdnSlot() = default;

void IsdnSlot::watch(Fd fd, const char* handlerName) {
  link_->BindNotify(this);
  link_->hdlc(this);
  event_.Bind<IsdnSlot>(handlerName, &IsdnSlot::OnEvent, this);
  event_.Schedule(fd, POLLIN | POLLOUT);
  ready_ = false;
  add_protocol_tail(link_);
}

void IsdnSlot::OnEvent(int fd, short revents) {
  if (revents & (POLLIN | POLLERR | POLLHUP)) {
    Packet frame;
    frame.reserve_head(0);
    const ssize_t n = Device::read(fd, frame.tail(), frame.tailroom());
    if (n > 0) {
      frame.put(unsigned(n));
      receive(frame);
      return;  // the next pass takes what else there is
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // The driver went away: a descriptor that stays readable for ever
    // would turn the loop into a spin.
    Errno e(n < 0 ? errno : EIO);
    std::cerr << static_cast<const Slot&>(*this) << ": read error: " << e << ", the channel is closed" << std::endl;
    event_.Release();
    ready_ = false;
    deactivate();
    return;
  }
  if ((revents & POLLOUT) && !ready_) {
    ready_ = true;
    event_.SetEvents(POLLIN);
    link_->on_hdlc_ready();
  }
}

bool IsdnSlot::hdlc_transmit(Packet& frame) {
  if (frame.null() || frame.empty()) return true;
  if (!is_open()) return false;
  ssize_t n;
  do {
    n = Device::write(event_.lowlevel_fd(), frame.data(), frame.length());
  } while (n < 0 && errno == EINTR);
  if (n >= 0) return true;
  if (errno == EAGAIN) {
    ready_ = false;
    event_.SetEvents(POLLIN | POLLOUT);
  }
  return false;
}

bool IsdnSlot::IActivate(const TERM::TermActivateParams&) {
  activate();
  return true;
}

bool IsdnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool IsdnSlot::IUserData(const std::vector<char>& data) {
  signalling::sendPayload(*this, data, std::cerr, "isdn-slot");
  return true;
}

void IsdnSlot::on_message(Packet& p) { OnUserData(std::vector<char>(p.data(), p.tail())); }

void IsdnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  OnActivated();
}

void IsdnSlot::on_deactivated(Protocol*, Protocol_status_ptr) {
  UpdateISDN_Statistics();
  OnDeactivated();
}

void IsdnSlot::UpdateISDN_Statistics() {
  LGCP::IoctlResponse r;
  if (signalling::isdnLinkInfo(r, *link_, network_)) OnIoctlResponse(r);
}

// ---------------------------------------------------------------- QSIG slots

AtsQsigSlot::AtsQsigSlot(Fd fd, ISDN::LAPD* link) : IsdnSlot(fd, link, kTimeslot, "AtsQsigSlot::OnEvent") {}

bool AtsQsigSlot::IBeforeDestroy() {
  event_.Release();
  return true;
}

AtsQsigBSlot* AtsQsigSlot::NewBChannel(unsigned b) {
  uint8_t rec[8];
  Device::putBE32(rec, b);
  Device::putBE32(rec + 4, 0xFFFFFFFFu);
  if (!is_open() || Device::requestRecord(event_.lowlevel_fd(), kAddB, rec, sizeof rec) < 0) {
    std::cerr << ext::header(this) << "add B channel fail !!!" << std::endl;
    return nullptr;
  }
  return new AtsQsigBSlot(GetId(), b, Device::getBE32(rec + 4));
}

void AtsQsigSlot::DestroyBChannel(unsigned b) {
  if (!is_open()) return;
  uint8_t rec[4];
  Device::putBE32(rec, b);
  Device::requestRecord(event_.lowlevel_fd(), kRemoveB, rec, sizeof rec);
}

bool AtsQsigBSlot::IBeforeDestroy() {
  Slot* s = IsdnFactory::instance().FindSlot(signalling_);
  if (!s) {
    std::clog << ext::header(this) << "Can't find signalling slot" << std::endl;
    return true;
  }
  if (auto* q = dynamic_cast<AtsQsigSlot*>(s)) q->DestroyBChannel(b_);
  return true;
}

// ---------------------------------------------------------------- factory

IsdnFactory& IsdnFactory::instance() {
  static IsdnFactory f;
  return f;
}

Slot* IsdnFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.isdn_isSelected()) return NewIsdnSlot(params.get_isdn());
  if (params.ats_qsig_isSelected()) return NewAtsQsigSlot(params.get_ats_qsig());
  if (params.ats_qsig_b_isSelected()) return NewAtsQsigBSlot(params.get_ats_qsig_b());
  return nullptr;
}

Slot* IsdnFactory::NewIsdnSlot(const LGCP::IsdnParams& params) {
  const int raw = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
    return nullptr;
  }
  Fd fd(raw);
  const bool bri = params.get_type() == LGCP::IsdnType::bri;
  const bool network = params.get_side().network_isSelected();
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  if (bri) link->change_to_bri();
  link->set_linkno(unsigned(params.get_trunk().getValue()));
  link->set_log(unsigned(params.get_log().getValue()));
  link->set_side(network ? ISDN::Side::network : ISDN::Side::user);
  if (MccAllocate(fd.lowlevel_fd(), bri ? mccBri : mccData, HDLC::kRxPacketSize, 1, 1) < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
    delete link;
    return nullptr;
  }
  auto* slot = new IsdnSlot(fd, link);
  slot->setSide(network);
  return slot;
}

Slot* IsdnFactory::NewAtsQsigSlot(const LGCP::AtsQsigParams& params) {
  const int raw = Device::open("/dev/dsp-data", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open dsp-data device: " << e << std::endl;
    return nullptr;
  }
  Fd fd(raw);
  const bool network = params.get_side().network_isSelected();
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  link->set_log(0);
  link->set_side(network ? ISDN::Side::network : ISDN::Side::user);
  auto* slot = new AtsQsigSlot(fd, link);
  slot->setSide(network);
  link->set_linkno(unsigned(slot->GetTimeslot()));
  return slot;
}

Slot* IsdnFactory::NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params) {
  auto* q = dynamic_cast<AtsQsigSlot*>(FindSlot(unsigned(params.get_slot().getValue())));
  const int subslot = params.get_subslot().getValue();
  if (!q || subslot < 1) return nullptr;
  return q->NewBChannel(unsigned(subslot - 1));
}

Slot* IsdnFactory::FindSlot(unsigned id) const {
  for (Slot* s : slots())
    if (s->GetId() == id) return s;
  return nullptr;
}
