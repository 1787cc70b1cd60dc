// Descriptors, descriptor events and timers on the loop.
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/TestClock.h"
#include "runtime/Timer.h"
#include "RuntimeTestUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool cloexec(int fd) { return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }
bool open_fd(int fd) { return fcntl(fd, F_GETFD) != -1; }

struct Pipe {
  int rd, wr;
  Pipe() {
    int p[2];
    if (pipe(p) != 0) std::abort();
    rd = p[0];
    wr = p[1];
  }
  ~Pipe() {
    close(rd);
    close(wr);
  }
  void fill() {
    if (write(wr, "x", 1) != 1) std::abort();
  }
};

// ---------------------------------------------------------------- Fd

TEST(Fd, OwnsDuplicatesAndClosesWithCloseOnExec) {
  Pipe p;
  int raw = dup(p.rd);
  ASSERT_FALSE(cloexec(raw));
  {
    Fd a(raw);
    EXPECT_TRUE(cloexec(raw));
    EXPECT_TRUE(a.is_valid());
    EXPECT_TRUE(a);
    Fd b(a);
    EXPECT_NE(b.lowlevel_fd(), a.lowlevel_fd());
    EXPECT_TRUE(cloexec(b.lowlevel_fd()));
    int bfd = b.lowlevel_fd();
    b = b;  // self-assignment keeps it
    EXPECT_EQ(b.lowlevel_fd(), bfd);
    EXPECT_TRUE(open_fd(bfd));
    Fd c;
    c = a;
    EXPECT_TRUE(open_fd(c.lowlevel_fd()));
    EXPECT_TRUE(a.NonBlock());
    EXPECT_TRUE(fcntl(raw, F_GETFL) & O_NONBLOCK);
  }
  EXPECT_FALSE(open_fd(raw));
}

TEST(Fd, EmptyHandleBehaviour) {
  Fd e;
  EXPECT_FALSE(e);
  errno = 0;
  EXPECT_EQ(e.dup(), -1);
  EXPECT_EQ(errno, 0);
  Fd copy(e);
  EXPECT_FALSE(copy.is_valid());
  EXPECT_EQ(e.close(), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(e.NonBlock());
  EXPECT_FALSE(e.open("/nonexistent/file", O_RDONLY));
  EXPECT_EQ(errno, ENOENT);
  ASSERT_TRUE(e.open("/dev/null", O_RDONLY));
  EXPECT_TRUE(cloexec(e.lowlevel_fd()));
  EXPECT_EQ(close(e), 0);
  EXPECT_FALSE(e.is_valid());
}

TEST(Fd, ReadWriteWrappersAndErrno) {
  Pipe p;
  Fd w(dup(p.wr));
  Fd r(dup(p.rd));
  EXPECT_EQ(write(w, "abc", 3), 3);
  char buf[8];
  EXPECT_EQ(read(r, buf, sizeof buf), 3);
  errno = ENOENT;
  std::ostringstream os;
  os << "x: " << Errno();
  EXPECT_EQ(os.str(), "x: No such file or directory");
  EXPECT_EQ(Errno(EBADF).value(), EBADF);
  EXPECT_TRUE(NonBlockMode(p.rd));
  EXPECT_TRUE(BlockMode(p.rd));
  EXPECT_FALSE(fcntl(p.rd, F_GETFL) & O_NONBLOCK);
  EXPECT_FALSE(NonBlockMode(-1));
  SetCloexec(p.rd, true);
  EXPECT_TRUE(cloexec(p.rd));
  SetCloexec(p.rd, false);
  EXPECT_FALSE(cloexec(p.rd));
}

// ---------------------------------------------------------------- Event

struct Owner {
  std::vector<std::pair<int, short>> calls;
  Event ev;
  std::function<void()> then;
  void on(int fd, short revents) {
    calls.push_back({fd, revents});
    if (revents & POLLIN) {
      char c;
      if (::read(fd, &c, 1) != 1) std::abort();
    }
    if (then) then();
  }
};

TEST(Event, PollsItsOwnDuplicateAndCountsRequestedBitsOnly) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Pipe p, q;
  Owner a, b;
  a.ev.Bind("a", &Owner::on, &a);
  b.ev.Bind("b", &Owner::on, &b);
  EXPECT_EQ(a.ev.event_name(), "a");
  {
    Fd mine(dup(p.rd));
    NonBlockMode(mine.lowlevel_fd());
    a.ev.Schedule(mine, POLLIN);
  }  // the caller's descriptor is gone; the event keeps its own
  b.ev.Schedule(Fd(dup(q.rd)), POLLIN);
  EXPECT_TRUE(a.ev.IsActive());
  EXPECT_NE(a.ev.lowlevel_fd(), p.rd);

  p.fill();
  multiplexer.run_once();
  ASSERT_EQ(a.calls.size(), 1u);
  EXPECT_EQ(a.calls[0].first, a.ev.lowlevel_fd());
  EXPECT_EQ(a.calls[0].second, POLLIN);
  ASSERT_EQ(b.calls.size(), 1u);  // called with 0: another event had activity
  EXPECT_EQ(b.calls[0].second, 0);
  EXPECT_EQ(a.ev.counter(), 1u);
  EXPECT_EQ(b.ev.counter(), 0u);
}

