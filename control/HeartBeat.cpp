#include "control/HeartBeat.h"

#include <iostream>

HeartBeatCtl* HeartBeatCtl::instance() {
  static HeartBeatCtl self;
  return &self;
}

void HeartBeatCtl::OnDisconnect() { timer_.reset(); }

bool HeartBeatCtl::OnCommand(const LGCP::Command& c) {
  ResetTimeOut();
  if (!c.ping_isSelected()) return false;
  Success();
  return true;
}

void HeartBeatCtl::ResetTimeOut() { timer_.set(kTimeoutMs, &HeartBeatCtl::OnHeartbeatTimeout, this); }

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat timeout!!!" << std::endl;
  ctrlServer.OnHeartbeatTimeout();
}

void HeartBeatCtl::PutHeader(std::ostream& os) const { os << "heartbeat: "; }
