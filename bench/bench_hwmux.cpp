// Cost of one idle pass of the loop with the TDM switch's refresh of the
// 2048 bus channels against one without it. The deferred call runs twice a
// pass and examines 128 table entries each time; every entry recorded as
// disabled costs a driver request, so the pass is measured with all of them
// disabled (the state after start-up) and with none.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <sstream>

#include "StandInBench.h"
#include "hardware/Device.h"
#include "hardware/HwMux.h"
#include "runtime/Event.h"
#include "runtime/Multiplexer.h"
#include "runtime/Root.h"
#include "runtime/TestClock.h"

namespace {

// An idle loop: one descriptor that never becomes ready, a clock that
// never lets the wait sleep.
struct IdleLoop {
  IdleLoop() {
    if (::pipe(p) == 0) anchor.Schedule(Fd(p[0]), POLLIN);
  }
  ~IdleLoop() {
    anchor.Release();
    if (p[1] >= 0) ::close(p[1]);
  }
  void pass() {
    multiplexer.run_once();
    clock.clear_waits();
  }
  Mux::TestClock clock{Mux::TestClock::Manual};
  int p[2] = {-1, -1};
  Event anchor;
};

// A switch of the benchmark's own on the stand-in, its lines kept quiet.
std::unique_ptr<HwMux> makeMux() {
  bench::useStandIn();
  std::ostringstream sink;
  std::streambuf* old = std::clog.rdbuf(sink.rdbuf());
  auto mux = std::make_unique<HwMux>();
  std::clog.rdbuf(old);
  return mux;
}

void BM_IdlePass(benchmark::State& state) {
  IdleLoop loop;
  for (auto _ : state) loop.pass();
}
BENCHMARK(BM_IdlePass);

void BM_IdlePassRefreshAllDisabled(benchmark::State& state) {
  IdleLoop loop;
  auto mux = makeMux();
  if (mux->descriptor() < 0) {
    state.SkipWithError("cannot open /dev/hal on the stand-in");
    return;
  }
  for (auto _ : state) loop.pass();
  state.counters["requests/pass"] = 2 * HwMux::kRefreshPerRun;
}
BENCHMARK(BM_IdlePassRefreshAllDisabled);

void BM_IdlePassRefreshNoneDisabled(benchmark::State& state) {
  IdleLoop loop;
  auto mux = makeMux();
  if (mux->descriptor() < 0) {
    state.SkipWithError("cannot open /dev/hal on the stand-in");
    return;
  }
  for (int ch = HwMux::kFirstBusChannel; ch < HwMux::kFirstBusChannel + HwMux::kBusChannels; ++ch)
    mux->Disconnect(ch);
  for (auto _ : state) loop.pass();
  state.counters["requests/pass"] = 0;
}
BENCHMARK(BM_IdlePassRefreshNoneDisabled);

}  // namespace

BENCHMARK_MAIN();
