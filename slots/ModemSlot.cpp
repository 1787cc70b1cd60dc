#include "slots/ModemSlot.h"

#include <sched.h>
#include <signal.h>

#include <cerrno>
#include <iostream>

#include "log/Ext.h"
#include "protocol/LGCP/LGCP.h"
#include "slots/ChildProgram.h"
#include "slots/DspModemSlot.h"
#include "slots/HdlcModemSlot.h"

namespace {

const char* const kPppd = "/usr/local/sbin/pppd";
// The argument vector holds at most 64 entries with its terminating null.
constexpr size_t kMaxExecArgs = 62;

}  // namespace

ModemSlot::ModemSlot(const TERM::ModemParams& params) : params_(params) {
  child_.Bind(this, &ModemSlot::on_terminate);
}

ModemSlot::~ModemSlot() {
  // Deleted without its release completing (the controller left): the
  // child must not outlive the slot.
  pppd_kill();
  terminate_.reset();
  child_.Detach();
}

ModemFactory& ModemSlot::GetModemFactory() const { return ModemFactory::instance(); }

void ModemSlot::PutHeader(std::ostream& os) const {
  Put(os);
  os << ": ";
}

void ModemSlot::unbindOnce() {
  if (unbound_) return;
  unbound_ = true;
  unbind();
}

void ModemSlot::pppd_exec(const char* device, const char* options) {
  if (pid_ != -1) return;
  ChildProgram p;
  p.argv.push_back(params_.execfile_isPresent() ? std::string(params_.get_execfile()) : kPppd);
  if (params_.execargs_isPresent()) {
    for (const auto& a : params_.get_execargs()) {
      if (p.argv.size() > kMaxExecArgs) break;
      p.argv.push_back(a);
    }
  } else {
    p.argv.insert(p.argv.end(), {"file", options, device});
    if (!params_.get_cid().empty()) p.argv.insert(p.argv.end(), {"remotenumber", params_.get_cid()});
  }
  if (!runChild(p)) return;
  std::clog << ext::header(this) << "pppd executed" << " cid=" << ext::quoted(params_.get_cid().c_str())
            << " pid=" << pid_ << std::endl;
}

int ModemSlot::forkChild(const ChildProgram& p) {
  const int pid = p.start();
  if (pid < 0) {
    const int err = errno;
    std::cerr << ext::header(this) << "vfork fail: " << Errno(err) << std::endl;
    OnAbort(err);
  }
  return pid;
}

bool ModemSlot::runChild(const ChildProgram& p) {
  const int pid = forkChild(p);
  if (pid < 0) return false;
  pid_ = pid;
  killSent_ = false;
  child_.Attach(pid);
  return true;
}

void ModemSlot::pppd_kill() {
  // A child that ended, its end not yet reported, is left to its report.
  if (pid_ == -1 || killSent_ || !signalRunningChild(pid_, SIGKILL)) return;
  killSent_ = true;
  std::cerr << ext::header(this) << "pppd isn't terminated, killing ..." << std::endl;
  sched_yield();
}

bool ModemSlot::IBeforeDestroy() {
  if (pid_ != -1) {
    // One that has ended, its end not reported yet, gets no hang-up: the
    // report completes the release.
    if (signalRunningChild(pid_, SIGHUP)) std::cerr << ext::header(this) << "sent HUP to pppd." << std::endl;
    terminate_.set(kTerminateTimeoutMs, &ModemSlot::on_terminate_timeout, this);
    return false;
  }
  unbindOnce();
  return true;
}

void ModemSlot::on_terminate(int status) {
  std::clog << ext::header(this) << "pppd terminated with code " << status << std::endl;
  pid_ = -1;
  childEnded(status);
}

void ModemSlot::childEnded(int status) {
  if (is_releasing()) {
    terminate_.reset();
    unbindOnce();
    on_release();
    return;
  }
  OnAbort(status);
}

void ModemSlot::on_terminate_timeout(Timer*) {
  std::cerr << ext::header(this) << "pppd terminate timeout!" << std::endl;
  pppd_kill();
  // The release completes when the killed child's end is reported, so that
  // what it worked is free by then; of that end nothing else is reported.
  child_.Bind(this, &ModemSlot::on_killed);
}

void ModemSlot::on_killed(int status) {
  pid_ = -1;
  childEnded(status);
}

bool ModemSlot::IActivate(const TERM::TermActivateParams& params) {
  if (!params.modem_isSelected()) {
    std::cerr << ext::header(this) << "modem's activation requests parameter." << std::endl;
    return false;
  }
  // Without a session there is no plug-in to tell (and the digital
  // modems' must not hear of this slot's user).
  if (!hasSession()) return true;
  ModemFactory& f = GetModemFactory();
  f.SendAuth(Auth::accept(modem_id()), this);
  f.SendAuth(Auth::ip(modem_id(), params.get_modem()), this);
  return true;
}

void ModemSlot::OnAuth(const Auth::Record& r) {
  switch (r.type()) {
    case Auth::Request:
      if (r.length == Auth::kRequestSize)
        OnAuthRequest(r);
      else
        std::cerr << ext::header(this) << "auth request, invalid size: " << r.length << std::endl;
      return;
    case Auth::Accept:
      std::cerr << ext::header(this) << "auth accept, ignored." << std::endl;
      return;
    case Auth::Ip:
      std::cerr << ext::header(this) << "auth ip, ignored." << std::endl;
      return;
    case Auth::Accounting:
      if (r.length == Auth::kAccountingSize)
        OnAcctInformation(r);
      else
        std::cerr << ext::header(this) << "auth accounting, invalid size: " << r.length << std::endl;
      return;
    default:
      std::cerr << ext::header(this) << "unknown request from portslave: 0x" << std::hex << r.type() << std::dec
                << std::endl;
  }
}

void ModemSlot::OnAuthRequest(const Auth::Record& r) {
  TERM::ModemProceeding p;
  TERM::MdmRequestUserAuth& auth = p.select_auth();
  auth.set_username(Auth::text(r, Auth::kUserAt));
  auth.set_password(Auth::text(r, Auth::kPasswordAt));
  OnModem(p);
}

void ModemSlot::OnAcctInformation(const Auth::Record& r) {
  TERM::ModemProceeding p;
  Auth::accounting(r, p.select_acct());
  OnModem(p);
}
