// The loop's pass: timer order, deferred calls, handler servicing, the
// aborts, the invalid-wait recovery and the watchdog device.
#include "runtime/Multiplexer.h"
#include "runtime/TestClock.h"
#include "runtime/Timer.h"
#include "RuntimeTestUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

using rt_test::Lit;

namespace {

struct RecTimer : TimerEvent {
  RecTimer(std::vector<int>* l, int t) : log(l), tag(t) {}
  void fire() override {
    log->push_back(tag);
    fired_at.push_back(Mux::milliseconds());
    if (then) then();
  }
  std::vector<int>* log;
  int tag;
  std::vector<unsigned int> fired_at;
  std::function<void()> then;
};

// Keeps the loop from the hang abort in tests that drive single passes.
struct Keep : TimerEvent {
  Keep() { schedule(3600000); }
  void fire() override {}
};

class PipeHandler : public EventHandler {
public:
  PipeHandler(const std::string& name, std::vector<std::string>* log) : name_(name), log_(log) {
    int p[2];
    if (pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) std::abort();
    rd_ = p[0];
    wr_ = p[1];
  }
  ~PipeHandler() override {
    mux_detach();
    close(rd_);
    close(wr_);
  }
  void shedule_event(pollfd& e) override {
    e.fd = rd_;
    e.events = POLLIN;
  }
  void svc_event(short revents) override {
    log_->push_back(name_ + ":" + std::to_string(revents));
    char buf[64];
    if (revents & POLLIN)
      while (read(rd_, buf, sizeof buf) > 0) {
      }
    if (action) {
      auto act = action;  // the action may destroy this handler
      act();
    }
  }
  std::string event_name() const override { return name_; }
  void fill() {
    if (write(wr_, "x", 1) != 1) std::abort();
  }
  using EventHandler::svc_event;
  std::function<void()> action;

private:
  std::string name_;
  std::vector<std::string>* log_;
  int rd_;
  int wr_;
};

const std::string kIn = std::to_string(POLLIN);

// ---------------------------------------------------------------- timers

TEST(MuxTimers, EqualExpiriesFireInArmingOrderAndRearmingReplaces) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<int> log;
  RecTimer a(&log, 1), b(&log, 2), c(&log, 3), early(&log, 0), moved(&log, 9);
  Keep keep;
  moved.schedule(100);
  a.schedule(100);
  b.schedule(100);
  c.schedule(100);
  early.schedule(50);
  moved.schedule(200);  // replaces its pending expiry
  EXPECT_EQ(multiplexer.timer_count(), 6u);

  clock.advance(99);
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{0}));
  clock.advance(1);
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{0, 1, 2, 3}));
  clock.advance(100);
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{0, 1, 2, 3, 9}));
  EXPECT_EQ(moved.fired_at.size(), 1u);
}

TEST(MuxTimers, OrderAndWaitsHoldAcrossTheClockWrap) {
  Mux::TestClock clock(Mux::TestClock::Virtual);
  clock.set_milliseconds(0xFFFFFF00u);
  std::vector<int> log;
  RecTimer after(&log, 2), before(&log, 1);
  after.schedule(0x200);  // expiry 0x100, past the wrap
  before.schedule(0x80);  // expiry 0xFFFFFF80
  rt_test::Stopper stop(0x300);
  testing::internal::CaptureStderr();
  multiplexer.run(false);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  ASSERT_EQ(before.fired_at.size(), 1u);
  ASSERT_EQ(after.fired_at.size(), 1u);
  EXPECT_EQ(before.fired_at[0], 0xFFFFFF80u);
  EXPECT_EQ(after.fired_at[0], 0x100u);
  EXPECT_EQ(err.find("RUNTIME ERROR"), std::string::npos);
  EXPECT_EQ(clock.waits().front(), 0x80);
}

TEST(MuxTimers, ZeroDelayRearmInFireRunsInTheSameStep) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<int> log;
  RecTimer t(&log, 7);
  Keep keep;
  t.then = [&] {
    if (log.size() < 3) t.schedule(0);
  };
  t.schedule(10);
  clock.advance(10);
  multiplexer.run_once();
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(multiplexer.timer_measure().counter() >= 3u, true);
}

TEST(MuxTimers, ZeroWaitFromADeferredCallIsPolledWithoutWaiting) {
  // A 0 ms timer armed after the due timers were fired is a wait of 0, not
  // "no timer": no hang abort, and the poll does not wait.
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<int> log;
  RecTimer t(&log, 1);
  struct Arm {
    RecTimer* t;
    int calls = 0;
    void run() {
      if (calls++ == 0) t->schedule(0);
    }
  } arm{&t};
  Dpc d;
  d.Bind(&arm, &Arm::run);
  d.Activate();
  multiplexer.run_once();
  ASSERT_EQ(clock.waits().size(), 1u);
  EXPECT_EQ(clock.waits()[0], 0);
  EXPECT_TRUE(log.empty());
  Keep keep;
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{1}));
}

