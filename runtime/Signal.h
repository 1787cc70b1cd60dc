#pragma once
// Installation of signal handlers. SA_SIGINFO is always removed: a
// three-argument handler is installed as a plain one and must not use its
// second and third arguments.
#include <csignal>

namespace IPC {
namespace Signal {

class Set {
public:
  Set() { sigemptyset(&set_); }
  Set(int a, int b) : Set() {
    add(a);
    add(b);
  }
  Set(int a, int b, int c) : Set(a, b) { add(c); }
  void add(int sig) { sigaddset(&set_, sig); }
  void copy_to(sigset_t& out) const { out = set_; }
  static bool is_signal(int sig);

private:
  sigset_t set_;
};

using Handler1 = void (*)(int);
using Handler3 = void (*)(int, siginfo_t*, void*);

int handle(int sig, Handler1 handler, const Set& mask, int flags);
int handle(int sig, Handler3 handler, const Set& mask, int flags);
int handle(int sig, Handler1 handler, int flags);
int handle(int sig, Handler3 handler, int flags);
int ignore(int sig);
int system(int sig);
int disable_int(int sig);
int enable_int(int sig);

}  // namespace Signal
}  // namespace IPC
