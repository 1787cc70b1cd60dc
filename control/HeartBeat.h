#pragma once
// Watches the controller's activity: answers ping, and drops the link when
// no command at all came for two minutes. The watch starts with the first
// command of a connection, so a controller that never speaks is left to
// the acceptor's liveness check.
#include "control/CtrlSrv.h"
#include "runtime/Timer.h"

#include <iosfwd>

class HeartBeatCtl : public CtrlSrv::Service {
public:
  static const unsigned kTimeoutMs = 120000;

  static HeartBeatCtl* instance();

  void OnConnect() override {}
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& c) override;

  void ResetTimeOut();
  void OnHeartbeatTimeout(Timer*);
  bool armed() const { return timer_.is_running(); }

  void PutHeader(std::ostream& os) const;

private:
  HeartBeatCtl() = default;
  Timer timer_;
};
