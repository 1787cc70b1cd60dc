#pragma once
// A board control service seen as the controller sees it: the service is
// bound to a control server of the test's own, which listens on a loopback
// port; a TCP peer connects, sends commands in value notation and reads
// back every answer and signal, one line of value notation each. The loop
// runs on a manual test clock, so status cycles move only when the test
// advances the time.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/Acceptor.h"
#include "control/CtrlSrv.h"
#include "control/ServerTestUtil.h"
#include "runtime/TestClock.h"

namespace hwtest {

class ServiceLink {
 public:
  explicit ServiceLink(std::vector<CtrlSrv::Service*> services) {
    for (CtrlSrv::Service* s : services) server_.Bind(s);
    port_ = ctl_test::free_port();
    acceptor_ = new Control::AcceptorNetCheckConnection(port_);
    EXPECT_TRUE(server_.Activate(acceptor_));
  }
  ~ServiceLink() { server_.Deactivate(); }

  // Connects the controller; what the services sent on connection is
  // kept for the next messages() call.
  bool connect() {
    if (!peer_.connect(port_)) return false;
    return ctl_test::pump([&] { return acceptor_->IsConnected(); });
  }
  void disconnect() {
    peer_.close();
    ctl_test::pump([&] { return !acceptor_->IsConnected(); });
    // The services hear of it from a deferred call.
    messages();
  }

  // Sends one command and returns every message that came back by the
  // time its answer (a response) arrived.
  std::vector<std::string> command(const std::string& text) {
    EXPECT_TRUE(peer_.send(ctl_test::frameOf(text)));
    std::vector<std::string> got;
    ctl_test::pump([&] {
      read(got);
      for (const std::string& m : got)
        if (m.find("pdu response") != std::string::npos) return true;
      return false;
    });
    return got;
  }

  // Runs the loop a few passes and returns what arrived since the last call.
  std::vector<std::string> messages() {
    std::vector<std::string> got;
    for (int i = 0; i < 20; ++i) {
      multiplexer.run_once();
      read(got);
    }
    return got;
  }

  // The raw bytes that arrived, for checks worked out by hand.
  ctl_test::Bytes rawBytes() {
    ctl_test::Bytes all;
    for (int i = 0; i < 20; ++i) {
      multiplexer.run_once();
      ctl_test::Bytes b = peer_.recv(1, 0);
      all.insert(all.end(), b.begin(), b.end());
    }
    return all;
  }

  CtrlSrv::Server& server() { return server_; }

 private:
  void read(std::vector<std::string>& got) {
    ctl_test::Bytes b = peer_.recv(1, 0);
    std::vector<std::vector<char>> payloads;
    EXPECT_TRUE(frames_.feed(reinterpret_cast<const char*>(b.data()), b.size(), payloads));
    for (const auto& p : payloads) got.push_back(ctl_test::text(ctl_test::Bytes(p.begin(), p.end())));
  }

  CtrlSrv::Server server_;
  Control::AcceptorNetCheckConnection* acceptor_ = nullptr;
  ctl_test::Peer peer_;
  int port_ = 0;
  qvctl::FrameReader frames_;
};

// The messages that contain text.
inline std::vector<std::string> having(const std::vector<std::string>& all, const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& m : all)
    if (m.find(text) != std::string::npos) out.push_back(m);
  return out;
}

}  // namespace hwtest
