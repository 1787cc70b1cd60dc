// Cost of one driver request through the access layer to the stand-in
// board: the TDM switch refresh issues up to 256 of them per loop pass.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "StandInBench.h"
#include "board/Hal.h"
#include "board/StandIn.h"
#include "hardware/Device.h"
#include "runtime/Root.h"

namespace {

int openHal() {
  static int fd = [] {
    bench::useStandIn();
    return Device::open("/dev/hal", O_RDWR | O_CLOEXEC);
  }();
  return fd;
}

void BM_HalDisable(benchmark::State& state) {
  int fd = openHal();
  if (fd < 0) {
    state.SkipWithError("cannot open /dev/hal on the stand-in");
    return;
  }
  uint32_t ch = 8192;
  uint8_t rec[4];
  for (auto _ : state) {
    Device::putBE32(rec, ch);
    int r = Device::requestRecord(fd, Board::Hal::kDisable, rec, sizeof rec);
    benchmark::DoNotOptimize(r);
    if (++ch == 10240) ch = 8192;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HalDisable);

void BM_HalRead(benchmark::State& state) {
  int fd = openHal();
  if (fd < 0) {
    state.SkipWithError("cannot open /dev/hal on the stand-in");
    return;
  }
  uint8_t rec[8];
  for (auto _ : state) {
    Device::putBE32(rec, 8200);
    Device::putBE32(rec + 4, 255);
    int r = Device::requestRecord(fd, Board::Hal::kRead, rec, sizeof rec);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HalRead);

}  // namespace

BENCHMARK_MAIN();
