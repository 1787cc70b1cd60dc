#pragma once
// Helpers of the hardware tests: captured log streams, the switch's
// requests as read from the stand-in's log, and a loop driven pass by pass.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board/Record.h"
#include "board/StandIn.h"
#include "hardware/Device.h"
#include "runtime/Event.h"
#include "runtime/Multiplexer.h"
#include "runtime/TestClock.h"

namespace hwtest {

// Collects what is written to a standard stream while it lives.
class Capture {
 public:
  explicit Capture(std::ostream& os) : os_(os), old_(os.rdbuf(buf_.rdbuf())) {}
  ~Capture() { os_.rdbuf(old_); }
  std::string text() const { return buf_.str(); }
  void clear() { buf_.str(""); }

 private:
  std::ostream& os_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

// One request as the board saw it: its word, session and record words.
struct Req {
  uint32_t word;
  unsigned session;
  std::vector<uint32_t> words;
  int error;
};

inline std::vector<Req> requests(Board::StandIn& board, std::vector<uint32_t> words,
                                 unsigned session = 0) {
  std::vector<Req> out;
  for (const auto& e : board.logEntries(words)) {
    if (session && e.session != session) continue;
    Req r{e.word, e.session, {}, e.error};
    for (size_t i = 0; i + 4 <= e.in.size(); i += 4) r.words.push_back(Board::wordBE(e.in, i / 4));
    out.push_back(r);
  }
  return out;
}

// Keeps the loop's poll set from being empty (an empty set with no timer
// is a hang to the loop) with a pipe that never becomes readable.
class LoopAnchor {
 public:
  LoopAnchor() {
    if (::pipe(p_) == 0) event_.Schedule(Fd(p_[0]), POLLIN);
  }
  ~LoopAnchor() {
    event_.Release();
    if (p_[1] >= 0) ::close(p_[1]);
  }

 private:
  int p_[2] = {-1, -1};
  Event event_;
};

// Runs loop passes (the test clock keeps them from waiting) until pred
// holds or about five seconds of real time went by; whether it held.
inline bool runUntil(const std::function<bool()>& pred, int maxMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    multiplexer.run_once();
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace hwtest
