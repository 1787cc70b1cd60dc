#include "runtime/Signal.h"

#include <cstring>

namespace IPC {
namespace Signal {

bool Set::is_signal(int sig) {
  sigset_t s;
  sigemptyset(&s);
  return sigismember(&s, sig) != -1;
}

namespace {
int install(int sig, void (*plain)(int), Handler3 info, const Set& mask, int flags) {
  struct sigaction act;
  std::memset(&act, 0, sizeof act);
  if (info)
    act.sa_sigaction = info;
  else
    act.sa_handler = plain;
  mask.copy_to(act.sa_mask);
  act.sa_flags = flags & ~SA_SIGINFO;
  return sigaction(sig, &act, nullptr);
}
}  // namespace

int handle(int sig, Handler1 handler, const Set& mask, int flags) {
  return install(sig, handler, nullptr, mask, flags);
}

int handle(int sig, Handler3 handler, const Set& mask, int flags) {
  return install(sig, nullptr, handler, mask, flags);
}

int handle(int sig, Handler1 handler, int flags) { return handle(sig, handler, Set(), flags); }

int handle(int sig, Handler3 handler, int flags) { return handle(sig, handler, Set(), flags); }

int ignore(int sig) { return install(sig, SIG_IGN, nullptr, Set(), 0); }

int system(int sig) { return install(sig, SIG_DFL, nullptr, Set(), 0); }

namespace {
// What siginterrupt() does, without its deprecation.
int set_restart(int sig, bool restart) {
  struct sigaction act;
  if (sigaction(sig, nullptr, &act) != 0) return -1;
  if (restart)
    act.sa_flags |= SA_RESTART;
  else
    act.sa_flags &= ~SA_RESTART;
  return sigaction(sig, &act, nullptr);
}
}  // namespace

int disable_int(int sig) { return set_restart(sig, true); }

int enable_int(int sig) { return set_restart(sig, false); }

}  // namespace Signal
}  // namespace IPC
