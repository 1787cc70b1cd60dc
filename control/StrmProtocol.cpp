#include "control/StrmProtocol.h"

#include "log/Ext.h"
#include "runtime/Clock.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

StrmProtocol::StrmProtocol() { event_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this); }

StrmProtocol::StrmProtocol(Fd s) : StrmProtocol() { attach(std::move(s)); }

StrmProtocol::~StrmProtocol() { release(); }

void StrmProtocol::attach(Fd s) {
  release();
  fd_ = std::move(s);
  // Some kernels answer the output-queue request with the free room of the
  // send buffer instead of the queued bytes; on a fresh socket only the
  // former is above 0.
  int v = 0;
  outqIsFree_ = fd_.is_valid() && ::ioctl(fd_.lowlevel_fd(), TIOCOUTQ, &v) == 0 && v > 0;
}

void StrmProtocol::release() {
  if (!opened()) return;
  event_.Release();
  fd_.close();
}

void StrmProtocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void StrmProtocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void StrmProtocol::local_activate() {
  if (opened()) {
    event_.Schedule(fd_, POLLIN);
    on_activate();
  } else {
    on_deactivate(new Protocol_status_error(this, "fd not attached"));
  }
}

void StrmProtocol::local_deactivate() {
  release();
  on_deactivate(new Protocol_status_success(this, "success"));
}

namespace {
// The socket's own pending error tells more than whatever errno holds.
const char* pending_error_text(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err == 0) err = errno;
  return std::strerror(err);
}
}  // namespace

void StrmProtocol::on_event(int, short events) {
  if (events & POLLERR)
    on_error(std::string("pollerr: ") + pending_error_text(fd_.lowlevel_fd()));
  else if (events & POLLHUP)
    on_error(std::string("pollhup: ") + pending_error_text(fd_.lowlevel_fd()));
  else if (events & POLLIN)
    do_read();
}

void StrmProtocol::do_read() {
  Packet p;
  p.reserve_head(0);
  readMeasure_.begin();
  ssize_t n = ::recv(fd_.lowlevel_fd(), p.tail(), p.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
  const int err = errno;
  readMeasure_.end();
  if (n < 0) {
    if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) return;
    on_error(std::string("read error: ") + std::strerror(err));
    return;
  }
  if (n == 0) {
    // An orderly close sets no errno: say what happened instead.
    on_error("read error: connection closed by peer");
    return;
  }
  p.put(static_cast<unsigned>(n));
  on_message(p);
}

void StrmProtocol::message(Packet& p) {
  if (!opened()) return;
  writeMeasure_.begin();
  const unsigned t0 = Mux::milliseconds();
  const unsigned char* pos = p.empty() ? nullptr : p.data();
  size_t left = p.length();
  while (left > 0) {
    // send rather than write: a peer gone away must fail this call, not
    // kill the process with SIGPIPE.
    ssize_t n = ::send(fd_.lowlevel_fd(), pos, left, MSG_NOSIGNAL);
    if (n >= 0) {
      pos += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      Errno e;
      writeMeasure_.end();
      std::cerr << ext::header(this) << "write error";
      put_diagnostics(std::cerr);
      std::cerr << ", error=" << e << std::endl;
      ++overflowCounter_;
      on_error(std::string("write error: ") + std::strerror(e.value()));
      return;
    }
    const int leftMs = static_cast<int>(t0 + kWriteBudgetMs - Mux::milliseconds());
    bool ready = false;
    if (leftMs >= 1) {
      multiplexer.resetWD();
      pollfd pfd{fd_.lowlevel_fd(), POLLOUT, 0};
      // The loop's own wait, so that the budget runs on the loop's clock.
      int r = Mux::loop_poll(&pfd, 1, leftMs);
      const int perr = errno;
      multiplexer.resetWD();
      ready = r == 1 || (r < 0 && perr == EINTR);
    }
    if (!ready) {
      writeMeasure_.end();
      std::cerr << ext::header(this) << "write timeout";
      put_diagnostics(std::cerr);
      std::cerr << std::endl;
      ++overflowCounter_;
      on_error("write timeout");
      return;
    }
  }
  writeMeasure_.end();
}

void StrmProtocol::on_error(const std::string& text) {
  release();
  on_deactivate(new Protocol_status_error(this, text));
}

int StrmProtocol::sendbuf_space() const {
  int v = 0;
  socklen_t len = sizeof v;
  return ::getsockopt(fd_.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &v, &len) == 0 ? v : -1;
}

int StrmProtocol::recvbuf_space() const {
  int v = 0;
  socklen_t len = sizeof v;
  return ::getsockopt(fd_.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &v, &len) == 0 ? v : -1;
}

int StrmProtocol::inq_space() const {
  int v = 0;
  return ::ioctl(fd_.lowlevel_fd(), FIONREAD, &v) == 0 ? v : -1;
}

int StrmProtocol::outq_space() const {
  int v = 0;
  return ::ioctl(fd_.lowlevel_fd(), TIOCOUTQ, &v) == 0 ? v : -1;
}

int StrmProtocol::free_space() const {
  const int outq = outq_space();
  if (outqIsFree_ || outq < 0) return outq;
  const int snd = sendbuf_space();
  return snd < 0 ? -1 : snd - outq;
}

void StrmProtocol::put_diagnostics(std::ostream& os) const {
  os << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space() << ", free=" << free_space()
     << ", inq=" << inq_space() << ", outq=" << outq_space();
}

void StrmProtocol::PutHeader(std::ostream& os) const { os << "SockStream[" << serviceName_ << "]: "; }