TEST(Event, ReleaseTwiceUnbindAndRebind) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Pipe p, q;
  Owner a, other;
  a.ev.Bind("a", &Owner::on, &a);
  a.ev.Schedule(Fd(dup(p.rd)), POLLIN);
  other.ev.Bind("o", &Owner::on, &other);
  other.ev.Schedule(Fd(dup(q.rd)), POLLIN);

  a.ev.UnBind();  // still polled and counted, nothing called
  p.fill();
  multiplexer.run_once();
  EXPECT_TRUE(a.calls.empty());
  EXPECT_EQ(a.ev.counter(), 1u);
  EXPECT_FALSE(a.ev.has_handler());

  Owner second;
  a.ev.Bind("a2", &Owner::on, &second);
  multiplexer.run_once();  // still readable: nothing drained it
  EXPECT_EQ(second.calls.size(), 1u);

  EXPECT_EQ(a.ev.Release(), 0);
  EXPECT_FALSE(a.ev.IsActive());
  EXPECT_EQ(a.ev.Release(), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(a.ev.has_handler());
  EXPECT_FALSE(multiplexer.event_exists(&a.ev));
}

TEST(Event, RescheduleFromItsOwnCallbackAndSetEvents) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Pipe p, q;
  Owner a;
  a.ev.Bind("a", &Owner::on, &a);
  a.ev.Schedule(Fd(dup(p.rd)), POLLIN);
  a.then = [&] {
    a.then = nullptr;
    a.ev.Schedule(Fd(dup(q.rd)), POLLIN);
  };
  p.fill();
  multiplexer.run_once();
  ASSERT_EQ(a.calls.size(), 1u);
  q.fill();
  multiplexer.run_once();
  ASSERT_EQ(a.calls.size(), 2u);
  EXPECT_EQ(a.calls[1].second, POLLIN);

  // POLLOUT added while scheduled: from the next pass on, no re-attach.
  Pipe w;
  Owner writer;
  writer.ev.Bind("w", &Owner::on, &writer);
  writer.ev.Schedule(Fd(dup(w.wr)), 0);
  multiplexer.run_once();
  EXPECT_TRUE(writer.calls.empty());
  writer.ev.SetEvents(POLLIN | POLLOUT);
  multiplexer.run_once();
  ASSERT_EQ(writer.calls.size(), 1u);
  EXPECT_EQ(writer.calls[0].second, POLLOUT);
  EXPECT_EQ(writer.ev.counter(), 1u);
}

TEST(Event, DestroyedInsideItsOwnCallback) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Pipe p;
  auto* a = new Owner;
  a->ev.Bind("a", &Owner::on, a);
  a->ev.Schedule(Fd(dup(p.rd)), POLLIN);
  a->then = [&] { delete a; };
  p.fill();
  multiplexer.run_once();
  EXPECT_EQ(multiplexer.working_list().count(), 0u);
}

TEST(Event, SchedulingAnInvalidFdReleases) {
  Pipe p;
  Owner a;
  a.ev.Schedule(Fd(dup(p.rd)), POLLIN);
  EXPECT_TRUE(a.ev.is_attached());
  a.ev.Schedule(Fd(), POLLIN);
  EXPECT_FALSE(a.ev.is_attached());
  EXPECT_FALSE(a.ev.IsActive());
  EXPECT_EQ(a.ev.event_name(), "Unknown");
}

// ---------------------------------------------------------------- Timer

struct Holder {
  Timer t1, t2;
  std::vector<std::string> log;
  std::vector<Timer*> seen;
  std::vector<std::uint64_t> at;
  Mux::TestClock* clock = nullptr;
  bool running_inside = true;
  int periodic_left = 0;

  void a() { log.push_back("a"); }
  void b() { log.push_back("b"); }
  void with(Timer* t) {
    seen.push_back(t);
    running_inside = t->is_running();
  }
  void periodic() {
    if (periodic_left-- > 0) t1.set(1000, &Holder::periodic, this);
    at.push_back(clock->elapsed_ms());
  }
};

