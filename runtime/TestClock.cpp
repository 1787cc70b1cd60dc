#include "runtime/TestClock.h"

#include <poll.h>

namespace Mux {

TestClock::TestClock(Mode mode, long start_sec, long start_usec)
    : mode_(mode),
      now_us_(static_cast<std::int64_t>(start_sec) * 1000000 + start_usec),
      origin_us_(now_us_),
      previous_(set_time_source(this)) {
  g_tv_time = timeval();
}

TestClock::~TestClock() {
  set_time_source(previous_);
  g_tv_time = timeval();
}

void TestClock::set(long sec, long usec) {
  now_us_ = static_cast<std::int64_t>(sec) * 1000000 + usec;
  origin_us_ = now_us_;
}

void TestClock::set_milliseconds(unsigned int ms) { set(static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000); }

void TestClock::advance(unsigned int ms) { now_us_ += static_cast<std::int64_t>(ms) * 1000; }

void TestClock::advance_us(std::uint64_t us) { now_us_ += static_cast<std::int64_t>(us); }

std::uint64_t TestClock::elapsed_ms() const { return static_cast<std::uint64_t>(now_us_ - origin_us_) / 1000; }

int TestClock::now(::timeval& tv) {
  tv.tv_sec = static_cast<time_t>(now_us_ / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(now_us_ % 1000000);
  return 0;
}

int TestClock::poll(pollfd* fds, nfds_t n, int timeout_ms) {
  waits_.push_back(timeout_ms);
  int r = ::poll(fds, n, 0);
  if (r != 0 || timeout_ms == 0 || mode_ == Manual) return r;
  if (timeout_ms > 0) {
    advance(static_cast<unsigned int>(timeout_ms));
    return 0;
  }
  return ::poll(fds, n, -1);
}

TestStop::TestStop(unsigned int ms) {
  arm_.Bind(this, &TestStop::arm_keep);
  stop_.set(ms, &TestStop::fire, this);
}

void TestStop::fire() {
  fired_ = true;
  multiplexer.terminate();
  arm_.Activate();
}

void TestStop::arm_keep() {
  arm_.Deactivate();
  keep_.set(0, &TestStop::idle, this);
}

}  // namespace Mux
