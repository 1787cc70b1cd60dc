// What one file player streaming a 1 MiB prompt costs the loop, against
// a bare copy of the same bytes, on the stand-in board:
//
//   build-bench/bench/bench_voice
//
// - BareCopy: the prompt file read in pieces of 8192 and each piece
//   written to a transparent controller channel, waiting in poll(2) when
//   the channel is full.
// - FilePlayer: a file player made by the voice factory and started as a
//   source, the loop run until the prompt has gone out and the player has
//   ended; the player is destroyed and its channel freed each time.
// Both send every byte to the same kind of channel, which the board's own
// thread drains. Target: the player's CPU time on the loop's thread at
// most twice the bare copy's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>

#include "StandInBench.h"
#include "board/Mcc.h"
#include "board/StandIn.h"
#include "hardware/Device.h"
#include "hardware/MccRequests.h"
#include "protocol/LGCP/LGCP.h"
#include "runtime/Multiplexer.h"
#include "runtime/Root.h"
#include "slots/Voice.h"

namespace {

constexpr size_t kPromptSize = 1 << 20;

class Setup {
 public:
  static Setup& get() {
    static Setup s;
    return s;
  }
  std::string prompt;

 private:
  Setup() : log_(std::clog.rdbuf(&discard_)), err_(std::cerr.rdbuf(&discard_)) {
    bench::useStandIn();
    for (const char* d : {"/usr", "/usr/local", "/usr/local/voice"}) ::mkdir(Root::path(d).c_str(), 0755);
    prompt = Root::path("/usr/local/voice/prompt");
    std::ofstream(prompt, std::ios::binary) << std::string(kPromptSize, '\x55');
  }
  bench::Discard discard_;
  std::streambuf* log_;
  std::streambuf* err_;
};

// A transparent channel for writing, as a player allocates it.
int openChannel() {
  const int fd = Device::open("/dev/mcc/ctl", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 && MccAllocate(fd, mccTransparent, 1024, 0, 5) < 0) {
    Device::close(fd);
    return -1;
  }
  return fd;
}

void BareCopy(benchmark::State& state) {
  Setup& s = Setup::get();
  char buf[PlaySlotFile::kChunk];
  for (auto _ : state) {
    const int ch = openChannel();
    const int file = ::open(s.prompt.c_str(), O_RDONLY | O_CLOEXEC);
    if (ch < 0 || file < 0) {
      state.SkipWithError("no channel or no prompt");
      break;
    }
    size_t total = 0;
    for (ssize_t n; (n = ::read(file, buf, sizeof buf)) > 0;) {
      for (;;) {
        if (::write(ch, buf, size_t(n)) == n) break;
        pollfd p{ch, POLLOUT, 0};
        ::poll(&p, 1, -1);
      }
      total += size_t(n);
    }
    benchmark::DoNotOptimize(total);
    ::close(file);
    Device::close(ch);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPromptSize));
}

// Plays the prompt once; the bytes the channel got when verify is set.
size_t playOnce(const LGCP::PlayerParams& params, bool verify) {
  PlaySlotGeneric* p = VoiceFactory::instance().CreatePlay(params);
  if (!p || !p->IOnOutputStream()) return 0;
  // Release reports the stream inactive once the channel has taken all.
  p->OnChangeOutputStream(true);
  while (p->GetOutputStream()) multiplexer.run_once();
  size_t got = 0;
  if (verify)
    for (const std::string& f : Board::StandIn::instance().mcc().captured(uint32_t(p->GetTransmitChannel()), true))
      got += f.size();
  p->BeforeDestroy();
  delete p;
  return verify ? got : kPromptSize;
}

void FilePlayer(benchmark::State& state) {
  Setup::get();
  LGCP::PlayerParams params;
  LGCP::PlayerParams_file& f = params.select_file();
  f.ref_name().push_back(ASN1::IA5String("prompt"));
  f.set_repeat(1);
  if (playOnce(params, true) != kPromptSize) {
    state.SkipWithError("the player did not play the whole prompt");
    return;
  }
  for (auto _ : state) {
    if (playOnce(params, false) != kPromptSize) {
      state.SkipWithError("the player did not start");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPromptSize));
}

BENCHMARK(BareCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(FilePlayer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
