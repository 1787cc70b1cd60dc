#include "control/Acceptor.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace Control {

// ---------------------------------------------------------------- AcceptorNet

AcceptorNet::AcceptorNet() : AcceptorNet(0) {}

AcceptorNet::AcceptorNet(int port)
    : port_(static_cast<unsigned short>(port)), listener_(*this, "AcceptorNet::OnSocketEvent") {}

AcceptorNet::AcceptorNet(int port, bool verbose) : AcceptorNet(port) { this->verbose(verbose); }

AcceptorNet::~AcceptorNet() { listener_.Close(); }

bool AcceptorNet::ImplActivate() {
  if (!listener_.Open(AF_INET, IPPROTO_TCP)) return false;
  const int one = 1;
  ::setsockopt(listener_.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  listener_.Bind();
  return true;
}

int AcceptorNet::BindAddress(int fd) {
  INet4::Addr a;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.port(port_);
  return ::bind(fd, a, a.size());
}

bool AcceptorNet::ReadyToAccept() {
  // A controller that closed and connected again at once: the close is
  // already on the held link's socket, only not handled yet. Only a
  // controller still there makes the new one a second one.
  if (IsConnected()) FinishEndedLink();
  // While the loss is reported the connection waits in the queue.
  return GetState() != State::Deactivating;
}

void AcceptorNet::ImplOnDisconnect() {
  // The listener hears of the loss right after this, within the same
  // deferred call, so the loop cannot take a connection before the
  // departure is over.
  listener_.Resume();
}

void AcceptorNet::Accepted(Fd s, const sockaddr_storage& from, socklen_t) {
  const INet4::Addr a(reinterpret_cast<const sockaddr_in&>(from));
  if (GetState() == State::Connected) {
    if (verbose()) std::cerr << "refuse connection from " << a << std::endl;
    ImplRefuseConnection();
    return;
  }
  if (GetState() != State::Connecting) {
    // Nobody could take this one (the listener waits while a loss is
    // reported, so this is not expected): close it and let the
    // controller come back.
    if (verbose()) std::cerr << "refuse connection from " << a << std::endl;
    return;
  }
  if (!s.NonBlock()) {
    if (verbose()) std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    return;
  }
  if (verbose()) std::cout << "new connection from " << a << std::endl;
  Connected(s, a);
  if (IsConnected()) ImplConnected(s);
}

void AcceptorNet::ImplDeactivate() { listener_.Close(); }

// ---------------------------------------------------------------- with liveness check

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNet() {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port) : AcceptorNet(port) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool verbose) : AcceptorNet(port, verbose) {}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() { checkTimer_.reset(); }

bool AcceptorNetCheckConnection::ImplActivate() {
  AcceptorNet::ImplActivate();
  CheckConnection();
  return true;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
  checkTimer_.reset();
  AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplOnDisconnect() {
  // The link is down: let go of the last handle of its socket so that the
  // peer sees the close and can come back. The check state belonged to
  // that link too.
  connSocket_.close();
  checkMode_ = CheckMode::Idle;
  checkCounter_ = 0;
  AcceptorNet::ImplOnDisconnect();
}

void AcceptorNetCheckConnection::ImplConnected(Fd s) { connSocket_ = s; }

void AcceptorNetCheckConnection::ImplRefuseConnection() {
  if (checkMode_ != CheckMode::Idle) return;
  checkMode_ = CheckMode::CheckConnection;
  checkCounter_ = 2;
  SetupKeepAlive(true);
  if (verbose()) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool check) {
  const int fd = connSocket_.lowlevel_fd();
  if (fd < 0) return;
  const int on = 1;
  const int idle = check ? 1 : 7200;
  const int intvl = check ? 1 : 75;
  const int cnt = check ? 3 : 9;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof intvl);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &cnt, sizeof cnt);
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*) { CheckConnection(); }

bool AcceptorNetCheckConnection::QueryTcpState(int fd, unsigned char& state, unsigned char& caState) {
  tcp_info info{};
  socklen_t len = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return false;
  state = info.tcpi_state;
  caState = info.tcpi_ca_state;
  return true;
}

bool AcceptorNetCheckConnection::QuerySocketError(int fd, int& err) {
  err = 0;
  socklen_t len = sizeof err;
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0;
}

void AcceptorNetCheckConnection::CheckConnection() {
  bool close = false;
  if (IsConnected()) {
    const int fd = connSocket_.lowlevel_fd();
    unsigned char state = 0;
    unsigned char caState = 0;
    if (QueryTcpState(fd, state, caState)) {
      if (state != TCP_ESTABLISHED) {
        if (verbose()) std::cerr << "connection from " << GetAddr() << " closed: tcp socket change state." << std::endl;
        close = true;
      }
      if (checkMode_ == CheckMode::CheckConnection) {
        if (caState != 0 /* Open */) {
          if (checkCounter_ > 0) --checkCounter_;
          if (checkCounter_ < 1) {
            if (verbose())
              std::cerr << "connection from " << GetAddr() << " closed: tcp socket change ca_state." << std::endl;
            close = true;
          }
        } else {
          checkMode_ = CheckMode::Idle;
          SetupKeepAlive(false);
          if (verbose()) std::cerr << "CheckConnectionState Idle" << std::endl;
        }
      }
    }
    int err = 0;
    const bool queried = QuerySocketError(fd, err);
    if (!queried || err != 0) {
      const int shown = queried ? err : errno;
      if (verbose()) std::cerr << "connection from " << GetAddr() << " closed: " << std::strerror(shown) << std::endl;
      close = true;
    }
    if (close) {
      checkMode_ = CheckMode::Idle;
      SetupKeepAlive(false);
      Disconnect();
      if (verbose()) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  checkTimer_.set(kCheckMs, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

}  // namespace Control
