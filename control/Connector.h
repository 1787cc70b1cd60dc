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

class ConnectorNet : public ServiceNet {
public:
  ConnectorNet();
  // "a.b.c.d:port".
  explicit ConnectorNet(const std::string& address);
  ConnectorNet(const std::string& host, unsigned short port);
  ~ConnectorNet() override;

  const std::string& host() const { return host_; }
  unsigned short port() const { return port_; }
  int fastRetries() const { return fastRetries_; }
  // True while a connect is in flight (waiting for the socket to become
  // writable).
  bool connecting() const { return connectEvent_.IsActive(); }
  // The delay the pending retry was armed with; 0 when none is pending.
  unsigned retry_pending_ms() const { return retryTimer_.is_running() ? retryMs_ : 0; }

  void TryConnect();
  void OnSocketEvent(int fd, short events);
  void OnTimeout(Timer*);

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

private:
  void Retry(unsigned slowMs);
  void Abandon();

  unsigned short port_ = 0;
  std::string host_;
  Fd socket_;
  Timer retryTimer_;
  Event connectEvent_;
  int fastRetries_ = 0;
  unsigned retryMs_ = 0;
  INet4::Addr target_;
  // Set from activation until deactivation: a loss reported after
  // Deactivate() must not start the cycle again.
  bool running_ = false;
};

}  // namespace Control
