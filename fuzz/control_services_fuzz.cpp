// libFuzzer target: the daemon's control services as start-up assembles
// them, on the stand-in board under a private root, with a controller on a
// socket pair. The input is a series of records, each handed over in turn:
//
//   - a length octet n (0-254) and n octets: one message from the
//     controller, given to the control server as the link gives it;
//   - an octet 255 and an octet k: the loop's clock moves k * k * 4 ms
//     (up to 260 s: timers, keep-alives, the heartbeat's timeout) and the
//     loop makes one pass. Messages alone run no pass: every pass pays for
//     the switch's refresh, so the input says where they go, and only its
//     first kMaxPasses such records count.
//
// At the end the controller goes away, as a departure does: every slot must
// be gone, and the daemon must hold no more descriptors than after the
// first input (plus what it opens once, on first use). The loop runs on a
// manual test clock, so timers fire only where the input moves it. Child
// programs are looked for under the private root, which holds none: they
// fail at once and leave nothing.
//
// The board is a full one: beside what the stand-in has by default, three
// mixer units, which the daemon learns before the first input as it does
// on a resources update, and all sixteen echo buses.
//
// The process moves into a network namespace of its own when it can, so
// that the auth bridge's fixed port and the RTP ports a controller names
// stay the machine's; where it cannot, a line says so, and the bridge takes
// the machine's port if it is free (or retries, as the daemon does).
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>

#include "app/Services.h"
#include "config/IniFile.h"
#include "board/Mixer.h"
#include "board/StandIn.h"
#include "control/CtrlSrv.h"
#include "control/Service.h"
#include "hardware/Device.h"
#include "runtime/ChildWait.h"
#include "runtime/Multiplexer.h"
#include "runtime/Root.h"
#include "runtime/TestClock.h"
#include "slots/EchoSlot.h"
#include "slots/Mixer.h"
#include "slots/Slots.h"

namespace {

// The controller's side of the link: a fresh socket pair per controller,
// whose far end the target holds, reads empty and closes to leave.
class Link : public Control::ServiceNet {
 public:
  Link() { verbose(false); }

  bool arrive() {
    int s[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, s) != 0) return false;
    controller_ = Fd(s[1]);
    Connected(Fd(s[0]), INet4::Addr(std::string("127.0.0.1:1")));
    return IsConnected();
  }
  // Shut down, not only closed: a child the daemon has just forked holds a
  // copy of this end until its exec, and the daemon must see the departure
  // now.
  void leave() {
    if (controller_.is_valid()) ::shutdown(controller_.lowlevel_fd(), SHUT_RDWR);
    controller_.close();
  }
  // What the daemon sent is of no interest; it must not fill the socket.
  void drain() {
    char buf[4096];
    while (controller_.is_valid() && ::read(controller_.lowlevel_fd(), buf, sizeof buf) > 0) {
    }
  }

 protected:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override { controller_.close(); }
  void ImplOnDisconnect() override {}

 private:
  Fd controller_;
};

struct NullBuf : std::streambuf {
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The private root is /tmp/qvfuzz-<pid>-XXXXXX, removed at exit; a run
// that ended by a finding or a signal leaves its root, which the next run
// removes once its process is gone.
const char kRootPrefix[] = "qvfuzz-";
std::string root;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }
void removeTree(const std::string& dir) { ::nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }
void removeRoot() {
  if (!root.empty()) removeTree(root);
}

void removeStaleRoots() {
  DIR* d = ::opendir("/tmp");
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, kRootPrefix, sizeof kRootPrefix - 1) != 0) continue;
    const long pid = std::strtol(e->d_name + sizeof kRootPrefix - 1, nullptr, 10);
    if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH) removeTree(std::string("/tmp/") + e->d_name);
  }
  ::closedir(d);
}

bool privateNetwork() {
  if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
  // Loopback up, so that RTP and RTCP to 127.0.0.1 go somewhere.
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s >= 0) {
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(s, SIOCGIFFLAGS, &ifr) == 0) {
      ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
      ::ioctl(s, SIOCSIFFLAGS, &ifr);
    }
    ::close(s);
  }
  return true;
}

// A process named as the controller program, as on a board whose controller
// runs beside the daemon: the monitoring looks for it at every departure,
// and finds it at once instead of reading every process of the machine.
// It ends with the target.
void controllerProgram() {
  const pid_t parent = ::getpid();
  if (::fork() != 0) return;
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(0);
  ::prctl(PR_SET_NAME, "controller");
  for (;;) ::pause();
}

