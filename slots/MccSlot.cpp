#include "slots/MccSlot.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <iostream>

#include "hardware/Device.h"
#include "log/Ext.h"
#include "protocol/LGCP/LGCP.h"

MccSlot::MccSlot(Fd fd) : timeslot_(Device::requestValue(fd.lowlevel_fd(), MccRequest::kTimeslot, 0)) {
  // A failed request leaves a negative channel, which the switch refuses.
  event_.Bind<MccSlot>("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  event_.Schedule(fd, POLLIN);
}

MccSlot::~MccSlot() {
  if (alive_) *alive_ = false;
}

bool MccSlot::IUserData(const std::vector<char>& data) {
  // An empty frame is no frame: nothing goes to the channel.
  if (data.empty()) return true;
  const ssize_t n = Device::write(event_.lowlevel_fd(), data.data(), data.size());
  // The answer stays success: no other cause fits, and "unsupported"
  // would tell the controller the slot takes no data at all.
  if (n < 0) {
    Errno e;
    std::cerr << ext::header(&MccFactory::instance()) << *this << ": userData write fail: " << e << std::endl;
  } else if (size_t(n) != data.size()) {
    std::cerr << ext::header(&MccFactory::instance()) << *this << ": userData write short: " << n << " of "
              << data.size() << " bytes" << std::endl;
  }
  return true;
}

void MccSlot::OnEvent(int, short events) {
  // A channel that failed reports a hang-up with or without data: the read
  // tells which.
  if (events & (POLLIN | POLLHUP | POLLERR)) DoRead();
}

void MccSlot::DoRead() {
  bool alive = true;
  alive_ = &alive;
  for (;;) {
    std::vector<char> buf(kReadSize);
    const ssize_t n = Device::read(event_.lowlevel_fd(), buf.data(), buf.size());
    if (n > 0) {
      buf.resize(size_t(n));
      OnUserData(buf);
      if (!alive) return;  // the slot went while its data was sent
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    // End of file or a failure: the channel is gone, and the loop would be
    // told so on every pass. Stop watching it; writes fail from now on and
    // are logged.
    Errno e(n < 0 ? errno : EIO);
    std::cerr << ext::header(&MccFactory::instance()) << *this << ": read error: " << e << std::endl;
    event_.Release();
    break;
  }
  alive_ = nullptr;
}

MccFactory& MccFactory::instance() {
  static MccFactory self;
  return self;
}

Slot* MccFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.mcc_isSelected()) return nullptr;
  const LGCP::MccParams& p = params.get_mcc();
  const int fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
    return nullptr;
  }
  // Closed on every way out; the slot keeps a duplicate of its own.
  Fd owned(fd);
  uint32_t type;
  switch (p.get_type().asInt()) {
    case LGCP::MccType::data: type = mccData; break;
    case LGCP::MccType::bri: type = mccBri; break;
    case LGCP::MccType::transparent: type = mccTransparent; break;
    default: return nullptr;
  }
  if (p.get_mode().asInt() == LGCP::MccMode::ss7) type = mccSs7;
  std::clog << ext::header(this) << "MCC_ALLOCATE type=" << type << std::endl;
  if (MccAllocate(fd, type, 512, 1, 1) < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
    return nullptr;
  }
  return new MccSlot(owned);
}

void MccFactory::Query(LGCP::Resources& r) {
  r.set_mcc_data(0);
  r.set_mcc_bri(0);
  r.set_mcc_trans(0);
  Fd fd(Device::open("/dev/mcc/ctl", O_RDONLY | O_CLOEXEC));
  if (!fd.is_valid()) return;
  uint8_t rec[16] = {};
  if (Device::requestRecord(fd.lowlevel_fd(), MccRequest::kCounts, rec, sizeof rec) < 0) return;
  r.set_mcc_data(int(Device::getBE32(rec)));
  r.set_mcc_bri(int(Device::getBE32(rec + 4)));
  r.set_mcc_trans(int(Device::getBE32(rec + 8)));
}
