#include "app/Process.h"

#include "app/Services.h"
#include "app/Version.h"
#include "config/IniFile.h"
#include "log/Daemon.h"
#include "log/MuxDump.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Multiplexer.h"
#include "runtime/Net.h"
#include "runtime/Root.h"
#include "runtime/Signal.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <fstream>
#include <iostream>

const char* const configFile = "/usr/local/etc/server.conf";
const char* const cfgTraces = "traces";

// The description column starts at the 36th character of each option line.
const char* const sUsageText =
    "Usage:\n"
    " quorvad -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n";

int print_version = 0;

// Only "-D" and "-h" exist as short options ("Dh").
const struct option long_options[] = {
    {"daemon", no_argument, nullptr, 'D'},
    {"disable-clock", no_argument, nullptr, 10},
    {"port", required_argument, nullptr, 'p'},
    {"version", no_argument, &print_version, 1},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;

namespace {

// The loop's wake-up: a pipe whose read end the loop polls. A handler
// writes one byte after raising its flag; without it a signal arriving
// between the loop's last deferred-call run and its poll() would wait for
// the next unrelated event (up to a second with the watchdog, for ever
// without it).
volatile std::sig_atomic_t g_wake_fd = -1;

class SignalWake {
public:
  SignalWake() {
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) {
      Errno e;
      std::cerr << "signal wake-up pipe failed: " << e << std::endl;
      return;
    }
    write_end_ = Fd(p[1]);
    event_.Bind("SignalWake::OnWake", &SignalWake::OnWake, this);
    event_.Schedule(Fd(p[0]), POLLIN);
    g_wake_fd = write_end_.lowlevel_fd();
  }
  ~SignalWake() {
    g_wake_fd = -1;
    event_.Release();
  }
  SignalWake(const SignalWake&) = delete;
  SignalWake& operator=(const SignalWake&) = delete;

  void OnWake(int fd, short revents) {
    if (!(revents & POLLIN)) return;
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
  }

private:
  Event event_;
  Fd write_end_;
};

void wake() {
  const int fd = g_wake_fd;
  if (fd < 0) return;
  const int saved = errno;
  // A full pipe already wakes the loop: a failed write loses nothing.
  ssize_t r = ::write(fd, "", 1);
  (void)r;
  errno = saved;
}

}  // namespace

void SigPipeHandler(int, siginfo_t*, void*) {}

void SigTermHandler(int, siginfo_t*, void*) {
  multiplexer.terminate();
  wake();
}

void SigUsr2Handler(int, siginfo_t*, void*) {
  doDumpStatus = 1;
  wake();
}

void SigHupHandler(int, siginfo_t*, void*) {
  updateResources = 1;
  wake();
}

void InstallSignalHandlers() {
  static SignalWake signalWake;
  const IPC::Signal::Set empty;
  IPC::Signal::handle(SIGPIPE, &SigPipeHandler, empty, SA_RESTART);
  IPC::Signal::handle(SIGTERM, &SigTermHandler, empty, 0);
  IPC::Signal::handle(SIGINT, &SigTermHandler, empty, 0);
  IPC::Signal::handle(SIGUSR2, &SigUsr2Handler, empty, SA_RESTART);
  IPC::Signal::handle(SIGHUP, &SigHupHandler, empty, SA_RESTART);
}

void CheckSignals() {
  CheckDumpStatus();
  CheckUpdateResources();
}

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  // Cleared first: a signal arriving while the file is written asks for
  // the next dump.
  doDumpStatus = 0;
  std::ofstream out(Root::path("/var/log/server-status"), std::ios::out | std::ios::trunc);
  if (!out.is_open()) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  out << "server status information. pid=" << ::getpid() << ", time ";
  timestamp(out);
  out << std::endl;
  out << "version : " << Version::current.tag() << std::endl;
  DumpMultiplexer(out, multiplexer);
}

void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = 0;
  std::clog << "update hardware resources" << std::endl;
  Services::UpdateHardwareResources();
}

bool OpenConfiguration(IniFile::File& config, const std::string& path) {
  return config.Open(path);
}

void RunDaemon() {
  Daemon::Params params;
  params.name = "qvd-" + Version::current.tag();
  Daemon::Init(params);
}

void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    Errno e;
    std::clog << "descriptor limit unknown: " << e << std::endl;
    return;
  }
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) {
      Errno e;
      std::clog << "descriptor limit " << limit.rlim_cur << " (raising it to " << limit.rlim_max
                << " failed: " << e << ")" << std::endl;
      return;
    }
    limit = raised;
  }
  std::clog << "descriptor limit " << limit.rlim_cur << std::endl;
}
