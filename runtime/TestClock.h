#pragma once
// A clock for tests of anything that runs the loop with timers: while a
// TestClock lives, Mux::milliseconds(), Mux::microseconds(), Mux::seconds()
// and the loop's waits read and spend its time instead of the system's.
// The system clock is never touched, and nothing of this is used by the
// daemon (the time source stays the system's unless a test installs one).
//
// Two modes:
//
//  - Virtual (default): the loop's wait never sleeps. The descriptors are
//    polled without waiting; when none is ready, the clock jumps forward by
//    the wait (to the next timer, or 1000 ms with the watchdog open). A
//    wait without limit (-1) really blocks on the descriptors. A 120-second
//    timer thus fires at once, at exactly 120 s of test time:
//
//        Mux::TestClock clock;                    // starts at 1,000,000 s
//        Timer t;
//        t.set(120000, &Obj::on_timeout, &obj);   // Obj::on_timeout calls
//        multiplexer.run(false);                  //   multiplexer.terminate()
//        EXPECT_EQ(clock.elapsed_ms(), 120000u);
//
//  - Manual: the wait never sleeps and the clock only moves when the test
//    moves it; drive the loop one pass at a time:
//
//        Mux::TestClock clock(Mux::TestClock::Manual);
//        t.set(120000, &Obj::on_timeout, &obj);
//        clock.advance(119999); multiplexer.run_once();   // not yet
//        clock.advance(1);      multiplexer.run_once();   // fires
//
// set_milliseconds() puts the clock where Mux::milliseconds() reads a given
// value, e.g. just before its 32-bit wrap: clock.set_milliseconds(0xFFFFFF00).
//
// The constructor installs the clock and clears the loop's cached snapshot;
// the destructor restores the system clock. One TestClock at a time.
#include "runtime/Clock.h"

#include <cstdint>
#include <vector>

namespace Mux {

class TestClock : public TimeSource {
public:
  enum Mode { Virtual, Manual };

  explicit TestClock(Mode mode = Virtual, long start_sec = 1000000, long start_usec = 0);
  ~TestClock() override;
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;

  void set(long sec, long usec);
  // Mux::milliseconds() reads ms afterwards.
  void set_milliseconds(unsigned int ms);
  void advance(unsigned int ms);
  void advance_us(std::uint64_t us);
  // Test time spent since construction (or the last set), in milliseconds.
  std::uint64_t elapsed_ms() const;

  // Every timeout the loop asked poll() for, in order.
  const std::vector<int>& waits() const { return waits_; }
  void clear_waits() { waits_.clear(); }

  int now(::timeval& tv) override;
  int poll(pollfd* fds, nfds_t n, int timeout_ms) override;

private:
  Mode mode_;
  std::int64_t now_us_;
  std::int64_t origin_us_;
  std::vector<int> waits_;
  TimeSource* previous_;
};

}  // namespace Mux
