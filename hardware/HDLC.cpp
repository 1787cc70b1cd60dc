#include "hardware/HDLC.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/HwMux.h"
#include "hardware/MccRequests.h"
#include "log/Ext.h"
#include "runtime/Fd.h"

namespace {

// The receiver of an unbound channel.
class NullNotify : public HDLC::Notify {
 public:
  void on_hdlc_receive(Packet&) override {}
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

HDLC::Notify* nullNotify() {
  static NullNotify n;
  return &n;
}

}  // namespace

const bool* HDLC::s_trace = nullptr;

GenericHDLC::~GenericHDLC() = default;

HDLC::Notify::~Notify() = default;

HDLC::HDLC() : m_params{0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, ss7}, m_notify(nullNotify()) {}

HDLC::~HDLC() {
  if (m_alive) *m_alive = false;
  unwire();
}

void HDLC::bind(Notify* n) { m_notify = n ? n : nullNotify(); }

void HDLC::unbind() { m_notify = nullNotify(); }

void HDLC::PutHeader(std::ostream& out) const {
  out << "hdlc" << " [" << m_trunk << "/" << m_params.timeslot << "]: ";
}

bool HDLC::channelType(uint32_t mode, uint32_t& type) {
  switch (mode) {
    case ss7: type = 3; return true;
    case pri: type = 0; return true;
    case bri: type = 1; return true;
  }
  return false;
}

bool HDLC::activate(bool feed) {
  deactivate();
  m_stat = Statistics();

  uint32_t type;
  if (!channelType(m_params.mode, type)) {
    std::cerr << ext::header(this) << "unsupported mode: " << m_params.mode << std::endl;
    return false;
  }
  int fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open MCC device: " << e << std::endl;
    return false;
  }
  // The descriptor closes on every way out of here; the event keeps a
  // duplicate of its own.
  Fd owned(fd);

  if (MccAllocate(fd, type, kRxPacketSize, kRxThreshold, kTxThreshold) < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
    return false;
  }
  int channel = Device::requestValue(fd, kTimeslot, 0);
  if (channel < 0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << e << std::endl;
    return false;
  }

  // The trunk time-slot hears the controller, then the controller hears
  // the time-slot. A failure is the switch's to log.
  HwMux* mux = HwMux::instance();
  m_wired = channel;
  m_wiredTx = int(m_params.mode == bri ? m_params.tdmTx : m_params.tdm);
  m_wiredRx = int(m_params.tdm);
  if (feed) mux->Connect(channel, m_wiredTx);
  mux->Connect(m_wiredRx, channel);

  m_event.Bind<HDLC>("HDLC::OnEvent", &HDLC::on_event, this);
  m_event.Schedule(owned, POLLIN | POLLOUT);
  m_ready = false;
  ++m_generation;
  if (tracing()) std::clog << ext::header(this) << "activated" << std::endl;
  return true;
}

void HDLC::deactivate() {
  // Before the close, which lets the controller hand the channel out again.
  unwire();
  m_event.Release();
  m_ready = false;
  ++m_generation;
  if (tracing()) std::clog << ext::header(this) << "deactivated" << std::endl;
}

bool HDLC::rewire() {
  if (m_wired < 0) return false;
  HwMux* mux = HwMux::instance();
  return mux->Listens(m_wiredTx, m_wired) || mux->Connect(m_wired, m_wiredTx);
}

void HDLC::unwire() {
  if (m_wired < 0) return;
  HwMux* mux = HwMux::instance();
  // A path the switch has since been told otherwise for belongs to whoever
  // told it. The time-slot is left idle, as the end of any connection
  // leaves its sink; the controller channel carries nothing.
  if (mux->Listens(m_wiredTx, m_wired)) mux->Disconnect(m_wiredTx);
  if (mux->Listens(m_wired, m_wiredRx)) mux->Disable(m_wired);
  m_wired = -1;
}

void HDLC::on_event(int, short revents) {
  bool alive = true;
  m_alive = &alive;
  const unsigned generation = m_generation;
  // A hang-up or an error without data is reported on every pass: reading
  // turns it into the channel's failure instead of a spinning loop.
  if (revents & (POLLIN | POLLERR | POLLHUP)) {
    do_read();
    if (!alive) return;  // the receiver destroyed the channel
    if (m_generation != generation) {
      // Deactivated (or replaced) during delivery: this report is stale.
      m_alive = nullptr;
      return;
    }
  }
  if ((revents & POLLOUT) && !m_ready && m_event.IsActive()) {
    m_ready = true;
    m_event.SetEvents(POLLIN);
    m_notify->on_hdlc_ready();
    if (!alive) return;
  }
  m_alive = nullptr;
}

void HDLC::do_read() {
  if (tracing()) std::clog << ext::header(this) << "do_read" << std::endl;
  if (!m_event.IsActive()) {
    std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  Packet frame;
  frame.reserve_head(0);
  ssize_t n = Device::read(m_event.lowlevel_fd(), frame.tail(), frame.tailroom());
  if (n <= 0) {
    // End of file is a driver that went away, whatever errno still holds:
    // taking it for "nothing yet" would poll the dead descriptor for ever.
    int err = n < 0 ? errno : EIO;
    if (n < 0 && (err == EAGAIN || err == EINTR)) return;
    std::cerr << ext::header(this) << "read error: " << Errno(err) << std::endl;
    deactivate();
    m_notify->on_hdlc_error(Notify::Cause::readError);
    return;
  }
  frame.put(unsigned(n));
  if (tracing()) std::clog << "HDLC[" << m_trunk << "]: rx " << frame << std::endl;
  ++m_stat.rxSU;
  m_notify->on_hdlc_receive(frame);
}

bool HDLC::hdlc_transmit(Packet& frame) {
  if (frame.null() || frame.length() == 0) return true;
  if (!m_event.IsActive()) {
    ++m_stat.txDiscard;
    return false;
  }
  if (tracing()) std::clog << "HDLC[" << m_trunk << "]: tx " << frame << std::endl;
  ssize_t n;
  do {
    n = Device::write(m_event.lowlevel_fd(), frame.data(), frame.length());
  } while (n < 0 && errno == EINTR);
  if (n >= 0) {
    ++m_stat.txSU;
    return true;
  }
  if (errno == EAGAIN) {
    m_ready = false;
    m_event.SetEvents(POLLIN | POLLOUT);
    return false;
  }
  ++m_stat.txError;
  return false;
}
