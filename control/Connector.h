#pragma once
// An outgoing link that the board keeps up by itself: a non-blocking
// connect to a fixed host and port, and a new attempt after every failure
// and every loss of the link. The first seven failures of an activation are
// retried after a second; after that each cause waits its own long delay,
// so that an unreachable agent is not hammered.
#include "control/Service.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"

#include <string>

namespace Control {

// The retry delays shared by the connecting endpoint kinds.
struct ConnectDelays {
  static const int kFastRetries = 7;
  static const unsigned kFastMs = 1000;
  static const unsigned kConnectFailedMs = 20000;  // connect refused at once
  static const unsigned kPollFailedMs = 15000;     // error or hang-up while connecting
  static const unsigned kSoErrorMs = 12000;        // the socket reported a failed connect
  static const unsigned kLinkLostMs = 10000;       // an established link went down
};

// The retry timer of a connecting endpoint and the delays above, shared
// by the TCP and Unix-domain kinds; the owner's OnTimeout(Timer*) tries
// again.
class ConnectRetry {
public:
  // An activation: the quick retries are there again.
  void Start() { fastRetries_ = ConnectDelays::kFastRetries; }
  // An attempt failed; slowMs is its cause's delay once the quick retries
  // are used up.
  template <class T>
  void Failed(unsigned slowMs, T* owner) {
    if (fastRetries_ > 0) {
      --fastRetries_;
      arm(ConnectDelays::kFastMs, owner);
    } else {
      arm(slowMs, owner);
    }
  }
  // The link went down.
  template <class T>
  void Lost(T* owner) {
    arm(ConnectDelays::kLinkLostMs, owner);
  }
  void Cancel() { timer_.reset(); }

  int fastRetries() const { return fastRetries_; }
  // The delay the pending retry was armed with; 0 when none is pending.
  unsigned pending_ms() const { return timer_.is_running() ? ms_ : 0; }

private:
  template <class T>
  void arm(unsigned ms, T* owner) {
    ms_ = ms;
    timer_.set(ms_, &T::OnTimeout, owner);
  }

  Timer timer_;
  int fastRetries_ = 0;
  unsigned ms_ = 0;
};

class ConnectorNet : public ServiceNet {
public:
  ConnectorNet();
  // "a.b.c.d:port".
  explicit ConnectorNet(const std::string& address);
  ConnectorNet(const std::string& host, unsigned short port);
  ~ConnectorNet() override;

  const std::string& host() const { return host_; }
  unsigned short port() const { return port_; }
  int fastRetries() const { return retry_.fastRetries(); }
  // True while a connect is in flight (waiting for the socket to become
  // writable).
  bool connecting() const { return connectEvent_.IsActive(); }
  // The delay the pending retry was armed with; 0 when none is pending.
  unsigned retry_pending_ms() const { return retry_.pending_ms(); }

  void TryConnect();
  void OnSocketEvent(int fd, short events);
  void OnTimeout(Timer*);

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

private:
  void Abandon();

  unsigned short port_ = 0;
  std::string host_;
  Fd socket_;
  ConnectRetry retry_;
  Event connectEvent_;
  INet4::Addr target_;
  // Set from activation until deactivation: a loss reported after
  // Deactivate() must not start the cycle again.
  bool running_ = false;
};

}  // namespace Control
