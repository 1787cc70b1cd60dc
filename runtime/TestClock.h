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
//        t.set(120000, &Obj::on_timeout, &obj);
//        Mux::TestStop stop(120000);              // armed after t: fires after it
//        multiplexer.run(false);
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
//
// Mind the loop's hang abort: a pass with no timer armed and no handler
// attached aborts the process. A callback that calls terminate() does not
// end the pass it runs in (the pass still polls), so a test that stops the
// loop from its last timer must leave something to wait for; TestStop does
// that for you, with a 0 ms wait that does not move the clock.
#include "runtime/Clock.h"
#include "runtime/Multiplexer.h"
#include "runtime/Timer.h"

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

// Ends a run of the loop after `ms` of loop time (test or system clock):
// asks the loop to stop, then arms a 0 ms timer from a deferred call so
// that the pass that sees the stop neither waits nor hits the hang abort.
class TestStop {
public:
  explicit TestStop(unsigned int ms);
  TestStop(const TestStop&) = delete;
  TestStop& operator=(const TestStop&) = delete;
  bool fired() const { return fired_; }

private:
  void fire();
  void arm_keep();
  void idle() {}
  Timer stop_;
  Timer keep_;
  Dpc arm_;
  bool fired_ = false;
};

}  // namespace Mux
