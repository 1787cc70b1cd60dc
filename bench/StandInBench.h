// What the benchmarks that drive the stand-in board share: a root of their
// own, and a sink for the log lines the measured code writes.
#ifndef QV_BENCH_STANDINBENCH_H
#define QV_BENCH_STANDINBENCH_H

#include <stdlib.h>

#include <streambuf>

#include "hardware/Device.h"
#include "runtime/Root.h"

namespace bench {

// Once per program: a fresh root under /tmp and the stand-in board.
inline void useStandIn() {
  static bool done = [] {
    char tmpl[] = "/tmp/qvbench-XXXXXX";
    const char* root = mkdtemp(tmpl);
    setenv("QUORVAD_ROOT", root ? root : "/tmp", 1);
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
