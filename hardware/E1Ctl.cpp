#include "hardware/E1Ctl.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <iostream>

#include "hardware/Device.h"
#include "protocol/ACP/ACP.h"
#include "hardware/Utils.h"

namespace {

// The highest state the controller's enumeration knows.
constexpr uint32_t kLastTrunkState = ACP::TrunkState::disabled;

void putRecord(uint8_t* rec, const E1Ctl::cas_channel& ch) {
  Device::putBE32(rec, static_cast<uint32_t>(ch.trunk));
  Device::putBE32(rec + 4, static_cast<uint32_t>(ch.timeslot));
  rec[8] = ch.rx;
  rec[9] = ch.tx;
  rec[10] = rec[11] = 0;
}

}  // namespace

E1Ctl* E1Ctl::instance() {
  static E1Ctl self;
  return &self;
}

E1Ctl::~E1Ctl() {
  if (fd_ >= 0) Device::close(fd_);
}

void E1Ctl::OnConnect() {
  SendStatus();
  SetTimer();
  tclk_ = 0;
  UpdateTclk();
  CheckOpenCas();
}

bool E1Ctl::OnCommand(const LGCP::Command& c) {
  if (c.ioctl_isSelected()) {
    HandleCas(c.get_ioctl());
    Success();
    return true;
  }
  if (c.trunkCfg_isSelected()) {
    SetMode(c.get_trunkCfg());
    Success();
    return true;
  }
  return false;
}

void E1Ctl::SetTimer() { timer_.set(kStatusPeriodMs, &E1Ctl::OnCheckStatus, this); }

void E1Ctl::OnCheckStatus(Timer*) {
  SendStatus();
  CheckOpenCas();
  SetTimer();
}

void E1Ctl::SetMode(const LGCP::TrunkCfg& cfg) {
  const int trunk = cfg.get_trunk().getValue();
  if (trunk < 0) return;
  const int mode = cfg.get_mode().asInt();
  const uint32_t bit = trunk < 32 ? uint32_t(1) << trunk : 0;
  if (mode == LGCP::TrunkMode::slave)
    tclk_ |= bit;
  else if (mode == LGCP::TrunkMode::master)
    tclk_ &= ~bit;
  else
    return;
  UpdateTclk();
}

void E1Ctl::UpdateTclk() {
  if (!IsOpen()) return;
  if (Device::requestValue(fd_, kSetTclk, long(tclk_)) < 0) {
    Errno e;
    std::cerr << "fail to set TCLK [cause=" << e << "]" << std::endl;
    return;
  }
  std::clog << "TCLT = 0x" << std::hex << tclk_ << std::dec << std::endl;
}

void E1Ctl::select_source(int source) {
  if (!IsOpen()) return;
  if (Device::requestValue(fd_, kClockSource, source) < 0) std::cerr << "fail to set clock source" << std::endl;
}

