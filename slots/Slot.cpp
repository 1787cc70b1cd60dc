#include "slots/Slot.h"

#include <algorithm>
#include <functional>
#include <iomanip>
#include <iostream>

#include "protocol/LEMZGW/LEMZGW.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "slots/Connection.h"
#include "slots/SlotFactory.h"
#include "slots/Slots.h"

Slot::Slot() = default;

Slot::~Slot() = default;

// ---------------------------------------------------------------- defaults

int Slot::GetTrunk() { return -1; }
int Slot::GetTrunkTimeSlot() { return -1; }
void Slot::OnTrunkStatus(unsigned, const ACP::TrunkState::NamedNumber&) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(const TERM::TermActivateParams&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(const std::vector<char>&) { return false; }
bool Slot::Ioctl(const LGCP::IoctlParams&) { return false; }
int Slot::GetConnectionPriority() { return 0; }
bool Slot::IHwConnectTransmitter(Slot& dst) { return MuxConnect(*this, dst); }
bool Slot::IHwConnectReceiver(Slot& src) { return MuxConnect(src, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& dst) { return MuxDisconnect(dst); }
bool Slot::IHwDisconnectReceiver(Slot&) { return MuxDisconnect(*this); }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
int Slot::IGetTransmitChannel() { return -1; }
int Slot::IGetReceiveChannel() { return -1; }

// ---------------------------------------------------------------- log name

void Slot::Put(std::ostream& os) const {
  if (id_ <= 1023) {
    os.fill('0');
    os << std::setw(2) << id_;
  } else if (id_ != kNoId) {
    os << 'i' << id_;
  } else {
    os << "na";
  }
  os << ':' << GetName();
  os.fill(' ');
}

std::ostream& operator<<(std::ostream& os, const Slot& s) {
  s.Put(os);
  return os;
}

// ---------------------------------------------------------------- graph

void Slot::LogicalConnect(Slot& src) {
  source_ = &src;
  std::vector<Slot*>& list = src.sinks_;
  auto at = std::lower_bound(list.begin(), list.end(), this, std::less<Slot*>());
  if (at == list.end() || *at != this) list.insert(at, this);
}

void Slot::LogicalDisconnect() {
  if (!source_) return;
  std::vector<Slot*>& list = source_->sinks_;
  auto at = std::lower_bound(list.begin(), list.end(), this, std::less<Slot*>());
  if (at != list.end() && *at == this) list.erase(at);
  source_ = nullptr;
}

// ---------------------------------------------------------------- signals

void Slot::SendSignal(const LGCP::Signal& sig) { Slots::instance().SendSignal(id_, sig); }

void Slot::OnChangeInputStream(bool on) {
  if (on == inputActive_) return;
  LGCP::Signal sig;
  LGCP::Stream& stream = sig.select_receiver();
  if (on) {
    stream.select_active(IGetReceiveChannel());
  } else {
    stream.select_inactive();
    Disconnect(*this);
  }
  inputActive_ = on;
  SendSignal(sig);
}

void Slot::OnChangeOutputStream(bool on) {
  if (on == outputActive_) return;
  LGCP::Signal sig;
  LGCP::Stream& stream = sig.select_transmitter();
  if (on) {
    stream.select_active(IGetTransmitChannel());
  } else {
    stream.select_inactive();
    for (size_t n = sinks_.size(); n > 0; --n) {
      if (sinks_.empty()) {
        std::cerr << "mux: internal error: expected slots not exists." << std::endl;
        break;
      }
      Disconnect(*sinks_.front());
    }
  }
  outputActive_ = on;
  SendSignal(sig);
}

void Slot::OnTonecEvent(const LGCP::TonecEvent& e) { SendSignal(LGCP::Signal(LGCP::Signal::tonec::id, e)); }

void Slot::OnNumber(const std::string& number) { SendSignal(LGCP::Signal(LGCP::Signal::number::id, number)); }

void Slot::OnModem(const TERM::ModemProceeding& p) {
  SendSignal(LGCP::Signal(LGCP::Signal::modemProceeding::id, p));
}

void Slot::OnModem(const TERM::ModemInformation& i) {
  SendSignal(LGCP::Signal(LGCP::Signal::modemInformation::id, i));
}

void Slot::OnActivated() { SendSignal(LGCP::Signal(LGCP::Signal::activated::id)); }

void Slot::OnDeactivated() {
  SendSignal(LGCP::Signal(LGCP::Signal::deactivated::id, LGCP::DeactivateCause::networkError));
}

void Slot::OnAbort(int cause) { SendSignal(LGCP::Signal(LGCP::Signal::abort::id, cause)); }

void Slot::OnUserData(const std::vector<char>& data) {
  SendSignal(LGCP::Signal(LGCP::Signal::userData::id, data));
}

void Slot::OnIoctlResponse(const LGCP::IoctlResponse& r) { SendSignal(LGCP::Signal(LGCP::Signal::ioctl::id, r)); }

void Slot::OnRtpRadioEvent(const TERM::RtpRadioRequest& r) {
  SendSignal(LGCP::Signal(LGCP::Signal::rtpExt::id, r));
}

void Slot::OnVADEvent(const LGCP::VADEvent& e) { SendSignal(LGCP::Signal(LGCP::Signal::vad::id, e)); }

void Slot::OnProtoLemzEvent(const LEMZGW::ProtoLemzPackets& p) {
  SendSignal(LGCP::Signal(LGCP::Signal::protoLemz::id, p));
}

void Slot::OnSDEvent(const LGCP::SDEvent& e) { SendSignal(LGCP::Signal(LGCP::Signal::sd::id, e)); }

void Slot::OnRtpEvent(const LGCP::RtpEvent& e) { SendSignal(LGCP::Signal(LGCP::Signal::rtp::id, e)); }

// ---------------------------------------------------------------- destruction

bool Slot::BeforeDestroy() {
  inBeforeDestroy_ = true;
  releasedEarly_ = false;
  const bool now = IBeforeDestroy();
  inBeforeDestroy_ = false;
  if (!now && !releasedEarly_) return false;
  if (factory_)
    factory_->Remove(this);
  else
    std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
  return true;
}

void Slot::on_release() {
  if (!destroying_) return;
  if (inBeforeDestroy_) {
    // Finished before IBeforeDestroy() returned: BeforeDestroy() takes it
    // as done at once.
    releasedEarly_ = true;
    return;
  }
  if (factory_) factory_->Remove(this);
  Slots::instance().on_release(this);
}
