#include "hardware/SpiCtrl.h"

#include <fcntl.h>

#include <cerrno>
#include <iostream>

#include "hardware/Device.h"
#include "protocol/ACP/ACP.h"

spiCtrl* spiCtrl::instance() {
  static spiCtrl self;
  return &self;
}

spiCtrl::spiCtrl() { init_device_and_channels(); }

spiCtrl::~spiCtrl() {
  if (fd_ < 0) return;
  timer_.reset();
  for (unsigned ch = 0; ch < kChannels; ++ch) disable_channel(int(ch));
  clock(-1);
  Device::close(fd_);
  fd_ = -1;
}

void spiCtrl::OnConnect() {
  if (fd_ >= 0 && present_) timer_.set(kStatusPeriodMs, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect() { timer_.reset(); }

void spiCtrl::NoSpi() {
  present_ = false;
  timer_.reset();
  std::clog << "spi: hal without spi" << std::endl;
}

unsigned spiCtrl::read(unsigned channel, unsigned reg) {
  if (fd_ < 0 || !present_) return 0;
  uint8_t rec[3] = {uint8_t(channel), uint8_t(reg), 0xFF};
  int r = Device::requestRecord(fd_, kRead, rec, sizeof rec);
  if (r < 0) {
    if (errno == ENODEV)
      NoSpi();
    else
      std::clog << "spi: read error: channel=" << channel << " addr=" << reg << std::endl;
    return 0;
  }
  return unsigned(r) & 0xFF;
}

void spiCtrl::write(unsigned channel, unsigned reg, unsigned value) {
  if (fd_ < 0 || !present_) return;
  uint8_t rec[3] = {uint8_t(channel), uint8_t(reg), uint8_t(value)};
  if (Device::requestRecord(fd_, kWrite, rec, sizeof rec) < 0) {
    if (errno == ENODEV)
      NoSpi();
    else
      std::clog << "spi: write error: channel=" << channel << " addr=" << reg << " data=" << value
                << std::endl;
  }
}

void spiCtrl::init_device_and_channels() {
  if (fd_ >= 0 || !present_) return;
  std::clog << "spi: try init" << std::endl;
  fd_ = Device::open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    fd_ = -1;
    std::clog << "spi: /dev/hal open fail" << std::endl;
    return;
  }
  for (int ch = 0; ch < kSetUpChannels; ++ch) {
    init_channel(ch);
    enable_channel(ch);
  }
}

bool spiCtrl::Ready(int ch, int lowest, const char* op) {
  if (!present_) return false;
  if (ch < lowest || ch >= int(kChannels)) {
    std::clog << "spi: bad channel for " << op << ch << std::endl;
    return false;
  }
  init_device_and_channels();
  return true;
}

void spiCtrl::init_channel(int ch) {
  if (!Ready(ch, 0, "init ")) return;
  write(ch, kRegEnable, 0x80);
  write(ch, kRegLineCoding, 0x08);
  write(ch, kRegClock, 0x30);
  write(ch, kRegMode, 0x60);
  write(ch, 0x35, 0x00);
  write(ch, 0x36, 0x00);
  write(ch, 0x37, 0x00);
  std::clog << "spi: init channel " << ch << std::endl;
}

void spiCtrl::enable_channel(int ch) {
  if (!Ready(ch, 0, "enable ")) return;
  write(ch, kRegEnable, 0x00);
  std::clog << "spi: enable channel " << ch << std::endl;
}

void spiCtrl::disable_channel(int ch) {
  if (!Ready(ch, 0, "disable ")) return;
  write(ch, kRegEnable, 0x80);
  std::clog << "spi: disable channel " << ch << std::endl;
}

void spiCtrl::clock(int ch) {
  if (!Ready(ch, -1, "set clock master ")) return;
  for (unsigned c = 0; c < kChannels; ++c) write(c, kRegClock, 0x30);
  if (ch == -1) {
    std::clog << "spi: clock master disabled" << std::endl;
    return;
  }
  write(ch, kRegClock, 0x38);
  std::clog << "spi: set clock master on channel " << ch << std::endl;
}

void spiCtrl::status() {
  if (!present_) return;
  LGCP::Signal sig;
  for (unsigned ch = 0; ch < kChannels; ++ch) {
    const unsigned r = read(ch, kRegStatus);
    // A HAL found without SPI mid-cycle has no line to report: the cycle
    // ends there rather than report dead framers as lost carriers.
    if (!present_) return;
    ACP::TrunkStatus& ts = sig.select_trunkStatus();
    ts.set_trunk(int(ch));
    ACP::TrunkState::NamedNumber state;
    if (!(r & kStatusCarrier))
      state = ACP::TrunkState::lossCarrier;
    else if (!(r & kStatusFrame))
      state = ACP::TrunkState::lossBF;
    else if ((r & kStatusAlarm) == 0x80)
      state = ACP::TrunkState::rai;
    else if ((r & kStatusAlarm) == 0xC0)
      state = ACP::TrunkState::normal;
    else
      state = ACP::TrunkState::ais;
    ts.set_state(state);
    int slips = 0;
    if (r & kStatusSlip) {
      slips = slipLatch_[ch] ? 0 : 1;
      slipLatch_[ch] = true;
    } else {
      slipLatch_[ch] = false;
    }
    ts.set_slips(slips);
    ts.set_lossBF(0);
    ts.set_lossCarrier(0);
    ts.set_lossAIS(0);
    ts.set_lossRAI(0);
    ts.set_type(ACP::TrunkType::bri);
    SendSignal(sig);
  }
  timer_.set(kStatusPeriodMs, &spiCtrl::status, this);
}
