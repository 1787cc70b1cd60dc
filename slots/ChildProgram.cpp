#include "slots/ChildProgram.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "runtime/Root.h"


int ChildProgram::start() const {
  const std::string file = Root::path(argv.at(0));
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string start = startText.empty() ? std::string() : startText + "\n";
  const std::string fail = failText.empty() ? std::string() : failText + "\n";

  // Until the child has put back its own dispositions, a signal sent to it
  // would run the daemon's handler in the child and be lost: it waits,
  // blocked, for the program that the child becomes.
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  const int pid = ::fork();
  if (pid != 0) {
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);  // leaves errno alone
    return pid;
  }

  // The child: only async-signal-safe calls from here on.
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    ::signal(sig, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (stdinFd == STDIN_FILENO) {
    ::fcntl(STDIN_FILENO, F_SETFD, 0);
  } else if (stdinFd >= 0) {
    ::dup2(stdinFd, STDIN_FILENO);  // dup2 leaves close-on-exec off
  }
  if (stdoutFd >= 0 && stdoutFd != STDOUT_FILENO) ::dup2(stdoutFd, STDOUT_FILENO);
  if (delaySeconds) ::sleep(delaySeconds);
  if (!start.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, start.data(), start.size());
    (void)n;
  }
  ::execv(file.c_str(), args.data());
  if (!fail.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, fail.data(), fail.size());
    (void)n;
  }
  ::_exit(failCode);
}

bool signalRunningChild(int pid, int sig) {
  if (pid <= 0) return false;
  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  ::pthread_sigmask(SIG_BLOCK, &chld, &old);
  // A look only (WNOWAIT): none is a child that runs; an ended one not yet
  // reaped is found, and one reaped already is no child any more.
  siginfo_t info;
  info.si_pid = 0;
  const bool runs =
      ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
  if (runs) ::kill(pid, sig);
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return runs;
}
