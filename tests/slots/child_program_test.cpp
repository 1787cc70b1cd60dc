// Starting a child program: a signal sent to the child at once, before it
// has put back its own dispositions, must reach the program it becomes and
// not the daemon's handlers that the fork copied. A binary of its own: it
// waits for its children synchronously, so nothing else may reap them.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "slots/ChildProgram.h"

namespace {

volatile sig_atomic_t taken = 0;
void handler(int) { taken = 1; }

// Starts `count` sleeping children, signals each as soon as it exists and
// counts those that the signal ended.
int endedBy(int sig, int count) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  struct sigaction old;
  sigaction(sig, &sa, &old);

  ChildProgram p;
  p.argv = {"/bin/sleep", "3"};
  std::vector<int> pids;
  for (int i = 0; i < count; ++i) {
    const int pid = p.start();
    if (pid < 0) break;
    ::kill(pid, sig);
    pids.push_back(pid);
  }
  int ended = 0;
  for (int pid : pids) {
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == sig) ++ended;
  }
  sigaction(sig, &old, nullptr);
  return ended;
}

TEST(ChildProgram, ASignalSentRightAfterTheForkEndsTheProgram) {
  EXPECT_EQ(endedBy(SIGTERM, 40), 40);
  EXPECT_EQ(endedBy(SIGHUP, 40), 40);
  // The parent's own mask is as it was: the daemon still hears its signals.
  sigset_t now;
  sigprocmask(SIG_SETMASK, nullptr, &now);
  EXPECT_FALSE(sigismember(&now, SIGTERM));
  EXPECT_FALSE(sigismember(&now, SIGHUP));
  EXPECT_EQ(taken, 0);
}

// A running child gets the signal; one that has ended does not, whether
// its status still waits for the reaper (which keeps it) or it was reaped
// and its pid is free for another process.
TEST(ChildProgram, OnlyAChildThatStillRunsIsSignalled) {
  ChildProgram p;
  p.argv = {"/bin/sleep", "30"};
  const int running = p.start();
  ASSERT_GT(running, 0);
  EXPECT_TRUE(signalRunningChild(running, SIGTERM));
  int status = 0;
  ASSERT_EQ(::waitpid(running, &status, 0), running);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_FALSE(signalRunningChild(running, SIGKILL));

  p.argv = {"/bin/sh", "-c", "exit 3"};
  const int ended = p.start();
  ASSERT_GT(ended, 0);
  siginfo_t info;
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(ended), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(signalRunningChild(ended, SIGKILL));
  ASSERT_EQ(::waitpid(ended, &status, 0), ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
}

}  // namespace
