#pragma once
// The controller's way in: a TCP listener that serves one connection at a
// time and refuses the others at once. The checking variant also watches
// the connected socket every second, and tightens its keepalive whenever
// another controller knocks, so that a controller that vanished without
// closing is dropped within seconds and the next one can take its place.
#include "control/Listener.h"
#include "control/Service.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"

namespace Control {

class AcceptorNet : public ServiceNet, private Listener::Owner {
public:
  static const unsigned kBindRetryMs = Listener::kBindRetryMs;

  AcceptorNet();
  explicit AcceptorNet(int port);
  AcceptorNet(int port, bool verbose);
  ~AcceptorNet() override;

  unsigned short port() const { return port_; }
  bool listening() const { return listener_.listening(); }
  // Out of descriptors with none to give up: the listener is left alone
  // for a while.
  bool paused() const { return listener_.paused(); }

  void OnSocketEvent(int fd, short events) { listener_.OnSocketEvent(fd, events); }

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  virtual void ImplRefuseConnection() {}
  virtual void ImplConnected(Fd) {}

private:
  int BindAddress(int fd) override;
  void Accepted(Fd s, const sockaddr_storage& from, socklen_t len) override;
  void ListenFailed() override { Deactivate(); }
  bool Verbose() const override { return verbose(); }
  bool ReadyToAccept() override;

  unsigned short port_;
  Listener listener_;
};

class AcceptorNetCheckConnection : public AcceptorNet {
public:
  static const unsigned kCheckMs = 1000;
  struct CheckMode {
    enum Type { Idle = 0, CheckConnection = 1 };
  };

  AcceptorNetCheckConnection();
  explicit AcceptorNetCheckConnection(int port);
  AcceptorNetCheckConnection(int port, bool verbose);
  ~AcceptorNetCheckConnection() override;

  void OnCheckConnectionTimeout(Timer*);
  void CheckConnection();
  void SetupKeepAlive(bool check);

  int checkMode() const { return checkMode_; }
  int checkCounter() const { return checkCounter_; }
  bool holds_connection() const { return connSocket_.is_valid(); }

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  void ImplRefuseConnection() override;
  void ImplConnected(Fd s) override;

  // The two socket queries of the check, apart so that a test can play a
  // peer that stopped answering, which loopback cannot. state and caState
  // are the first two bytes of the kernel's TCP information record.
  virtual bool QueryTcpState(int fd, unsigned char& state, unsigned char& caState);
  // False when the query itself failed (errno tells why); otherwise err is
  // the socket's pending error.
  virtual bool QuerySocketError(int fd, int& err);

private:
  Timer checkTimer_;
  Fd connSocket_;
  int checkMode_ = CheckMode::Idle;
  int checkCounter_ = 0;
};

}  // namespace Control
