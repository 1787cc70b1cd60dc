// What the benchmarks that drive the stand-in board share: a root of their
// own, and a sink for the log lines the measured code writes.
#ifndef QV_BENCH_STANDINBENCH_H
#define QV_BENCH_STANDINBENCH_H

#include <stdlib.h>

#include <streambuf>

#include "board/TempRoot.h"
#include "hardware/Device.h"
#include "runtime/Root.h"

namespace bench {

// Once per program: a root of its own and the stand-in board.
inline void useStandIn() {
  static const testboard::TempRoot root("qvbench");
  static bool done = [] {
    setenv("QUORVAD_ROOT", root.dir().c_str(), 1);
    setenv("QUORVAD_BOARD", "standin", 1);
    Root::reload();
    Device::reload();
    return true;
  }();
  (void)done;
}

// Formats everything and keeps nothing.
struct Discard : std::streambuf {
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace bench

#endif
