#include "control/Connector.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace Control {

ConnectorNet::ConnectorNet() { connectEvent_.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this); }

ConnectorNet::ConnectorNet(const std::string& address) : ConnectorNet() {
  // The host keeps its text: one that does not parse must fail each
  // attempt, not turn into 0.0.0.0 (which would reach this very host).
  const std::string::size_type colon = address.find(':');
  host_ = address.substr(0, colon);
  if (colon != std::string::npos) {
    INet4::Addr a;
    a.Assign(address, nullptr);
    port_ = a.port();
  }
}

ConnectorNet::ConnectorNet(const std::string& host, unsigned short port) : ConnectorNet() {
  host_ = host;
  port_ = port;
}

ConnectorNet::~ConnectorNet() {
  running_ = false;
  retry_.Cancel();
  connectEvent_.Release();
}

bool ConnectorNet::ImplActivate() {
  running_ = true;
  retry_.Start();
  TryConnect();
  return running_;
}

void ConnectorNet::Abandon() { Deactivate(); }

void ConnectorNet::TryConnect() {
  // One attempt at a time: whatever was under way is dropped.
  retry_.Cancel();
  connectEvent_.Release();
  socket_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket_.is_valid()) {
    std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
    Abandon();
    return;
  }
  if (!socket_.NonBlock()) {
    std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    socket_.close();
    Abandon();
    return;
  }
  INet4::Addr a;
  const bool parsed = a.Assign(host_, nullptr);
  a.port(port_);
  target_ = a;
  int r = -1;
  int err = EINVAL;
  if (parsed) {
    r = ::connect(socket_.lowlevel_fd(), a, a.size());
    err = errno;
  }
  if (r == 0) {
    std::clog << "already connected to " << a << std::endl;
    Connected(socket_, a);
    socket_.close();
    return;
  }
  if (err == EINPROGRESS) {
    connectEvent_.Schedule(socket_, POLLOUT);
    return;
  }
  if (parsed)
    std::cerr << "can't connect to " << a << " : " << std::strerror(err) << std::endl;
  else
    std::cerr << "can't connect to " << host_ << ":" << port_ << " : " << std::strerror(err) << std::endl;
  socket_.close();
  retry_.Failed(ConnectDelays::kConnectFailedMs, this);
}

void ConnectorNet::OnSocketEvent(int, short events) {
  if (events & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << target_ << std::endl;
    connectEvent_.Release();
    socket_.close();
    retry_.Failed(ConnectDelays::kPollFailedMs, this);
    return;
  }
  if (!(events & POLLOUT)) return;
  connectEvent_.Release();
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(socket_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << std::strerror(errno) << std::endl;
    socket_.close();
    Abandon();
    return;
  }
  if (err == 0) {
    std::cout << "connected to " << target_ << "." << std::endl;
    Connected(socket_, target_);
    socket_.close();
    return;
  }
  std::cerr << "fail to connect to " << target_ << std::endl;
  socket_.close();
  retry_.Failed(ConnectDelays::kSoErrorMs, this);
}

void ConnectorNet::OnTimeout(Timer*) { TryConnect(); }

void ConnectorNet::ImplDeactivate() {
  running_ = false;
  Release();
  socket_.close();
  retry_.Cancel();
  connectEvent_.Release();
}

void ConnectorNet::ImplOnDisconnect() {
  if (!running_) {
    // Deactivated while the loss was being reported: stay down.
    set_state(State::Idle);
    return;
  }
  // A connect already in flight (the stack was taken down before any link
  // existed) carries on by itself.
  if (connectEvent_.IsActive()) return;
  retry_.Lost(this);
}

}  // namespace Control
