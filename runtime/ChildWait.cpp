#include "runtime/ChildWait.h"

#include "runtime/Signal.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

int ChildWait::UsageCounter = 0;
ChildWaitService* ChildWaitService::childWaitService = nullptr;

namespace {
// Shared with the signal handler: plain words only.
volatile std::sig_atomic_t g_write_fd = -1;
// Set when the socket queue was full: the handler holds one reaped record
// and reaps no more until the loop has taken it.
volatile std::sig_atomic_t g_stalled = 0;
volatile std::sig_atomic_t g_held_pid = 0;
volatile std::sig_atomic_t g_held_status = 0;

struct ExitRecord {
  std::int32_t pid;
  std::int32_t status;
};
static_assert(sizeof(ExitRecord) == 8, "record layout");

// Reaps while the queue takes the records. Runs in the signal handler, or
// in the loop with SIGCHLD blocked; only async-signal-safe calls.
void reap() {
  if (g_stalled) return;
  const int fd = g_write_fd;
  if (fd < 0) return;
  for (;;) {
    int status = 0;
    pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) return;
    ExitRecord rec{static_cast<std::int32_t>(pid), static_cast<std::int32_t>(status)};
    ssize_t n;
    do {
      n = ::send(fd, &rec, sizeof rec, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof rec)) {
      g_held_pid = rec.pid;
      g_held_status = rec.status;
      g_stalled = 1;
      return;
    }
  }
}

class BlockChld {
public:
  BlockChld() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGCHLD);
    sigprocmask(SIG_BLOCK, &s, &old_);
  }
  ~BlockChld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
  sigset_t old_;
};
}  // namespace

// ---------------------------------------------------------------- ChildWait

ChildWait::ChildWait() : handler_(new (storage_) DummyHandler) {}

ChildWait::~ChildWait() {
  handler_->~Handler();
  Detach();
}

void ChildWait::Attach(int pid) {
  pid_ = pid;
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Attach(this);
}

void ChildWait::Detach() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Detach(this);
}

void ChildWait::Initialize() { ChildWaitService::childWaitService = new ChildWaitService; }

void ChildWait::Cleanup() {
  // Clear the pointer first: a SIGCHLD during the teardown finds nothing.
  ChildWaitService* s = ChildWaitService::childWaitService;
  ChildWaitService::childWaitService = nullptr;
  delete s;
}

void ChildWait::Activate() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Activate();
}

ChildWait::Init::Init() {
  if (++UsageCounter == 1) Initialize();
}

ChildWait::Init::~Init() {
  if (--UsageCounter == 0) Cleanup();
}

// ---------------------------------------------------------------- service

ChildWaitService::ChildWaitService() = default;

ChildWaitService::~ChildWaitService() {
  g_write_fd = -1;
  if (handler_installed_) IPC::Signal::system(SIGCHLD);
  event_.Release();
  write_end_.close();
}

void ChildWaitService::Activate() {
  if (is_active()) return;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) != 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
    return;
  }
  write_end_ = Fd(sv[0]);
  event_.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
  Fd read_end(sv[1]);
  read_end.NonBlock();
  event_.Schedule(read_end, POLLIN);
  read_end.close();
  g_stalled = 0;
  g_write_fd = write_end_.lowlevel_fd();
  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, IPC::Signal::Set(), SA_RESTART);
  handler_installed_ = true;
  // Children that ended before the handler was in place.
  BlockChld guard;
  reap();
}

void ChildWaitService::Attach(ChildWait* w) {
  if (w->linked_) waiters_.remove(w);
  waiters_.insert_to_tail(w);
  w->linked_ = true;
}

void ChildWaitService::Detach(ChildWait* w) {
  if (!w->linked_) return;
  waiters_.remove(w);
  w->linked_ = false;
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*) {
  if (childWaitService) SigChldHandler();
}

void ChildWaitService::SigChldHandler() {
  // The interrupted code must find errno as it left it (the loop reads it
  // after a failed poll()).
  const int saved = errno;
  reap();
  errno = saved;
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  ExitRecord rec;
  while (::recv(fd, &rec, sizeof rec, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof rec)) dispatch(rec.pid, rec.status);

  if (!g_stalled) return;
  // The handler held a record because the queue was full; the queue is
  // empty now: take the record and resume the reaping.
  int pid;
  int status;
  {
    BlockChld guard;
    pid = g_held_pid;
    status = g_held_status;
    g_stalled = 0;
    reap();
  }
  ++stalls_;
  dispatch(pid, status);
}

void ChildWaitService::dispatch(int pid, int status) {
  std::clog << "terminate child process, pid=" << pid << " status=" << status << std::endl;
  for (ChildWait* w : waiters_) {
    if (w->pid_ != pid) continue;
    Detach(w);
    w->handler_->Invoke(*w, status);
    return;
  }
}