unsigned openDescriptors() {
  unsigned n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

// The monitoring's interface check opens a packet socket at every power
// check, and each close waits for the kernel's grace period (some 15 ms):
// at the target's pace of virtual time that would be most of its time.
// Without raw sockets the monitoring finds no interface to check.
void withoutRawSockets() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective &= ~(1u << CAP_NET_RAW);
  data[0].permitted &= ~(1u << CAP_NET_RAW);
  ::syscall(SYS_capset, &header, data);
}

// The echo factory start-up makes finds no bus, as nothing tells that one
// is there; this one stands for a board whose buses were all found. Made
// before start-up's factories, it comes after them in the list, and gets
// the echo creates that the first one refuses.
struct EveryEchoBus : EchoFactory {
  EveryEchoBus() {
    for (bool& p : present_) p = true;
  }
};

// Units 1 to 3, each of 32 TDM channels and 32 mixer inputs; unit 1 takes
// the first block of switch channels (20480 up).
void fullBoard() {
  auto& mixer = static_cast<Board::Mixer&>(*Board::StandIn::instance().model("mixer"));
  for (int32_t unit = 1; unit <= 3; ++unit) mixer.setUnit(unit, 32, 32);
  new EveryEchoBus;
}

constexpr unsigned kMaxPasses = 8;
// Descriptors a daemon may open once and keep (devices, caches) beyond
// those it held after the first input.
constexpr unsigned kOpenedOnce = 32;
unsigned descriptorsAfterFirst = 0;

Mux::TestClock* clock_ = nullptr;
Link* link_ = nullptr;

// One pass of the loop: what a command left for later (deferred calls,
// timers now due, descriptors ready) runs.
void settle() {
  multiplexer.run_once();
  link_->drain();
}

void setUp() {
  removeStaleRoots();
  std::string tmpl = std::string("/tmp/") + kRootPrefix + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(&tmpl[0])) std::abort();
  root = tmpl;
  std::atexit(removeRoot);
  if (!privateNetwork())
    std::cerr << "fuzz_control_services: no network namespace of its own; its ports are the machine's"
              << std::endl;
  ::setenv("QUORVAD_ROOT", root.c_str(), 1);
  ::setenv("QUORVAD_BOARD", "standin", 1);
  Root::reload();
  Device::reload();
  ::signal(SIGPIPE, SIG_IGN);
  controllerProgram();
  withoutRawSockets();

  static NullBuf null;
  if (!std::getenv("QUORVAD_FUZZ_LOG")) {
    std::cout.rdbuf(&null);
    std::clog.rdbuf(&null);
    std::cerr.rdbuf(&null);
  }

  clock_ = new Mux::TestClock(Mux::TestClock::Manual);
  fullBoard();
  Services::CreateFactories();
  Services::CreateHardware();
  static IniFile::File config;
  Services::CreateMonitoring(config);
  Services::BindControl();
  // The mixer units, found as a resources update finds them, so that a
  // mixer create needs no query before it.
  Mixer::MixerFactory::instance().RefreshResources();
  ChildWait::Activate();
  link_ = new Link;
  if (!ctrlServer.Activate(link_)) std::abort();
}

// A controller comes (again, after the heartbeat's timeout).
void arrive() {
  if (link_->IsConnected()) return;
  settle();
  if (!link_->arrive()) std::abort();
}

}  // namespace

// The daemon forks for child programs (a resource query starts one), and a
// fork copies the page tables of all the process has touched: a quarantine
// of freed memory smaller than the default keeps that cheap.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  arrive();
  std::size_t pos = 0;
  unsigned passes = 0;
  while (pos < size) {
    unsigned n = data[pos++];
    if (n == 255) {
      const unsigned k = pos < size ? data[pos++] : 0;
      if (passes++ < kMaxPasses) {
        clock_->advance(k * k * 4);
        settle();
      }
      continue;
    }
    if (n > size - pos) n = unsigned(size - pos);
    arrive();
    ctrlServer.OnMessage(reinterpret_cast<const char*>(data + pos), int(n));
    pos += n;
    link_->drain();
  }

  // The controller leaves: the link sees the socket close, and the
  // departure destroys every slot.
  link_->leave();
  for (int i = 0; i < 50 && link_->GetState() != Control::Service::State::Connecting; ++i) multiplexer.run_once();
  if (link_->GetState() != Control::Service::State::Connecting) std::abort();
  if (!Slots::instance().live().empty()) std::abort();
  const unsigned held = openDescriptors();
  if (descriptorsAfterFirst == 0) descriptorsAfterFirst = held;
  if (held > descriptorsAfterFirst + kOpenedOnce) {
    std::fprintf(stderr, "fuzz_control_services: %u descriptors open, %u after the first input\n", held,
                 descriptorsAfterFirst);
    std::abort();
  }
  // What only a test reads: the board's request log and the loop's waits.
  Board::StandIn::instance().clearLog();
  clock_->clear_waits();
  return 0;
}
