#pragma once
// The slot service in this process, as the daemon binds it (heartbeat,
// then Slots), on a real acceptor with a loopback controller, the stand-in
// board under the switch, and a test clock so that a controller's departure
// spends its pause without waiting. Commands go in as value notation and
// everything the controller receives comes back as one line per message.
//
// A probe kind stands for slot kinds of every shape: in a test program
// without the ext slots' own factory, it is made from the `ext` parameters
// (transmit channel 8192 + transmitter, receive channel 8192 + receiver, a
// negative number for no stream), behaves as the test sets it up, and
// records every hook the framework calls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board/StandIn.h"
#include "board/StandInFixture.h"
#include "control/Acceptor.h"
#include "control/CtrlSrv.h"
#include "control/HeartBeat.h"
#include "control/ServerTestUtil.h"
#include "hardware/HwMux.h"
#include "protocol/LGCP/LGCP.h"
#include "runtime/TestClock.h"
#include "slots/Connection.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"
#include "slots/Slots.h"
#include "slots/TrunkSlot.h"
#include "Messages.h"

namespace slots_test {

using namespace ctl_test;

// What the next probe is like.
struct ProbeSetup {
  int priority = 0;
  bool asyncRelease = false;
  // Calls on_release() from inside IBeforeDestroy() and still answers false.
  bool releaseInsideHook = false;
};

struct ProbeSlot : Slot {
  ProbeSlot(int tx, int rx, const ProbeSetup& s) : tx(tx), rx(rx), setup(s) {}
  ~ProbeSlot() override { note("deleted"); }

  int GetConnectionPriority() override { return setup.priority; }
  bool IHwConnectTransmitter(Slot& dst) override {
    note("connect-tx");
    return Slot::IHwConnectTransmitter(dst);
  }
  bool IHwConnectReceiver(Slot& src) override {
    note("connect-rx");
    return Slot::IHwConnectReceiver(src);
  }
  bool IHwDisconnectTransmitter(Slot& dst) override {
    note("disconnect-tx");
    return Slot::IHwDisconnectTransmitter(dst);
  }
  bool IHwDisconnectReceiver(Slot& src) override {
    note("disconnect-rx");
    return Slot::IHwDisconnectReceiver(src);
  }
  bool IOnOutputStream() override { return tx >= 0; }
  bool IOnInputStream() override { return rx >= 0; }
  void IOnOutputRelease() override { note("output-release"); }
  void IOnInputRelease() override { note("input-release"); }
  int IGetTransmitChannel() override { return tx; }
  int IGetReceiveChannel() override { return rx; }
  bool IBeforeDestroy() override {
    note("before-destroy");
    if (setup.releaseInsideHook) on_release();
    return !setup.asyncRelease;
  }
  const char* GetName() const override { return "probe"; }

  void note(const std::string& what);

  int tx, rx;
  ProbeSetup setup;
};

struct ProbeFactory : SlotFactory {
  static ProbeFactory& instance() {
    static ProbeFactory f;
    return f;
  }
  const char* GetName() const override { return "Probes"; }
  Slot* INewSlot(const LGCP::CreateParams& p) override {
    if (!p.ext_isSelected()) return nullptr;
    const int t = p.get_ext().get_transmitter().getValue();
    const int r = p.get_ext().get_receiver().getValue();
    return new ProbeSlot(t < 0 ? -1 : SharedChannelsBase + t, r < 0 ? -1 : SharedChannelsBase + r, next);
  }
  void Query(LGCP::Resources&) override {}
  void SelfSignal(const LGCP::Signal& s) override {
    std::ostringstream os;
    os << s;
    heard.push_back(qvctl::oneLine(os.str()));
  }

  ProbeSetup next;
  std::vector<std::string> heard;
  // Hooks in call order, as "<log name> <hook>".
  std::vector<std::string> calls;
};

inline void ProbeSlot::note(const std::string& what) {
  std::ostringstream os;
  os << *this << ' ' << what;
  ProbeFactory::instance().calls.push_back(os.str());
}

class SlotsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool bound = false;
    testboard::useStandIn();
    HwMux::instance();
    TrunkFactory::Link();
    ProbeFactory::instance();
    if (!bound) {
      ctrlServer.Bind(HeartBeatCtl::instance());
      ctrlServer.Bind(&Slots::instance());
      bound = true;
    }
  }

  void SetUp() override {
    clock_.reset(new Mux::TestClock);
    board().clearFailures();
    ProbeFactory::instance().next = ProbeSetup();
    ProbeFactory::instance().calls.clear();
    ProbeFactory::instance().heard.clear();
    port_ = free_port();
    acceptor_ = new Control::AcceptorNetCheckConnection(port_);
    ASSERT_TRUE(ctrlServer.Activate(acceptor_));
    ASSERT_TRUE(peer.connect(port_));
    ASSERT_TRUE(pump([&] { return acceptor_->IsConnected(); }));
    board().clearLog();
  }

  void TearDown() override {
    ctrlServer.Deactivate();
    EXPECT_TRUE(Slots::instance().live().empty());
    clock_.reset();
  }

  Board::StandIn& board() { return Board::StandIn::instance(); }

  // Sends messages and collects what comes back until as many answers as
  // messages came (each message gets exactly one answer, unless delayed).
  std::vector<std::string> send(const std::string& text, size_t answers = 1) {
    Bytes frames;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) frames = frames + frameOf(line);
    EXPECT_TRUE(peer.send(frames));
    return collect(answers);
  }

  // Everything received until `answers` responses came, and what follows
  // the last one; with none expected, what comes within a few passes.
  std::vector<std::string> collect(size_t answers) {
    int passes = 0;
    pump([&] {
      Bytes b = peer.recv(1 << 16, 0);
      wire_.insert(wire_.end(), b.begin(), b.end());
      size_t n = 0;
      for (const std::string& t : texts(wire_)) n += t.find("pdu response") != std::string::npos;
      return answers > 0 ? n >= answers : ++passes >= 5;
    });
    Bytes rest = peer.recv(1 << 16, 0);
    wire_.insert(wire_.end(), rest.begin(), rest.end());
    std::vector<std::string> out = texts(wire_);
    wire_.clear();
    return out;
  }

  // What the controller hears until a message holding `text` came.
  std::vector<std::string> until(const std::string& text) {
    std::vector<std::string> got;
    pump([&] {
      Bytes b = peer.recv(1 << 16, 0);
      wire_.insert(wire_.end(), b.begin(), b.end());
      got = texts(wire_);
      for (const std::string& m : got)
        if (m.find(text) != std::string::npos) return true;
      return false;
    });
    wire_.clear();
    return got;
  }

  // A message the wire cannot carry, handed to the server as decoded.
  std::vector<std::string> inject(const LGCP::Message& m) {
    ctrlServer.OnMessage(m);
    return collect(1);
  }

  Slot* slot(unsigned n) { return Slots::instance().slot(n); }

  // The controller goes away; returns once the server heard it.
  void leave() {
    peer.close();
    ASSERT_TRUE(pump([&] { return !acceptor_->IsConnected(); }));
    ASSERT_TRUE(pump([&] { return Slots::instance().live().empty(); }));
  }

  std::unique_ptr<Mux::TestClock> clock_;
  int port_ = 0;
  Control::AcceptorNetCheckConnection* acceptor_ = nullptr;
  Peer peer;
  Bytes wire_;
};

}  // namespace slots_test
