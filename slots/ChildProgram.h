#pragma once
// Starting the board's helper programs (pppd, the fax programs, the T.38
// daemon) as child processes. The argument vector is built before the
// fork, so the child only makes async-signal-safe calls: it puts back the
// signal mask and the dispositions a new program expects (the daemon's
// SIGHUP and SIGPIPE handling must not leak into it: a pppd that inherits
// an ignored SIGHUP could never be asked to hang up), moves a descriptor
// onto its standard input when asked, and executes the program found under
// the root, with the argument strings exactly as given (argv[0] included).
// Every signal stays blocked from before the fork until the child has put
// its dispositions back, so one sent meanwhile reaches the program.
// Its exit reaches the owner through a ChildWait.
#include <string>
#include <vector>

struct ChildProgram {
  // argv[0] is the program's fixed path.
  std::vector<std::string> argv;
  // Becomes the child's descriptor 0; -1 keeps what the daemon has.
  int stdinFd = -1;
  // Becomes the child's descriptor 1; -1 keeps what the daemon has.
  int stdoutFd = -1;
  // Seconds the child waits before it starts the program.
  unsigned delaySeconds = 0;
  // Lines the child writes to its standard output before the program
  // starts and when it cannot be started ("" for none).
  std::string startText;
  std::string failText;
  // The child's exit code when the program cannot be started.
  int failCode = 2;

  // The child's pid, or -1 with errno when the fork failed.
  int start() const;
};

// Sends sig to the child pid when it still runs, and says whether it did.
// A child that has ended is never signalled: once reaped, its pid may name
// another process by now. SIGCHLD is held back meanwhile, so the reaper
// cannot take the child between the look and the signal; its exit status
// stays for the reaper.
bool signalRunningChild(int pid, int sig);
