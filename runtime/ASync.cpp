#include "runtime/ASync.h"

#include "runtime/Net.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ASync {

namespace {
const short kErrorEvents = POLLERR | POLLHUP | POLLNVAL;
}

// ---------------------------------------------------------------- Copy

Copy::~Copy() {
  delete[] buffer_;
  delete handler_;
}

void Copy::Bind(Handler* handler) {
  delete handler_;
  handler_ = handler;
}

void Copy::UnBind() {
  delete handler_;
  handler_ = nullptr;
}

void Copy::CheckBuffer() {
  if (!buffer_) buffer_ = new char[bufsize_ ? bufsize_ : 1];
}

void Copy::Start(Fd source, Fd destination) {
  state_ = Status::Running;
  src_ = source;
  dst_ = destination;
  srcEvent_.Release();
  dstEvent_.Release();
  srcEvent_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  dstEvent_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
  CheckBuffer();
  srcEvent_.Schedule(src_, 0);
  dstEvent_.Schedule(dst_, 0);
  error_ = 0;
  count_ = 0;
  wr_ = end_ = buffer_;
  step_ = &Copy::SrcReady;
  Progress();
}

void Copy::Progress() {
  // A step that completes the copy returns false and touches nothing
  // afterwards: the handler may have destroyed this object.
  while ((this->*step_)()) {
  }
}

bool Copy::SrcReady() {
  errno = 0;
  const long n = read(src_, buffer_, bufsize_);
  if (n > 0) {
    wr_ = buffer_;
    end_ = buffer_ + n;
    srcEvent_.SetEvents(0);
    dstEvent_.SetEvents(events_.destination);
    step_ = &Copy::DstReady;
    return true;
  }
  if (n == 0) return GoFlush();
  if (errno == EAGAIN) {
    srcEvent_.SetEvents(events_.source);
    dstEvent_.SetEvents(0);
    return false;
  }
  // A source that fails after octets flowed has ended: deliver what is
  // buffered.
  if (count_ > 0) return GoFlush();
  Complete(Status::Failed);
  return false;
}

bool Copy::DstReady() {
  const long n = write(dst_, wr_, static_cast<unsigned int>(end_ - wr_));
  if (n > 0) {
    count_ += static_cast<unsigned int>(n);
    wr_ += n;
    if (wr_ < end_) return true;
    if (state_ == Status::Draining) return GoFlushDst();
    srcEvent_.SetEvents(events_.source);
    dstEvent_.SetEvents(0);
    step_ = &Copy::SrcReady;
    return true;
  }
  if (n == 0) {
    error_ = 0;
    Complete(Status::Failed);
    return false;
  }
  if (errno == EAGAIN) {
    srcEvent_.SetEvents(0);
    dstEvent_.SetEvents(events_.destination);
    return false;
  }
  error_ = errno;
  Complete(Status::Failed);
  return false;
}

bool Copy::GoFlush() {
  srcEvent_.Release();
  src_.close();
  if (step_ == &Copy::DstReady) {
    state_ = Status::Draining;
    return true;
  }
  return GoFlushDst();
}

bool Copy::GoFlushDst() {
  if (events_.flush != 0) {
    dstEvent_.SetEvents(events_.flush);
    step_ = &Copy::NotReady;
    state_ = Status::Flushing;
    return false;
  }
  Complete(Status::Done);
  return false;
}

void Copy::Stop() {
  if (state_ != Status::Running) return;
  if (GoFlush()) Progress();
}

void Copy::OnSrcEvent(int, short revents) {
  if (revents & events_.source) {
    Progress();
  } else if (revents & kErrorEvents) {
    // The read then meets the end or the error.
    srcEvent_.Release();
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  if (revents & kErrorEvents) {
    error_ = 0;
    Complete(Status::Failed);
    return;
  }
  if ((state_ == Status::Running || state_ == Status::Draining) && (revents & events_.destination)) {
    Progress();
  } else if (state_ == Status::Flushing && (revents & events_.flush)) {
    Complete(Status::Done);
  }
}

void Copy::set_events(const EventsParams& events) {
  events_ = events;
  Complete(Status::Changed);
}

void Copy::set_bufsize(unsigned int size) {
  bufsize_ = size;
  delete[] buffer_;
  buffer_ = nullptr;
  wr_ = end_ = nullptr;
  CheckBuffer();
  Complete(Status::Changed);
}

void Copy::Complete(Status::Type status) {
  if (!active()) return;
  srcEvent_.UnBind();
  dstEvent_.UnBind();
  state_ = status;
  srcEvent_.Release();
  dstEvent_.Release();
  src_.close();
  dst_.close();
  step_ = &Copy::NotReady;
  if (handler_) handler_->Invoke(status);
}

// ---------------------------------------------------------------- Connect

Connect::~Connect() { delete handler_; }

void Connect::Bind(Handler* handler) {
  delete handler_;
  handler_ = handler;
}

void Connect::UnBind() {
  delete handler_;
  handler_ = nullptr;
}

void Connect::Start(const std::string& address, unsigned int timeout_ms) {
  if (state_ == Status::Connecting) Complete(Status::Stopped);
  state_ = Status::Connecting;

  // An address that does not parse would leave 0.0.0.0, which the system
  // takes for this host: never connect there by mistake, nor when the
  // text names 0.0.0.0 itself, nor without a port.
  INet4::Addr peer;
  int port = -1;
  if (!peer.Assign(address, &port) || port < 0 || peer.sin_addr.s_addr == htonl(INADDR_ANY)) {
    Complete(Status::Failed);
    return;
  }

  socket_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket_.is_valid()) {
    Complete(Status::Failed);
    return;
  }
  if (!socket_.NonBlock()) {
    Complete(Status::Failed);
    return;
  }
  if (::connect(socket_.lowlevel_fd(), peer, peer.size()) == 0) {
    Complete(Status::Connected);
    return;
  }
  if (errno != EINPROGRESS) {
    Complete(Status::Failed);
    return;
  }
  event_.Schedule(socket_, POLLOUT);
  event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
  timer_.set(timeout_ms, &Connect::OnTimeOut, this);
}

void Connect::Stop() { Complete(Status::Stopped); }

void Connect::OnSocketEvent(int, short revents) {
  if (revents & kErrorEvents) {
    Complete(Status::Failed);
    return;
  }
  if (!(revents & POLLOUT)) return;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(socket_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
    Complete(Status::Failed);
    return;
  }
  Complete(Status::Connected);
}

void Connect::OnTimeOut(Timer*) { Complete(Status::Failed); }

void Connect::Complete(Status::Type status) {
  if (state_ != Status::Connecting) return;
  state_ = status;
  Fd connection;
  if (status == Status::Connected) connection = socket_;
  socket_.close();
  event_.Release();
  event_.UnBind();
  timer_.reset();
  // Released before the call: the handler may restart or destroy this.
  if (handler_) handler_->Invoke(status, connection);
}

}  // namespace ASync
