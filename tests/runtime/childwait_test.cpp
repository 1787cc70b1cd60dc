// Child-exit notification through the SIGCHLD handler and the loop. A
// binary of its own: the handler reaps every child of the process, so it
// cannot share a process with death tests.
#include "runtime/ChildWait.h"
#include "runtime/Signal.h"
#include "runtime/Timer.h"
#include "RuntimeTestUtil.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

int spawn(int code, unsigned int delay_us = 0) {
  pid_t pid = fork();
  if (pid == 0) {
    if (delay_us) usleep(delay_us);
    _exit(code);
  }
  return pid;
}

// Waits until every one of pids has ended: reaped by the SIGCHLD handler,
// or a zombie that the handler left for later (asked without reaping it).
// However loaded the machine, the exits then all come before the loop
// reads any. False after 20 s.
bool all_ended(const std::vector<int>& pids) {
  for (int tries = 0; tries < 20000; ++tries) {
    bool ended = true;
    for (int pid : pids) {
      siginfo_t info{};
      const int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
      ended = ended && ((r == 0 && info.si_pid == pid) || (r < 0 && errno == ECHILD));
    }
    if (ended) return true;
    usleep(1000);
  }
  return false;
}

struct Slot {
  ChildWait wait;
  std::vector<int> statuses;
  std::function<void(int)> then;
  Slot() { wait.Bind(this, &Slot::on_terminate); }
  void on_terminate(int status) {
    statuses.push_back(status);
    if (then) then(status);
  }
};

// Runs the loop until `done` holds after a callback, or 20 s passed.
void run_until(const std::function<bool()>& done, std::vector<Slot*> slots) {
  for (Slot* s : slots) {
    auto prev = s->then;
    s->then = [prev, done](int st) {
      if (prev) prev(st);
      if (done()) multiplexer.terminate();
    };
  }
  rt_test::Stopper guard(20000);
  multiplexer.run(false);
  EXPECT_FALSE(guard.fired()) << "children not reported in time";
}

class ChildWaitTest : public testing::Test {
protected:
  void SetUp() override {
    ChildWait::Activate();
    ASSERT_TRUE(ChildWaitService::childWaitService->is_active());
  }
};

TEST_F(ChildWaitTest, EachExitReachesItsOwnWaiterOnceWithTheRawStatus) {
  Slot a, b;
  int pa = spawn(1, 50000);
  int pb = spawn(3);
  a.wait.Attach(pa);
  b.wait.Attach(pb);
  EXPECT_EQ(ChildWaitService::childWaitService->waiters().count(), 2u);
  testing::internal::CaptureStderr();
  run_until([&] { return a.statuses.size() + b.statuses.size() == 2; }, {&a, &b});
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(a.statuses, (std::vector<int>{256}));
  EXPECT_EQ(b.statuses, (std::vector<int>{768}));
  EXPECT_NE(log.find("terminate child process, pid=" + std::to_string(pa) + " status=256\n"), std::string::npos);
  EXPECT_NE(log.find("terminate child process, pid=" + std::to_string(pb) + " status=768\n"), std::string::npos);
  EXPECT_FALSE(a.wait.is_attached());
  EXPECT_EQ(ChildWaitService::childWaitService->waiters().count(), 0u);
}

TEST_F(ChildWaitTest, TwoHundredChildrenEndingTogetherAreAllReportedOnce) {
  // Far more exits than the socket queue holds arrive before the loop runs
  // (the queue is made small, so that this holds on any machine).
  int small = 4096;
  ASSERT_EQ(setsockopt(ChildWaitService::childWaitService->write_end().lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small,
                       sizeof small),
            0);
  const int n = 200;
  std::vector<std::unique_ptr<Slot>> slots;
  std::vector<Slot*> raw;
  std::vector<int> codes, pids;
  for (int i = 0; i < n; ++i) {
    slots.emplace_back(new Slot);
    raw.push_back(slots.back().get());
    int code = i % 251;
    codes.push_back(code);
    pids.push_back(spawn(code));
    slots.back()->wait.Attach(pids.back());
  }
  ASSERT_TRUE(all_ended(pids));
  const unsigned int stalls = ChildWaitService::childWaitService->stalls();
  int reported = 0;
  for (Slot* s : raw) s->then = [&](int) { ++reported; };
  testing::internal::CaptureStderr();
  run_until([&] { return reported == n; }, raw);
  std::string log = testing::internal::GetCapturedStderr();
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(slots[i]->statuses.size(), 1u) << "child " << i;
    EXPECT_TRUE(WIFEXITED(slots[i]->statuses[0]));
    EXPECT_EQ(WEXITSTATUS(slots[i]->statuses[0]), codes[i]);
  }
  EXPECT_GT(ChildWaitService::childWaitService->stalls(), stalls);
  size_t lines = 0;
  for (size_t p = 0; (p = log.find("terminate child process", p)) != std::string::npos; ++p) ++lines;
  EXPECT_EQ(lines, static_cast<size_t>(n));
}

