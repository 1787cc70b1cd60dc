// Cost of the slot commands against the number of live slots, on the
// stand-in board, with the commands handed to the control server as
// decoded messages and every answer and signal sent to a loopback
// controller:
//
//   build-bench/bench/bench_slots
//
// - Cycle/16 and Cycle/1024: one create + connect + disconnect + destroy
//   cycle of a trunk slot while 16 or 1024 slots live (trunk time-slots
//   and bus channels, the cycle's own slot included). Target: the cycle
//   with 1024 costs at most 1.3 times the cycle with 16.
// - Departure/1024: the controller leaves with 1024 live, connected slots;
//   every slot is destroyed and every path released (the one-second pause
//   of a departure is spent on a test clock, not measured).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <streambuf>

#include "StandInBench.h"
#include "control/Acceptor.h"
#include "control/CtrlSrv.h"
#include "control/HeartBeat.h"
#include "hardware/Device.h"
#include "hardware/HwMux.h"
#include "protocol/LGCP/LGCP.h"
#include "runtime/Root.h"
#include "runtime/TestClock.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"
#include "slots/Slots.h"
#include "slots/TrunkSlot.h"

namespace {

// Bus-channel slots, as the bus channel kind makes them: made from the
// `ext` parameters on bus channel 8192 + transmitter.
struct BusSlot : Slot {
  explicit BusSlot(int ch) : ch(ch) {}
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return ch; }
  int IGetReceiveChannel() override { return ch; }
  const char* GetName() const override { return "bus"; }
  int ch;
};

struct BusFactory : SlotFactory {
  const char* GetName() const override { return "Buses"; }
  Slot* INewSlot(const LGCP::CreateParams& p) override {
    if (!p.ext_isSelected()) return nullptr;
    return new BusSlot(SharedChannelsBase + p.get_ext().get_transmitter().getValue());
  }
  void Query(LGCP::Resources&) override {}
};

class Board {
 public:
  static Board& get() {
    static Board b;
    return b;
  }

  // Slots 0..n-1 live: E1 time-slots first (each from 1 on fed by the
  // next one), then bus channels (each fed by a trunk). Slot 1023 and E1
  // trunk 3 time-slot 31 are kept for the cycle, slot 0 is its sink.
  void populate(unsigned n) {
    connectController();
    for (unsigned s = 0; s < n; ++s) {
      if (s < 127)
        command(s, createTrunk(s / 32, s % 32));
      else
        command(s, createBus(int(s)));
    }
    for (unsigned s = 2; s < n && s < 127; ++s) command(s, connect(s - 1));
    for (unsigned s = 127; s < n; ++s) command(1 + s % 126, connect(s));
    drain();
  }

  void cycle() {
    command(kCycleSlot, cycleCreate_);
    command(kCycleSlot, connectTo0_);
    command(0, disconnect_);
    command(kCycleSlot, destroy_);
    drain();
  }

  // One cycle, step by step: whether every step did what it should.
  bool verify() {
    Slots& slots = Slots::instance();
    command(kCycleSlot, cycleCreate_);
    Slot* made = slots.slot(kCycleSlot);
    command(kCycleSlot, connectTo0_);
    const bool linked = made && slots.slot(0) && slots.slot(0)->GetSource() == made;
    command(0, disconnect_);
    const bool unlinked = made && made->GetSinks().empty();
    command(kCycleSlot, destroy_);
    drain();
    return made && linked && unlinked && !slots.slot(kCycleSlot);
  }

  void leave() { ctrlServer.OnDisconnect(); }
  size_t live() const { return Slots::instance().live().size(); }

  static constexpr unsigned kCycleSlot = 1023;

 private:
  Board() : log_(std::clog.rdbuf(&discard_)), err_(std::cerr.rdbuf(&discard_)) {
    bench::useStandIn();
    HwMux::instance();
    TrunkFactory::Link();
    static BusFactory buses;
    ctrlServer.Bind(HeartBeatCtl::instance());
    ctrlServer.Bind(&Slots::instance());
    cycleCreate_ = createTrunk(3, 31);
    connectTo0_ = connect(0);
    disconnect_.select_disconnect();
    destroy_.select_destroy();
  }

  static LGCP::Command createTrunk(unsigned trunk, unsigned ts) {
    LGCP::Command c;
    LGCP::TrunkParams& p = c.select_create().select_trunk();
    p.set_trunk(trunk);
    p.set_timeslot(ts);
    return c;
  }
  static LGCP::Command createBus(int ch) {
    LGCP::Command c;
    LGCP::ExtParams& p = c.select_create().select_ext();
    p.set_transmitter(ch);
    p.set_receiver(ch);
    return c;
  }
  static LGCP::Command connect(unsigned target) {
    LGCP::Command c;
    c.select_connect(target);
    return c;
  }

  // The server holds a controller on a loopback pair for the whole run.
  void connectController() {
    if (acceptor_) return;
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
    peer_ = sv[1];
    int big = 1 << 22;
    ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    ::setsockopt(peer_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    acceptor_ = new Control::AcceptorNetCheckConnection(0);
    ctrlServer.Activate(acceptor_);
    acceptor_->Connected(Fd(sv[0]), INet4::Addr());
  }

  void command(unsigned slot, const LGCP::Command& c) {
    message_.set_seq(int(++seq_));
    message_.set_slot(slot);
    message_.set_pdu().select_command(c);
    ctrlServer.OnMessage(message_);
  }

  void drain() {
    char buf[1 << 16];
    while (::recv(peer_, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
  }

  bench::Discard discard_;
  std::streambuf* log_;
  std::streambuf* err_;
  Control::AcceptorNetCheckConnection* acceptor_ = nullptr;
  int peer_ = -1;
  unsigned seq_ = 0;
  LGCP::Message message_;
  LGCP::Command cycleCreate_, connectTo0_, disconnect_, destroy_;
};

void Cycle(benchmark::State& state) {
  Mux::TestClock clock;
  Board& b = Board::get();
  b.leave();
  // The cycle's own slot makes the count.
  b.populate(unsigned(state.range(0)) - 1);
  if (!b.verify()) state.SkipWithError("the cycle does not do its work");
  for (auto _ : state) b.cycle();
  state.counters["live"] = double(b.live() + 1);
  b.leave();
}
BENCHMARK(Cycle)->Arg(16)->Arg(1024)->Unit(benchmark::kMicrosecond);

void Departure(benchmark::State& state) {
  Mux::TestClock clock;
  Board& b = Board::get();
  for (auto _ : state) {
    state.PauseTiming();
    b.leave();
    b.populate(unsigned(state.range(0)));
    state.ResumeTiming();
    b.leave();
  }
  if (b.live() != 0) state.SkipWithError("slots left after the departure");
}
BENCHMARK(Departure)->Arg(1024)->Unit(benchmark::kMicrosecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