TEST(MuxTimers, ClockSetBackRearmsEveryTimerASecondLater) {
  Mux::TestClock clock(Mux::TestClock::Manual, 50000, 0);
  std::vector<int> log;
  RecTimer a(&log, 1), b(&log, 2);
  a.schedule(5000);
  b.schedule(6000);
  clock.set(50000 - 3 * 3600, 0);
  const unsigned int now = Mux::milliseconds();
  const unsigned int first = 50000u * 1000u + 5000u;
  testing::internal::CaptureStderr();
  multiplexer.run_once();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "******** RUNTIME ERROR CONDITION *************Multiplexer::timers_schedule() invalid wait time "
            "detected!\nnow = " +
                std::to_string(now) + "\nfirst = " + std::to_string(first) + "\ncount = 2\n");
  EXPECT_EQ(clock.waits().back(), 1000);
  EXPECT_EQ(a.expiry(), now + 1000);
  Keep keep;
  clock.advance(999);
  multiplexer.run_once();
  EXPECT_TRUE(log.empty());
  clock.advance(1);
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
}

TEST(MuxTimers, PluginWaitAndUnhookDuringThePoll) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  struct P : TimerPoolPlugin {
    int answer = -1;
    int asked = 0;
    P* other = nullptr;
    int next_timeout() override {
      ++asked;
      if (other) other->timerUnhook();
      return answer;
    }
  } p1, p2;
  p1.answer = 250;
  p1.other = &p2;
  p1.timerHook();
  p2.timerHook();
  p2.answer = 5;
  multiplexer.run_once();
  EXPECT_EQ(clock.waits().back(), 250);
  EXPECT_EQ(p2.asked, 0);
}

// ---------------------------------------------------------------- DPCs

struct DpcRec {
  std::vector<int>* log = nullptr;
  int tag = 0;
  std::function<void()> then;
  Dpc dpc;
  void run() {
    log->push_back(tag);
    if (then) then();
  }
};

TEST(MuxDpc, RunsTwicePerPassInAddressOrder) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  std::vector<int> log;
  DpcRec r[2];
  for (int i = 0; i < 2; ++i) {
    r[i].log = &log;
    r[i].tag = i;
    r[i].dpc.Bind(&r[i], &DpcRec::run);
  }
  r[1].dpc.Activate();
  r[0].dpc.Activate();
  r[0].dpc.Activate();  // no duplicate
  EXPECT_EQ(multiplexer.dpc_count(), 2u);
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{0, 1, 0, 1}));
}

TEST(MuxDpc, DeactivatedBeforeItsTurnSkipsAndActivatedDuringARunWaits) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  std::vector<int> log;
  DpcRec r[2];
  int calls = 0;
  for (int i = 0; i < 2; ++i) {
    r[i].log = &log;
    r[i].tag = i;
    r[i].dpc.Bind(&r[i], &DpcRec::run);
  }
  r[0].then = [&] {
    ++calls;
    if (calls == 1) r[1].dpc.Deactivate();
    if (calls == 2) r[1].dpc.Activate();
  };
  r[0].dpc.Activate();
  r[1].dpc.Activate();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{0, 0}));
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<int>{0, 0, 0, 1, 0, 1}));
}

TEST(MuxDpc, OneShotDeactivatesItselfAndPlainFunctionsBind) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  static int plain_calls;
  plain_calls = 0;
  Dpc d;
  d.Bind(+[] { ++plain_calls; });
  d.Activate();
  multiplexer.run_once();
  EXPECT_EQ(plain_calls, 2);
  d.Deactivate();
  multiplexer.run_once();
  EXPECT_EQ(plain_calls, 2);
  EXPECT_EQ(multiplexer.dpc_count(), 0u);
}

// ---------------------------------------------------------------- handlers

TEST(MuxHandlers, NoServicingAfterATimeoutEveryHandlerAfterAnEvent) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<std::string> log;
  PipeHandler a("a", &log), b("b", &log);
  a.mux_attach();
  b.mux_attach();
  multiplexer.run_once();
  EXPECT_TRUE(log.empty());
  b.fill();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:" + kIn}));
  EXPECT_EQ(b.returned_events(), POLLIN);
}

