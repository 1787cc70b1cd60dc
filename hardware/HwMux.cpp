#include "hardware/HwMux.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "hardware/Device.h"
#include "runtime/Fd.h"

HwMux* HwMux::instance() {
  static HwMux mux;
  return &mux;
}

HwMux::HwMux() {
  for (int32_t& e : source_) e = kDisabled;
  std::clog << "hwMux: init" << std::endl;
  IsOpened();
  // Binding after IsOpened keeps the call active when the open succeeded.
  dpc_.Bind(this, &HwMux::OnDPC);
}

HwMux::~HwMux() {
  if (fd_ >= 0) Device::close(fd_);
  fd_ = -1;
}

bool HwMux::IsOpened() {
  // Descriptor 0 is an open device too (the daemon may start with stdin
  // closed); reopening it would leak a descriptor per call and cut every
  // bus path with the start-up disables.
  if (fd_ >= 0) return true;
  fd_ = Device::open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    Errno e;
    fd_ = -1;
    std::clog << "hwMux: can't open device: " << e << std::endl;
    return false;
  }
  SetCloexec(fd_, true);
  std::clog << "hwMux: device opened" << std::endl;
  uint8_t rec[4];
  for (int i = 0; i < kBusChannels; ++i) {
    Device::putBE32(rec, uint32_t(kFirstBusChannel + i));
    Device::requestRecord(fd_, kDisable, rec, sizeof rec);
    source_[i] = kDisabled;
  }
  cursor_ = 0;
  dpc_.Activate();
  // Gives the switch time to settle after the sweep.
  usleep(500);
  return true;
}

bool HwMux::Connect(int src, int dst) {
  if (!IsOpened() || src < 0 || dst < 0) {
    std::clog << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  uint8_t rec[8];
  Device::putBE32(rec, uint32_t(dst));
  Device::putBE32(rec + 4, uint32_t(src));
  // Recorded before the request and kept when it fails: the refresh must
  // not disable a channel that was meant to listen.
  if (isBus(dst)) source_[dst - kFirstBusChannel] = src;
  else listening_[dst] = src;
  if (Device::requestRecord(fd_, kConnect, rec, sizeof rec) < 0) {
    Errno e;
    std::clog << "hwMux: connect " << src << " -> " << dst << " failed: " << e << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disconnect(int channel) {
  if (!IsOpened() || channel < 0) return false;
  uint8_t rec[8];
  Device::putBE32(rec, uint32_t(channel));
  Device::putBE32(rec + 4, kIdleByte);
  if (isBus(channel)) source_[channel - kFirstBusChannel] = kDriven;
  else listening_.erase(channel);
  if (Device::requestRecord(fd_, kWrite, rec, sizeof rec) < 0) {
    Errno e;
    std::clog << "hwMux: disconnect failed " << channel << " : " << e << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disable(int channel) {
  if (!IsOpened() || channel < 0) return false;
  if (isBus(channel)) source_[channel - kFirstBusChannel] = kDisabled;
  else listening_.erase(channel);
  uint8_t rec[4];
  Device::putBE32(rec, uint32_t(channel));
  if (Device::requestRecord(fd_, kDisable, rec, sizeof rec) < 0) {
    Errno e;
    std::clog << "hwMux: disable failed " << channel << " : " << e << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int channel, unsigned char byte) {
  if (!IsOpened() || channel < 0) return false;
  if (isBus(channel)) source_[channel - kFirstBusChannel] = kDriven;
  else listening_.erase(channel);
  uint8_t rec[8];
  Device::putBE32(rec, uint32_t(channel));
  Device::putBE32(rec + 4, byte);
  if (Device::requestRecord(fd_, kWrite, rec, sizeof rec) < 0) {
    Errno e;
    std::clog << "hwMux: write failed " << channel << " <- 0x" << std::hex << unsigned(byte)
              << std::dec << " : " << e << std::endl;
    return false;
  }
  return true;
}

short HwMux::Read(int channel) {
  if (!IsOpened() || channel < 0) return 255;
  uint8_t rec[8];
  Device::putBE32(rec, uint32_t(channel));
  Device::putBE32(rec + 4, 255);
  if (Device::requestRecord(fd_, kRead, rec, sizeof rec) < 0) {
    Errno e;
    std::clog << "hwMux: read failed " << channel << " -> 0x" << std::hex
              << Device::getBE32(rec + 4) << std::dec << " : " << e << std::endl;
    return 255;
  }
  return short(Device::getBE32(rec + 4) & 0xFF);
}

void HwMux::RefreshChannel(int index) {
  if (index < 0 || index >= kBusChannels || source_[index] != kDisabled) return;
  disableEntry(index);
}

void HwMux::disableEntry(int index) {
  uint8_t rec[4];
  Device::putBE32(rec, uint32_t(kFirstBusChannel + index));
  Device::requestRecord(fd_, kDisable, rec, sizeof rec);
}

void HwMux::OnDPC() {
  if (fd_ < 0) return;
  // The next 128 entries after the cursor, wrapping from the last to the
  // first, as RefreshChannel would take them one by one; scanned in
  // straight runs because the loop pass pays for every entry.
  int left = kRefreshPerRun;
  while (left > 0) {
    int first = cursor_ + 1 < kBusChannels ? cursor_ + 1 : 0;
    int end = first + left < kBusChannels ? first + left : kBusChannels;
    for (int i = first; i < end; ++i)
      if (source_[i] == kDisabled) disableEntry(i);
    left -= end - first;
    cursor_ = end - 1;
  }
}

void HwMux::Reset() {}

int HwMux::sourceOf(int channel) const {
  return isBus(channel) ? source_[channel - kFirstBusChannel] : kDisabled;
}

bool HwMux::Listens(int dst, int src) const {
  if (dst < 0 || src < 0) return false;
  if (isBus(dst)) return source_[dst - kFirstBusChannel] == src;
  auto it = listening_.find(dst);
  return it != listening_.end() && it->second == src;
}

void print_trace() {
  void* frames[10];
  int n = backtrace(frames, 10);
  char** symbols = backtrace_symbols(frames, n);
  std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(n));
  for (int i = 0; symbols && i < n; ++i) std::printf("%s\n", symbols[i]);
  std::free(symbols);
}
