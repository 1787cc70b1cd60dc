#include "slots/AuthClient.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "slots/ModemSlot.h"

namespace {

using Guard = RecursiveGuard<AuthClient, &AuthClient::CheckDisconnect, &AuthClient::mRecursionLevel>;

}  // namespace

AuthClient::AuthClient(Fd socket, const INet4::Addr& peer, ModemFactory& factory)
    : socket_(socket), peer_(peer), factory_(factory) {
  event_.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

void AuthClient::Activate() { event_.Schedule(socket_, POLLIN); }

bool AuthClient::Send(const std::vector<uint8_t>& record) {
  Guard guard(*this);
  if (!socket_.is_valid()) return false;
  size_t done = 0;
  while (done < record.size()) {
    const ssize_t n = ::send(socket_.lowlevel_fd(), record.data() + done, record.size() - done, MSG_NOSIGNAL);
    if (n < 1) {
      OnDisconnect();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void AuthClient::OnSocketEvent(int, short events) {
  Guard guard(*this);
  if (events & (POLLERR | POLLHUP)) {
    OnDisconnect();
    return;
  }
  if (events & POLLIN) readAll();
}

void AuthClient::readAll() {
  while (socket_.is_valid()) {
    const ssize_t n = ::read(socket_.lowlevel_fd(), buffer_ + fill_, want_ - fill_);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      OnDisconnect();
      return;
    }
    fill_ += static_cast<size_t>(n);
    if (fill_ < want_) continue;
    const uint32_t length = Auth::Record{buffer_, fill_}.word(0);
    if (length > Auth::kMaxLength || length < Auth::kMinLength) {
      OnDisconnect();
      return;
    }
    if (fill_ < length) {
      want_ = length;
      continue;
    }
    restart();
    if (length < Auth::kHeaderSize) {
      // No whole header: its type and session would be whatever the
      // previous record left in the buffer.
      std::cerr << "auth record, invalid size: " << length << std::endl;
      continue;
    }
    const Auth::Record record{buffer_, length};
    sessionId_ = static_cast<int>(record.session());
    factory_.OnAuth(record, *this);
  }
}

void AuthClient::OnDisconnect() {
  event_.Release();
  socket_.close();
}

void AuthClient::CheckDisconnect() {
  if (socket_.is_valid() || told_) return;
  told_ = true;
  factory_.OnAuthSocketDisconnect(this);
}
