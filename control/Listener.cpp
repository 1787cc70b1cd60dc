#include "control/Listener.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

namespace Control {

Listener::Listener(Owner& owner, const char* eventName) : owner_(owner) {
  event_.Bind(eventName, &Listener::OnSocketEvent, this);
}

Listener::~Listener() { Close(); }

bool Listener::Open(int domain, int protocol) {
  socket_ = Fd(::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, protocol));
  if (socket_.is_valid()) return true;
  if (owner_.Verbose()) std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
  return false;
}

void Listener::Bind() {
  if (owner_.BindAddress(socket_.lowlevel_fd()) != 0) {
    if (owner_.Verbose())
      std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\"  waiting..." << std::endl;
    bindTimer_.set(kBindRetryMs, &Listener::OnBindTimeout, this);
    return;
  }
  if (::listen(socket_.lowlevel_fd(), 1) != 0) {
    if (owner_.Verbose()) std::cerr << "can't listen socket: " << std::strerror(errno) << std::endl;
    owner_.ListenFailed();
    return;
  }
  if (!socket_.NonBlock()) {
    if (owner_.Verbose()) std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    owner_.ListenFailed();
    return;
  }
  event_.Schedule(socket_, POLLIN);
}

void Listener::Close() {
  held_ = false;
  bindTimer_.reset();
  pause_.reset();
  event_.Release();
  socket_.close();
}

void Listener::OnBindTimeout(Timer*) { Bind(); }

void Listener::OnPauseEnd(Timer*) {
  if (!held_) event_.SetEvents(POLLIN);
}

void Listener::Resume() {
  if (!held_) return;
  held_ = false;
  if (!paused()) event_.SetEvents(POLLIN);
}

void Listener::OnSocketEvent(int, short events) {
  if (!(events & POLLIN)) return;
  // The owner may close the listener while it takes a connection.
  while (socket_.is_valid()) {
    if (!owner_.ReadyToAccept()) {
      // A listener left readable would wake the loop on every pass.
      held_ = true;
      event_.SetEvents(0);
      return;
    }
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    SpareAccept::Outcome outcome;
    const int fd = accept_.accept(socket_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC, outcome);
    const int err = errno;
    Fd s(fd);
    if (accept_.began())
      std::cerr << "can't accept connection: " << std::strerror(err) << "; new connections are dropped" << std::endl;
    if (accept_.ended())
      std::cerr << "accepting connections again, " << accept_.dropped() << " dropped" << std::endl;
    switch (outcome) {
      case SpareAccept::Outcome::Accepted:
        owner_.Accepted(std::move(s), from, len);
        continue;
      case SpareAccept::Outcome::Dropped:
        continue;
      case SpareAccept::Outcome::Exhausted:
        // Not watched for a while; the watch keeps its descriptor, as a
        // new one could not be had now.
        event_.SetEvents(0);
        pause_.set(SpareAccept::kPauseMs, &Listener::OnPauseEnd, this);
        return;
      case SpareAccept::Outcome::Failed:
        // A connection that went away before it was taken; others may wait.
        if (err == ECONNABORTED || err == EPROTO || err == EPERM) continue;
        return;
      case SpareAccept::Outcome::Empty:
        return;
    }
  }
}

}  // namespace Control