TEST(MuxHandlers, DetachingItselfOrAnotherDuringServicing) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<std::string> log;
  PipeHandler a("a", &log), b("b", &log), c("c", &log);
  a.mux_attach();
  b.mux_attach();
  c.mux_attach();
  a.action = [&] { b.mux_detach(); };  // not yet serviced: skipped
  c.action = [&] { c.mux_detach(); };  // itself
  a.fill();
  b.fill();
  c.fill();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"a:" + kIn, "c:" + kIn}));
  log.clear();
  a.action = nullptr;
  b.fill();
  c.fill();
  a.fill();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"a:" + kIn}));
  EXPECT_FALSE(b.is_attached());
  EXPECT_FALSE(c.is_attached());
}

TEST(MuxHandlers, HandlerDestroyingItselfOrAnEarlierOneIsSafe) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<std::string> log;
  auto* a = new PipeHandler("a", &log);
  auto* b = new PipeHandler("b", &log);
  PipeHandler c("c", &log);
  a->mux_attach();
  b->mux_attach();
  c.mux_attach();
  b->action = [&] {
    delete a;  // already serviced
    delete b;  // itself
  };
  b->fill();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:" + kIn, "c:0"}));
  log.clear();
  c.fill();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"c:" + kIn}));
}

TEST(MuxHandlers, AttachedDuringServicingIsPolledFromTheNextPass) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<std::string> log;
  PipeHandler a("a", &log), late("late", &log);
  a.mux_attach();
  late.fill();
  a.fill();
  a.action = [&] { late.mux_attach(); };
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"a:" + kIn}));
  a.action = nullptr;
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"a:" + kIn, "a:0", "late:" + kIn}));
}

TEST(MuxHandlers, PollEntriesStayWithTheirHandlerWhenAPrePollCallDetaches) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<std::string> log;
  auto* gone = new PipeHandler("gone", &log);
  PipeHandler stays("stays", &log);
  gone->mux_attach();
  stays.mux_attach();
  stays.fill();
  int runs = 0;
  struct Killer {
    std::function<void()> f;
    void run() { f(); }
  } killer{[&] {
    if (++runs == 2) {  // the run after the poll set was built
      delete gone;
      gone = nullptr;
    }
  }};
  Dpc d;
  d.Bind(&killer, &Killer::run);
  d.Activate();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"stays:" + kIn}));
  EXPECT_EQ(gone, nullptr);
}

TEST(MuxHandlers, DuplicateAttachAndUnknownDetachAreReported) {
  struct Named : EventHandler {
    void shedule_event(pollfd&) override {}
    void svc_event(short) override {}
    std::string event_name() const override { return "probe"; }
  } h;
  testing::internal::CaptureStderr();
  multiplexer.attach(&h);
  multiplexer.attach(&h);
  multiplexer.detach(&h);
  multiplexer.detach(&h);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "duplicate multiplexer attach \"probe\" ignored.\nindvalid Multiplexer::detach probe\n");
  EXPECT_FALSE(multiplexer.event_exists(&h));
}

// ---------------------------------------------------------------- stop and aborts

TEST(MuxRun, AStopAskedBeforeTheLoopRunsStopsIt) {
  std::vector<std::string> log;
  PipeHandler a("a", &log);
  a.mux_attach();
  a.fill();
  multiplexer.terminate();
  EXPECT_FALSE(multiplexer.run_once());
  testing::internal::CaptureStderr();
  multiplexer.run(false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: terminating...\n");
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(multiplexer.terminating());
}

TEST(MuxRun, AStopDuringServicingLeavesTheRestForLater) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  std::vector<std::string> log;
  PipeHandler a("a", &log), b("b", &log);
  a.mux_attach();
  b.mux_attach();
  a.action = [&] { multiplexer.terminate(); };
  a.fill();
  b.fill();
  testing::internal::CaptureStderr();
  multiplexer.run(false);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(log, (std::vector<std::string>{"a:" + kIn}));
  a.action = nullptr;
  log.clear();
  multiplexer.run_once();
  EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:" + kIn}));
}

TEST(MuxRunDeathTest, NothingToWaitForAborts) {
  EXPECT_DEATH(multiplexer.run(false), "^" + Lit("multiplexer: system hang detected!!!") + "\n");
}

TEST(MuxRunDeathTest, NothingToWaitForAbortsAlsoWithTheWatchdog) {
  rt_test::TempRoot root;
  root.mkdirs("dev/misc");
  { std::ofstream(root.path("dev/misc/gw-wd")); }
  EXPECT_DEATH(multiplexer.run(true), Lit("multiplexer: system hang detected!!!"));
}

struct FailingPoll : Mux::TimeSource {
  int err;
  int calls = 0;
  explicit FailingPoll(int e) : err(e) {}
  int now(::timeval& tv) override { return gettimeofday(&tv, nullptr); }
  int poll(pollfd*, nfds_t, int) override {
    ++calls;
    errno = err;
    return -1;
  }
};

