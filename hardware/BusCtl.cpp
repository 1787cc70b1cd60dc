#include "hardware/BusCtl.h"

#include <fcntl.h>

#include <iostream>

#include "hardware/Device.h"
#include "hardware/SpiCtrl.h"
#include "log/Ext.h"

namespace {

const char* const kClockNames[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};

}  // namespace

BusCtl* BusCtl::instance() {
  static BusCtl self;
  return &self;
}

BusCtl::~BusCtl() {
  if (fd_ >= 0) Device::close(fd_);
}

const char* BusCtl::ClockName(int value) {
  if (value < 0 || value >= int(sizeof kClockNames / sizeof kClockNames[0])) return nullptr;
  return kClockNames[value];
}

void BusCtl::OnConnect() {
  if (enabled_) SetDefaultClock();
}

void BusCtl::OnDisconnect() {
  if (enabled_) SetDefaultClock();
}

bool BusCtl::OnCommand(const LGCP::Command& c) {
  if (!c.clockCfg_isSelected()) return false;
  if (!enabled_) {
    Error(LGCP::ErrorCause::unsupported);
    return true;
  }
  SetClockSrc(c.get_clockCfg());
  Success();
  return true;
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  enabled_ = false;
}

bool BusCtl::IsOpen() {
  if (fd_ >= 0) return true;
  if (!enabled_) return false;
  fd_ = Device::open("/dev/hal", O_RDWR | O_CLOEXEC);
  return fd_ >= 0;
}

void BusCtl::SetDefaultClock() {
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  SetClockSrc(cfg);
}

void BusCtl::SetClockSrc(const LGCP::ClockCfg& cfg) {
  if (!IsOpen()) {
    // Without the switch no framer may drive the clock either.
    spiCtrl::instance()->clock(-1);
    std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
    return;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << cfg << std::endl;
  int value;
  if (cfg.get_clkSel0().asInt() == LGCP::ClkSel0::internal) {
    value = kFreeRun;
  } else if (cfg.get_bextEn().asInt() == LGCP::BExtEn::enabled) {
    value = cfg.get_source().getValue();
    if (value < 0) return;  // no source named: the clock stays as it is
  } else {
    value = kX3;
  }
  DrvSetClkSrc(value);
}

void BusCtl::DrvSetClkSrc(int value) {
  if (!IsOpen()) {
    std::cerr << ext::header(this) << "device open error" << std::endl;
    return;
  }
  uint8_t rec[4];
  Device::putBE32(rec, static_cast<uint32_t>(value));
  if (Device::requestRecord(fd_, kClockSelect, rec, sizeof rec) < 0) {
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
    return;
  }
  // A value the driver took but has no name for is shown as its number.
  std::cerr << ext::header(this) << "clock source = ";
  if (const char* name = ClockName(value))
    std::cerr << name;
  else
    std::cerr << value;
  std::cerr << std::endl;
}

void BusCtl::PutHeader(std::ostream& os) const { os << "clkctl: "; }