TEST(Timer, RearmReplacesResetCancelsAndStateIsVisible) {
  Mux::TestClock clock(Mux::TestClock::Virtual);
  Holder h;
  h.t1.set(100, &Holder::a, &h);
  h.t1.set(50, &Holder::b, &h);
  EXPECT_TRUE(h.t1.is_running());
  h.t2.set(10, &Holder::a, &h);
  h.t2.reset();
  EXPECT_FALSE(h.t2.is_running());
  h.t2.reset();
  rt_test::Stopper stop(200);
  multiplexer.run(false);
  EXPECT_EQ(h.log, (std::vector<std::string>{"b"}));
  EXPECT_FALSE(h.t1.is_running());
}

TEST(Timer, CallbackGetsItsTimerAndIsNotRunningInside) {
  Mux::TestClock clock(Mux::TestClock::Virtual);
  Holder h;
  h.t1.set(20, &Holder::with, &h);
  h.t2.set(10, &Holder::with, &h);
  rt_test::Stopper stop(50);
  multiplexer.run(false);
  EXPECT_EQ(h.seen, (std::vector<Timer*>{&h.t2, &h.t1}));
  EXPECT_FALSE(h.running_inside);
}

TEST(Timer, RearmingInsideTheCallbackMakesAPeriodicTimer) {
  Mux::TestClock clock(Mux::TestClock::Virtual);
  Holder h;
  h.clock = &clock;
  h.periodic_left = 3;
  h.t1.set(1000, &Holder::periodic, &h);
  rt_test::Stopper stop(10000);
  multiplexer.run(false);
  EXPECT_EQ(h.at, (std::vector<std::uint64_t>{1000, 2000, 3000, 4000}));
}

TEST(Timer, DestroyingTheHolderCancelsAndACallbackMayDestroyIt) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  rt_test::Stopper keep(3600000);
  auto* h = new Holder;
  h->t1.set(10, &Holder::a, h);
  delete h;
  EXPECT_EQ(multiplexer.timer_count(), 1u);  // the stopper's

  struct SelfDestruct {
    Timer t;
    bool* done;
    void go() {
      *done = true;
      delete this;
    }
  };
  bool done = false;
  auto* s = new SelfDestruct{Timer(), &done};
  s->t.set(5, &SelfDestruct::go, s);
  clock.advance(10);
  multiplexer.run_once();
  EXPECT_TRUE(done);
  EXPECT_EQ(multiplexer.timer_count(), 1u);
}

TEST(Timer, TwoMinuteTimerRunsOnTestTime) {
  Mux::TestClock clock(Mux::TestClock::Virtual);
  Holder h;
  h.t1.set(120000, &Holder::a, &h);
  Mux::TestStop stop(120000);
  multiplexer.run(false);
  EXPECT_EQ(h.log, (std::vector<std::string>{"a"}));
  EXPECT_EQ(clock.elapsed_ms(), 120000u);
}

TEST(Timer, ManualClockStepsOnePassAtATime) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  rt_test::Stopper keep(3600000);
  Holder h;
  h.t1.set(120000, &Holder::a, &h);
  clock.advance(119999);
  multiplexer.run_once();
  EXPECT_TRUE(h.log.empty());
  clock.advance(1);
  multiplexer.run_once();
  EXPECT_EQ(h.log, (std::vector<std::string>{"a"}));
}

struct Periodic {
  static const TimerSpec<Periodic> record;
  TimerSpec<Periodic>::SpecTimer<record> timer;
  Mux::TestClock* clock = nullptr;
  std::vector<std::uint64_t> at;
  void OnUpdateTimer() {
    timer.set(this);
    at.push_back(clock->elapsed_ms());
  }
};
const TimerSpec<Periodic> Periodic::record = {&Periodic::OnUpdateTimer, 3000};

TEST(Timer, SpecTimerKeepsFiringEveryInterval) {
  Mux::TestClock clock(Mux::TestClock::Virtual);
  Periodic p;
  p.clock = &clock;
  p.timer.set(&p);
  rt_test::Stopper stop(10000);
  multiplexer.run(false);
  EXPECT_EQ(p.at, (std::vector<std::uint64_t>{3000, 6000, 9000}));
}

TEST(Timer, PlainFunctionTimer) {
  Mux::TestClock clock(Mux::TestClock::Virtual);
  static int calls;
  calls = 0;
  Timer t;
  t.set(7, +[] { ++calls; });
  rt_test::Stopper stop(10);
  multiplexer.run(false);
  EXPECT_EQ(calls, 1);
}

}  // namespace
