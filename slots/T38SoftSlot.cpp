#include "slots/T38SoftSlot.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/MccRequests.h"
#include "log/Ext.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "runtime/Clock.h"
#include "runtime/Multiplexer.h"
#include "slots/ChildProgram.h"

namespace {

const char* const kT38 = "/usr/local/sbin/t38";
// The child's exit code when the program cannot be started (237 to the
// parent).
constexpr int kExecFailCode = 1005;
constexpr size_t kLineMax = 31;

}  // namespace

// ---------------------------------------------------------------- slot

T38SoftSlot::T38SoftSlot(int pid, int channel) : pid_(pid), channel_(channel) {
  child_.Bind(this, &T38SoftSlot::OnT38Terminate);
  child_.Attach(pid);
}

void T38SoftSlot::PutHeader(std::ostream& os) const {
  Put(os);
  os << ": ";
}

void T38SoftSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
  // One that has ended is left alone: its pid may be another's by now.
  if (pid_ >= 1) signalRunningChild(pid_, SIGTERM);
  return true;
}

void T38SoftSlot::OnT38Terminate(int status) {
  if (WIFEXITED(status))
    std::clog << ext::header(this) << "t38 daemon terminated with code=" << WEXITSTATUS(status) << std::endl;
  else if (WIFSIGNALED(status))
    std::clog << ext::header(this) << "t38 daemon terminated by signal=" << WTERMSIG(status) << std::endl;
  pid_ = -1;
  OnAbort(status);
}

// ---------------------------------------------------------------- factory

T38SoftFactory& T38SoftFactory::instance() {
  static T38SoftFactory* self = new T38SoftFactory;  // lives as long as the process
  return *self;
}

T38SoftFactory::T38SoftFactory() { query_.Bind(this, &T38SoftFactory::onQueryEnd); }

Slot* T38SoftFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.t38soft_isSelected()) return nullptr;
  const LGCP::T38Soft& p = params.get_t38soft();
  Fd fd(Device::open("/dev/mcc/ctl", O_RDWR | O_CLOEXEC));
  if (!fd.is_valid()) {
    std::cerr << "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [" << errno << "]" << std::endl;
    return nullptr;
  }
  if (MccAllocate(fd.lowlevel_fd(), mccTransparent, uint32_t(p.get_rx_packet_size().getValue()),
                  uint32_t(p.get_rx_threshold().getValue()), uint32_t(p.get_tx_threshold().getValue())) < 0) {
    std::cerr << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [" << errno << "]" << std::endl;
    return nullptr;
  }
  const int channel = Device::requestValue(fd.lowlevel_fd(), MccRequest::kTimeslot, 0);
  if (channel < 0) {
    // The descriptor closes with fd, and with it the channel goes back.
    std::cerr << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [" << errno << "]" << std::endl;
    return nullptr;
  }
  ChildProgram child;
  child.argv = {kT38, "--child", "--remote",
                std::string(p.get_dhost().get_iaddr()) + "/" + std::to_string(p.get_dhost().get_port().getValue()) +
                    "/" + std::to_string(p.get_shost().get_port().getValue())};
  for (const auto& a : p.get_args()) {
    if (child.argv.size() >= kMaxArgs) break;
    child.argv.push_back(a);
  }
  std::clog << ext::header(this) << "args for run t38 daemon:" << std::endl;
  for (size_t i = 0; i < child.argv.size(); ++i)
    std::clog << ext::header(this) << "arg[" << i << "]=" << child.argv[i] << std::endl;
  child.stdinFd = fd.lowlevel_fd();
  child.failCode = kExecFailCode;
  const int pid = child.start();
  if (pid < 0) return nullptr;
  std::clog << ext::header(this) << "t38 daemon[" << pid << "] successfully started" << std::endl;
  return new T38SoftSlot(pid, channel);
}

void T38SoftFactory::Query(LGCP::Resources& r) { r.set_t38_instances(static_cast<int>(QueryNumOfInstances())); }

unsigned T38SoftFactory::QueryNumOfInstances() {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) < 0) {
    std::clog << "t38 daemon not found!" << std::endl;
    return 0;
  }
  Fd readEnd(out[0]);
  Fd writeEnd(out[1]);
  // The child's exit comes through the reaper like every other; the query
  // needs only its first line, not its status.
  ChildProgram child;
  child.argv = {kT38, "--num-of-instances"};
  child.stdoutFd = writeEnd.lowlevel_fd();
  const int pid = child.start();
  writeEnd.close();
  if (pid < 0) {
    std::clog << "t38 daemon not found!" << std::endl;
    return 0;
  }
  query_.Attach(pid);
  std::string line;
  if (!readFirstLine(readEnd.lowlevel_fd(), pid, line)) {
    std::clog << "t38: can't detect T38 resources" << std::endl;
    return 0;
  }
  return static_cast<unsigned>(std::strtoul(line.c_str(), nullptr, 10));
}

bool T38SoftFactory::readFirstLine(int fd, int pid, std::string& line) {
  const unsigned start = Mux::milliseconds();
  bool got = false;
  for (;;) {
    const int left = kQueryTimeoutMs - static_cast<int>(Mux::milliseconds() - start);
    if (left <= 0) {
      // It hangs: the loop has waited long enough. Its end is reaped later.
      std::cerr << ext::header(this) << "t38 daemon did not answer in " << kQueryTimeoutMs << " ms" << std::endl;
      signalRunningChild(pid, SIGKILL);
      return false;
    }
    pollfd p{fd, POLLIN, 0};
    const int r = Mux::loop_poll(&p, 1, left);
    multiplexer.resetWD();
    if (r < 0 && errno != EINTR) return got;
    if (r <= 0) continue;
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return got;
    got = true;
    if (c == '\n') return true;
    if (line.size() < kLineMax) line.push_back(c);
  }
}