TEST(MuxRunDeathTest, PollFailureAborts) {
  Keep keep;
  FailingPoll fp(ENOMEM);
  Mux::TimeSource* old = Mux::set_time_source(&fp);
  EXPECT_DEATH(multiplexer.run_once(), "^" + Lit("multiplexer poll failed: Cannot allocate memory") + "\n");
  Mux::set_time_source(old);
}

TEST(MuxRun, InterruptedPollEndsThePassQuietly) {
  Keep keep;
  std::vector<std::string> log;
  PipeHandler a("a", &log);
  a.mux_attach();
  a.fill();
  FailingPoll fp(EINTR);
  Mux::TimeSource* old = Mux::set_time_source(&fp);
  multiplexer.run_once();
  Mux::set_time_source(old);
  EXPECT_EQ(fp.calls, 1);
  EXPECT_TRUE(log.empty());
}

// ---------------------------------------------------------------- watchdog

TEST(MuxWatchdog, StartPingsAtMostOnceASecondThenStop) {
  rt_test::TempRoot root;
  root.mkdirs("dev/misc");
  { std::ofstream(root.path("dev/misc/gw-wd")); }
  Mux::TestClock clock(Mux::TestClock::Virtual);
  rt_test::Stopper stop(3500);
  testing::internal::CaptureStderr();
  multiplexer.run(true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: terminating...\n");
  EXPECT_EQ(rt_test::read_file(root.path("dev/misc/gw-wd")), "STARTPINGPINGPINGSTOP");
  EXPECT_EQ(clock.waits(), (std::vector<int>{1000, 1000, 1000, 500, 0}));
  EXPECT_FALSE(multiplexer.watchdog_open());
}

TEST(MuxWatchdog, ClockSetBackPingsAtOnce) {
  rt_test::TempRoot root;
  root.mkdirs("dev/misc");
  { std::ofstream(root.path("dev/misc/gw-wd")); }
  // The clock stands still between polls: only the first poll pings,
  // unless the clock goes back.
  Mux::TestClock clock(Mux::TestClock::Manual);
  Keep keep;
  struct Back {
    Mux::TestClock* c;
    int calls = 0;
    void run() {
      ++calls;
      if (calls == 4) c->set(1000000 - 10, 0);  // before the second poll
      if (calls == 8) multiplexer.terminate();
    }
  } back{&clock};
  Dpc d;
  d.Bind(&back, &Back::run);
  d.Activate();
  testing::internal::CaptureStderr();
  multiplexer.run(true);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(rt_test::read_file(root.path("dev/misc/gw-wd")), "STARTPINGPINGSTOP");
  EXPECT_EQ(clock.waits().size(), 4u);
}

TEST(MuxWatchdog, MissingDeviceIsReportedAndTheWaitIsNotCapped) {
  rt_test::TempRoot root;
  Mux::TestClock clock(Mux::TestClock::Virtual);
  rt_test::Stopper stop(5000);
  testing::internal::CaptureStderr();
  multiplexer.run(true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Mux: fail to open watchdog: No such file or directory\nMux: terminating...\n");
  EXPECT_EQ(clock.waits().front(), 5000);
}

TEST(MuxWatchdog, FailingStartClosesTheDevice) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  rt_test::TempRoot root;
  root.mkdirs("dev/misc");
  ASSERT_EQ(symlink("/dev/full", root.path("dev/misc/gw-wd").c_str()), 0);
  Mux::TestClock clock(Mux::TestClock::Virtual);
  rt_test::Stopper stop(3000);
  testing::internal::CaptureStderr();
  multiplexer.run(true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Mux: fail to activate watchdog: No space left on device\nMux: terminating...\n");
  EXPECT_EQ(clock.waits().front(), 3000);
}

TEST(MuxWatchdog, TheDeviceIsNotInheritedByChildPrograms) {
  rt_test::TempRoot root;
  root.mkdirs("dev/misc");
  { std::ofstream(root.path("dev/misc/gw-wd")); }
  Mux::TestClock clock(Mux::TestClock::Virtual);
  bool cloexec = false;
  struct Probe {
    bool* out;
    void run() {
      // The newest descriptor that names the device.
      for (int fd = 3; fd < 1024; ++fd) {
        char link[64], target[512];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        if (std::string(target).find("gw-wd") != std::string::npos) *out = (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
      }
      multiplexer.terminate();
    }
  } probe{&cloexec};
  Keep keep;
  Dpc d;
  d.Bind(&probe, &Probe::run);
  d.Activate();
  testing::internal::CaptureStderr();
  multiplexer.run(true);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(cloexec);
}

}  // namespace
