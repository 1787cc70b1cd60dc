#include "control/TPKTTracer.h"

#include "runtime/Net.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <iostream>

TPKTTracer::Connection::Connection() { expect_header(); }

TPKTTracer::TPKTTracer() : current_(connections_.end()) {}

TPKTTracer::~TPKTTracer() {
  current_ = connections_.end();
  closing_.reset();
  connections_.clear();
  listener_.Release();
}

bool TPKTTracer::Listen(unsigned short port) {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!s.is_valid()) return false;
  // Clients dropped by the daemon leave their port in TIME_WAIT for a
  // minute; without this a restarted daemon could not trace meanwhile.
  const int one = 1;
  ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  INet4::Addr a;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.port(port);
  if (::bind(s.lowlevel_fd(), a, a.size()) != 0) return false;
  if (::listen(s.lowlevel_fd(), 1) != 0) return false;
  if (!s.NonBlock()) return false;
  listener_.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
  listener_.Schedule(s, POLLIN);
  return listener_.IsActive();
}

void TPKTTracer::OnEvent(int fd, short events) {
  if (!(events & POLLIN)) return;
  for (;;) {
    INet4::Addr a;
    socklen_t len = a.size();
    SpareAccept::Outcome outcome;
    Fd s(accept_.accept(fd, a, &len, SOCK_CLOEXEC, outcome));
    if (accept_.began()) std::clog << "ACP connection dropped: out of descriptors" << std::endl;
    if (outcome == SpareAccept::Outcome::Dropped) continue;
    if (outcome == SpareAccept::Outcome::Exhausted) {
      listener_.SetEvents(0);
      pause_.set(SpareAccept::kPauseMs, &TPKTTracer::OnPauseEnd, this);
      break;
    }
    if (!s.is_valid()) break;
    std::clog << "ACP connection open from " << a << std::endl;
    if (!s.NonBlock()) continue;
    std::unique_ptr<Connection> c(new Connection);
    c->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
    c->event.Schedule(s, POLLIN);
    c->expect_header();
    connections_.push_back(std::move(c));
  }
}

void TPKTTracer::OnPauseEnd(Timer*) { listener_.SetEvents(POLLIN); }

TPKTTracer::Connections::iterator TPKTTracer::FindConnection(int fd) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it)
    if ((*it)->event.lowlevel_fd() == fd) return it;
  return connections_.end();
}

void TPKTTracer::CloseConnection(Connections::iterator it) {
  if (it == connections_.end()) return;
  if (it == current_) {
    current_ = connections_.end();
    (*it)->event.Release();
    closing_ = std::move(*it);
  }
  connections_.erase(it);
}

void TPKTTracer::OnDataEvent(int fd, short events) {
  // Every handler is called after each poll, mostly with nothing for it.
  if (!(events & (POLLIN | POLLERR | POLLHUP))) return;
  current_ = FindConnection(fd);
  if (current_ == connections_.end()) return;
  if (events & (POLLERR | POLLHUP))
    CloseConnection(current_);
  else
    ReadFrom(current_);
  current_ = connections_.end();
  closing_.reset();
}

void TPKTTracer::ReadFrom(Connections::iterator it) {
  Connection* c = it->get();
  for (;;) {
    const ssize_t n =
        ::recv(c->event.lowlevel_fd(), c->buffer + c->received, c->expected - c->received, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == 0) {
      CloseConnection(it);
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) CloseConnection(it);
      return;
    }
    c->received += static_cast<unsigned>(n);
    if (c->received < c->expected) return;
    if (c->readingHeader) {
      if (c->buffer[0] != 3 || c->buffer[1] != 0) {
        CloseConnection(it);
        return;
      }
      const unsigned length = (static_cast<unsigned>(c->buffer[2]) << 8) | c->buffer[3];
      if (length < 4) {
        CloseConnection(it);
        return;
      }
      const unsigned payload = length - 4;
      if (payload == 0) {
        c->expect_header();
        continue;
      }
      if (payload > kMaxPayload) {
        CloseConnection(it);
        return;
      }
      c->readingHeader = 0;
      c->expected = payload;
      c->received = 0;
      continue;
    }
    if (sink_) sink_->Receive(c->buffer, c->expected);
    // The sink may have closed this very connection (a failed answer).
    if (current_ == connections_.end()) return;
    c->expect_header();
  }
}

bool TPKTTracer::SendTo(Connection& c, const unsigned char* header, const void* data, unsigned length) {
  iovec v[2];
  v[0].iov_base = const_cast<unsigned char*>(header);
  v[0].iov_len = 4;
  v[1].iov_base = const_cast<void*>(data);
  v[1].iov_len = length;
  msghdr m{};
  m.msg_iov = v;
  m.msg_iovlen = length ? 2 : 1;
  for (;;) {
    // Nothing is sent when the call is interrupted, so sending again keeps
    // the client's stream whole. A dead client must not raise SIGPIPE.
    const ssize_t n = ::sendmsg(c.event.lowlevel_fd(), &m, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(4 + length);
  }
}

void TPKTTracer::Send(const void* data, unsigned length) {
  // The length field holds the whole frame: a longer message cannot be
  // framed and is not sent.
  if (length > 0xFFFF - 4) return;
  const unsigned total = length + 4;
  const unsigned char header[4] = {3, 0, static_cast<unsigned char>(total >> 8), static_cast<unsigned char>(total)};
  if (current_ != connections_.end()) {
    if (!SendTo(**current_, header, data, length)) CloseConnection(current_);
    return;
  }
  for (auto it = connections_.begin(); it != connections_.end();) {
    auto here = it++;
    if (!SendTo(**here, header, data, length)) CloseConnection(here);
  }
}
