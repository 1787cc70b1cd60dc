#include "control/Service.h"

#include "log/Profile.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <iostream>

namespace Control {

const char* GetTextNotation(Service::State::Type s) {
  switch (s) {
    case Service::State::Idle:
      return "Idle";
    case Service::State::Connecting:
      return "Connecting";
    case Service::State::Deactivating:
      return "Deactivating";
    case Service::State::Connected:
      return "Connected";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& os, Service::State::Type s) { return os << GetTextNotation(s); }

Service::Service() : stream_(new StrmProtocol), tpkt_(new Tpkt_protocol) {
  add_protocol_tail(stream_);
  add_protocol_tail(tpkt_);
  dpc_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() = default;

bool Service::Activate() {
  Deactivate();
  state_ = State::Connecting;
  const bool ok = ImplActivate();
  if (!ok) state_ = State::Idle;
  return ok;
}

void Service::Deactivate() {
  endIgnoredRun();
  ImplDeactivate();
  state_ = State::Idle;
}

void Service::Disconnect() {
  if (state_ == State::Deactivating) return;
  deactivate();
}

namespace {
Profile::Point buildPoint("Control::Service::Send [1]");
Profile::Point passPoint("Control::Service::Send [2]");
}  // namespace

void Service::Send(const char* data, int length) {
  if (state_ == State::Connected) {
    buildPoint.begin();
    Packet p;
    prepare_head(p);
    if (length > 0) {
      if (static_cast<unsigned>(length) > p.tailroom()) {
        if (verbose_)
          std::cerr << "Control::Service::Send() message of " << length << " bytes too long, dropped." << std::endl;
        buildPoint.end();
        return;
      }
      std::copy(data, data + length, p.put(static_cast<unsigned>(length)));
    }
    buildPoint.end();
    passPoint.begin();
    message(p);
    passPoint.end();
    return;
  }
  if (state_ == State::Deactivating) return;
  if (ignoredSends_ > 0 && ignoredState_ != state_) endIgnoredRun();
  if (ignoredSends_++ > 0) return;
  ignoredState_ = state_;
  if (verbose_)
    std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state_) << " state."
              << std::endl;
}

void Service::endIgnoredRun() {
  if (ignoredSends_ == 0) return;
  if (verbose_)
    std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(ignoredState_) << " state. ("
              << ignoredSends_ << (ignoredSends_ == 1 ? " request" : " requests") << " ignored)" << std::endl;
  ignoredSends_ = 0;
}

void Service::Release() { stream_->release(); }

void Service::ActivateStack(Fd s) {
  endIgnoredRun();
  stream_->attach(std::move(s));
  activate();
}

void Service::FinishEndedLink() {
  while (state_ == State::Connected && stream_->opened()) {
    const int fd = stream_->lowlevel_fd();
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return;
    // Each turn reads what the peer sent before it went, up to the end;
    // a peer that has gone always leaves the socket readable.
    stream_->on_event(fd, static_cast<short>(p.revents | POLLIN));
  }
}

void Service::on_message(Packet& p) {
  if (state_ == State::Deactivating || !notify_) return;
  const int len = static_cast<int>(p.length());
  notify_->OnMessage(len ? reinterpret_cast<const char*>(p.data()) : "", len);
}

void Service::on_activated(Protocol*) {}

void Service::on_deactivated(Protocol*, Protocol_status_ptr) {
  if (verbose_) std::cerr << "control connection " << peer_ << " closed." << std::endl;
  state_ = State::Deactivating;
  dpc_.Activate();
}

void Service::OnDeactivateDPC() {
  dpc_.Deactivate();
  state_ = State::Connecting;
  ImplOnDisconnect();
  if (notify_) notify_->OnDisconnect();
}

void ServiceNet::Connected(Fd s, const INet4::Addr& a) {
  if (GetState() == State::Deactivating) return;
  const int one = 1;
  if (::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) != 0 && verbose())
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (::setsockopt(s.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 && verbose())
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  addr_ = a;
  set_peer(a.GetString());
  set_state(State::Connected);
  ActivateStack(s);
  if (Notify* n = notify()) n->OnConnect();
}

}  // namespace Control