TEST_F(ChildWaitTest, ReattachingInsideTheCallbackWatchesTheRestartedChild) {
  Slot s;
  int restarts = 0;
  s.then = [&](int) {
    if (restarts++ == 0) s.wait.Attach(spawn(2));
  };
  s.wait.Attach(spawn(1));
  testing::internal::CaptureStderr();
  run_until([&] { return s.statuses.size() == 2; }, {&s});
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(s.statuses, (std::vector<int>{256, 512}));
}

TEST_F(ChildWaitTest, UnboundWaiterAndStrangerChildrenAreOnlyLogged) {
  ChildWait unbound;
  Slot witness;
  int pu = spawn(4);
  unbound.Attach(pu);
  int stranger = spawn(5);
  // The witness ends after both: its report comes after theirs.
  ASSERT_TRUE(all_ended({pu, stranger}));
  witness.wait.Attach(spawn(6));
  testing::internal::CaptureStderr();
  run_until([&] { return witness.statuses.size() == 1; }, {&witness});
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(unbound.is_attached());
  EXPECT_NE(log.find("pid=" + std::to_string(stranger) + " status=1280\n"), std::string::npos);
  EXPECT_NE(log.find("pid=" + std::to_string(pu) + " status=1024\n"), std::string::npos);
}

TEST_F(ChildWaitTest, AttachAgainMovesToTheTailAndDetachIsSafe) {
  ChildWait a, b, c, never;
  a.Attach(100001);
  b.Attach(100002);
  c.Attach(100003);
  a.Attach(100004);
  const auto& w = ChildWaitService::childWaitService->waiters();
  std::vector<int> pids;
  for (ChildWait* x : w) pids.push_back(x->pid());
  EXPECT_EQ(pids, (std::vector<int>{100002, 100003, 100004}));
  never.Detach();
  b.Detach();
  b.Detach();
  EXPECT_EQ(w.count(), 2u);
}

TEST_F(ChildWaitTest, TheSignalHandlerKeepsErrno) {
  errno = EDOM;
  raise(SIGCHLD);
  EXPECT_EQ(errno, EDOM);
}

TEST(Signal, InstallIgnoreRestoreAndSets) {
  static volatile sig_atomic_t hits;
  hits = 0;
  ASSERT_EQ(IPC::Signal::handle(SIGUSR1, +[](int) { hits = hits + 1; }, SA_RESTART), 0);
  raise(SIGUSR1);
  EXPECT_EQ(hits, 1);
  struct sigaction act;
  sigaction(SIGUSR1, nullptr, &act);
  EXPECT_TRUE(act.sa_flags & SA_RESTART);
  EXPECT_EQ(IPC::Signal::disable_int(SIGUSR1), 0);
  EXPECT_EQ(IPC::Signal::enable_int(SIGUSR1), 0);
  sigaction(SIGUSR1, nullptr, &act);
  EXPECT_FALSE(act.sa_flags & SA_RESTART);

  // A three-argument handler goes in without SA_SIGINFO.
  ASSERT_EQ(IPC::Signal::handle(SIGUSR1, +[](int, siginfo_t*, void*) { hits = hits + 10; },
                                IPC::Signal::Set(SIGUSR2, SIGHUP), SA_SIGINFO | SA_RESTART),
            0);
  sigaction(SIGUSR1, nullptr, &act);
  EXPECT_FALSE(act.sa_flags & SA_SIGINFO);
  EXPECT_TRUE(sigismember(&act.sa_mask, SIGUSR2));
  EXPECT_TRUE(sigismember(&act.sa_mask, SIGHUP));
  raise(SIGUSR1);
  EXPECT_EQ(hits, 11);

  EXPECT_EQ(IPC::Signal::ignore(SIGUSR1), 0);
  raise(SIGUSR1);
  EXPECT_EQ(hits, 11);
  EXPECT_EQ(IPC::Signal::system(SIGUSR1), 0);
  sigaction(SIGUSR1, nullptr, &act);
  EXPECT_EQ(act.sa_handler, SIG_DFL);
  EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGTERM));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(1000));
}

}  // namespace
