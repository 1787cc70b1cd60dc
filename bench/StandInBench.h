// What the benchmarks that drive the stand-in board share: a root of their
// own, and a sink for the log lines the measured code writes.
#ifndef QV_BENCH_STANDINBENCH_H
#define QV_BENCH_STANDINBENCH_H

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <streambuf>
#include <string>
#include <system_error>

#include "hardware/Device.h"
#include "runtime/Root.h"

namespace bench {

// A fresh root under /tmp, removed with all it holds when the program
// ends (not when a forked child does).
class BenchRoot {
 public:
  BenchRoot() : owner_(::getpid()) {
    char tmpl[] = "/tmp/qvbench-XXXXXX";
    if (const char* d = ::mkdtemp(tmpl)) dir_ = d;
  }
  ~BenchRoot() {
    if (dir_.empty() || ::getpid() != owner_) return;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  BenchRoot(const BenchRoot&) = delete;
  BenchRoot& operator=(const BenchRoot&) = delete;
  const char* dir() const { return dir_.empty() ? "/tmp" : dir_.c_str(); }

 private:
  pid_t owner_;
  std::string dir_;
};

// Once per program: a root of its own and the stand-in board.
inline void useStandIn() {
  static BenchRoot root;
  static bool done = [] {
    setenv("QUORVAD_ROOT", root.dir(), 1);
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