bool E1Ctl::IsOpen() {
  if (fd_ >= 0) return true;
  fd_ = Device::open(GetMaintenance(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return fd_ >= 0;
}

void E1Ctl::SendStatus() {
  if (!IsOpen()) return;
  LGCP::Signal sig;
  for (int trunk = 0; trunk < kTrunks; ++trunk) {
    uint8_t rec[kStatusSize] = {};
    Device::putBE32(rec + kOffTrunk, uint32_t(trunk));
    if (Device::requestRecord(fd_, kStatus, rec, sizeof rec) < 0) {
      Errno e;
      std::cerr << "synchronization status read fail, trunk = " << trunk << " cause = " << e << std::endl;
      continue;
    }
    ACP::TrunkStatus& ts = sig.select_trunkStatus();
    ts.set_trunk(trunk);
    // A state word the enumeration does not know would make the signal
    // unencodable and lose it: it goes out as unknown.
    const uint32_t state = Device::getBE32(rec + kOffState);
    ts.set_state(state <= kLastTrunkState ? ACP::TrunkState::NamedNumber(state) : ACP::TrunkState::unknown);
    ts.set_slips(int(Device::getBE32(rec + kOffSlips)));
    ts.set_lossBF(int(Device::getBE32(rec + kOffLossBF)));
    ts.set_lossCarrier(int(Device::getBE32(rec + kOffLossCarrier)));
    ts.set_lossAIS(int(Device::getBE32(rec + kOffLossAIS)));
    ts.set_lossRAI(int(Device::getBE32(rec + kOffLossRAI)));
    ts.set_clockMaster(false);
    ts.set_type(ACP::TrunkType::e1);
    SendSignal(sig);
  }
}

bool E1Ctl::CheckOpenCas() {
  if (cas_.is_valid()) return true;
  int fd = Device::open("/dev/e1-cas", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;  // the status cycle tries again every second
  cas_ = Fd(fd);
  std::clog << "cas interface opened!" << std::endl;
  casEvent_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
  casEvent_.Schedule(cas_, POLLIN);
  return true;
}

void E1Ctl::OnUpdateCas(int fd, short revents) {
  if (!(revents & (POLLIN | POLLERR | POLLHUP))) return;
  uint8_t rec[kCasRecordSize];
  const ssize_t n = Device::read(fd, rec, sizeof rec);
  if (n == ssize_t(sizeof rec)) {
    SendCASSignal(int(Device::getBE32(rec)), int(Device::getBE32(rec + 4)), rec[8], rec[9]);
    return;
  }
  if (n > 0) {
    std::cerr << "cas interface: short record of " << n << " bytes dropped" << std::endl;
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  // A device that fails its reads (or ends) would report ready for ever:
  // let it go, and the status cycle opens it again.
  Errno e(n < 0 ? errno : EIO);
  std::cerr << "cas interface read fail: " << e << std::endl;
  casEvent_.Release();
  cas_.close();
}

void E1Ctl::HandleCas(const LGCP::IoctlParams& p) {
  if (!CheckOpenCas() || !p.cas_isSelected()) return;
  const LGCP::CasCommand& cmd = p.get_cas();
  cas_channel ch;
  ch.trunk = cmd.get_channel().get_path().getValue();
  ch.timeslot = cmd.get_channel().get_timeslot().getValue();
  const LGCP::CasCommandSignal& s = cmd.get_cmd();
  if (s.open_isSelected())
    HandleCasOpen(ch, s.get_open().getValue());
  else if (s.set_isSelected())
    HandleCasOpen(ch, s.get_set().getValue());
  else if (s.close_isSelected())
    HandleCasClose(ch);
  else if (s.get_isSelected())
    HandleCasGet(ch);
}

void E1Ctl::HandleCasOpen(const cas_channel& ch, int bits) {
  if (ch.trunk < 0 || ch.trunk >= kTrunks) return;
  if (casOpen_[ch.trunk]) {
    SendCASTrunkStatus(ch.trunk, 0);
  } else {
    const int r = Device::requestValue(cas_.lowlevel_fd(), kCasOpen, ch.trunk);
    SendCASTrunkStatus(ch.trunk, r);
    if (r < 0) {
      std::clog << "open cas signalling on trunk(" << ch.trunk << ") - fail(" << r << ")" << std::endl;
      return;
    }
    std::clog << "open cas signalling on trunk(" << ch.trunk << ") - ok" << std::endl;
    casOpen_[ch.trunk] = 1;
  }
  if (ch.timeslot == kWholeTrunk || ch.timeslot == kSignallingSlot) return;
  uint8_t rec[kCasCtlSize];
  cas_channel en = ch;
  en.rx = 0;
  en.tx = uint8_t(bits & 0x0F);
  putRecord(rec, en);
  Device::putBE32(rec + kCasRecordSize, 0);
  const int r = Device::requestRecord(cas_.lowlevel_fd(), kCasCtl, rec, sizeof rec);
  if (r < 0) {
    SendCASSignal(ch.trunk, ch.timeslot, r, 0);
    return;
  }
  ReportBits(ch);
}

void E1Ctl::HandleCasSet(const cas_channel& ch, int bits) {
  if (ch.trunk < 0 || ch.trunk >= kTrunks || !casOpen_[ch.trunk] || !cas_.is_valid()) return;
  uint8_t rec[kCasRecordSize];
  cas_channel set = ch;
  set.rx = 0;
  set.tx = uint8_t(bits & 0x0F);
  putRecord(rec, set);
  const int r = Device::requestRecord(cas_.lowlevel_fd(), kCasSet, rec, sizeof rec);
  if (r < 0) {
    SendCASSignal(ch.trunk, ch.timeslot, r, 0);
    return;
  }
  ReportBits(ch);
}

void E1Ctl::ReportBits(const cas_channel& ch) {
  uint8_t rec[kCasRecordSize];
  cas_channel get = ch;
  get.rx = get.tx = 0;
  putRecord(rec, get);
  const int r = Device::requestRecord(cas_.lowlevel_fd(), kCasGet, rec, sizeof rec);
  if (r < 0)
    SendCASSignal(ch.trunk, ch.timeslot, r, 0);
  else
    SendCASSignal(ch.trunk, ch.timeslot, rec[8], rec[9]);
}

void E1Ctl::HandleCasClose(const cas_channel& ch) {
  if (ch.trunk < 0 || ch.trunk >= kTrunks || !casOpen_[ch.trunk]) return;
  if (ch.timeslot == kWholeTrunk) {
    int r = Device::requestValue(cas_.lowlevel_fd(), kCasClose, ch.trunk);
    if (r == 0) r = 1;
    SendCASTrunkStatus(ch.trunk, r);
    if (r >= 0) casOpen_[ch.trunk] = 0;
    return;
  }
  if (ch.timeslot == kSignallingSlot) return;
  uint8_t rec[kCasCtlSize];
  cas_channel dis = ch;
  dis.rx = dis.tx = 0;
  putRecord(rec, dis);
  Device::putBE32(rec + kCasRecordSize, 1);
  const int r = Device::requestRecord(cas_.lowlevel_fd(), kCasCtl, rec, sizeof rec);
  if (r < 0)
    SendCASSignal(ch.trunk, ch.timeslot, r, 0);
  else
    SendCASSignal(ch.trunk, ch.timeslot, -1, 1);
}

void E1Ctl::HandleCasGet(const cas_channel& ch) {
  if (ch.trunk < 0 || ch.trunk >= kTrunks || !casOpen_[ch.trunk]) return;
  ReportBits(ch);
}

void E1Ctl::SendCASSignal(int trunk, int timeslot, int rx, int tx) {
  LGCP::Signal sig;
  LGCP::CasSignalling& cas = sig.select_cas();
  cas.set_channel().set_path(trunk);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_rx(rx);
  cas.set_tx(tx);
  SendSignal(sig);
}

void E1Ctl::Assign(LGCP::CasChannel& out, const cas_channel& in) {
  out.set_path(in.trunk);
  out.set_timeslot(in.timeslot);
}

void E1Ctl::PutHeader(std::ostream& os) const { os << "E1: "; }
