#pragma once
// Modem slots: PPP data and fax calls that the board terminates. A modem
// slot runs pppd (or a fax program) as its child and supervises it: the
// child's end is an abort signal with the raw wait status; a destroy asks
// it to hang up (SIGHUP) and, when it has not gone within 5000 ms, kills
// it, and answers the destroy once the child's end is reported. Only a
// child that still runs is ever signalled (an ended one may have been
// reaped, its pid free for another process), and nothing waits for one: a
// slot deleted before its release completed (the controller left) kills a
// child that still runs and leaves its end to the reaper. pppd's
// authentication plug-in reaches the slot through the bridge of
// ModemFactory (loopback port 52000): the caller's user name and password
// go to the controller as modemProceeding, the controller's activation
// goes back as the accept and IP records.
//
// Two kinds: DspModemSlot (a modem DSP on "/dev/mctl") and HdlcModemSlot (a
// synchronous PPP link on a free hdlcN interface), chosen by the factory.
#include <list>
#include <memory>
#include <string>

#include "protocol/TERM/TERM.h"
#include "runtime/Accept.h"
#include "runtime/ChildWait.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"
#include "slots/AuthRecord.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class AuthClient;
struct ChildProgram;
class DspModemSlot;
class HdlcModemSlot;
class ModemFactory;

class ModemSlot : public Slot {
 public:
  // How long a child may take to go after SIGHUP before it is killed.
  static constexpr unsigned kTerminateTimeoutMs = 5000;

  explicit ModemSlot(const TERM::ModemParams& params);
  ~ModemSlot() override;

  bool IBeforeDestroy() override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  const char* GetName() const override { return "generic-modem"; }
  // The slot's session for the authentication plug-in.
  virtual int modem_id() const = 0;
  // Leaves the factory's lists (and gives back what the kind took).
  virtual void unbind() = 0;

  ModemFactory& GetModemFactory() const;
  void PutHeader(std::ostream& os) const;

  // A record of the plug-in for this slot's session.
  void OnAuth(const Auth::Record& record);
  void OnAuthRequest(const Auth::Record& record);
  void OnAcctInformation(const Auth::Record& record);
  // A DSP modem not yet set up has no number, and so no session: the -1
  // of the digital modems is not its own.
  virtual bool hasSession() const { return true; }
  bool EqAuthId(int id) const { return hasSession() && modem_id() == id; }

  bool pppd_executing() const { return pid_ != -1; }
  int childPid() const { return pid_; }

 protected:
  void pppd_exec(const char* device, const char* options);
  // Starts the program; a failure is said and reported as an abort. The
  // pid, or -1.
  int forkChild(const ChildProgram& p);
  // The program as the slot's supervised child (its end goes to the bound
  // member of child_); false when it could not be started.
  bool runChild(const ChildProgram& p);
  // SIGKILL to the child while it runs (once); its end is still reported.
  void pppd_kill();
  void on_terminate(int status);
  // The supervised child is gone: a release waiting for it completes, else
  // the slot aborts with the child's status.
  void childEnded(int status);
  void on_terminate_timeout(Timer*);
  // The end of a child killed at the timeout.
  void on_killed(int status);
  // unbind() once, whichever path comes first.
  void unbindOnce();

  TERM::ModemParams params_;
  int pid_ = -1;
  ChildWait child_;
  Timer terminate_;

 private:
  bool unbound_ = false;
  // SIGKILL went to the running child: once is enough.
  bool killSent_ = false;
};

class ModemFactory : public SlotFactory {
 public:
  static constexpr unsigned short kAuthPort = 52000;
  static constexpr int kAuthBacklog = 64;
  // Interfaces tried by the scan: hdlc0 to hdlc255.
  static constexpr unsigned kMaxHdlc = 256;
  // How often a listener that could not be bound is tried again.
  static constexpr unsigned kBindRetryMs = 5000;

  static ModemFactory& instance();

  const char* GetName() const override { return "Modem"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;

  void IQuery();
  void ReleaseModemSlot(DspModemSlot* s);
  void ReleaseModemSlot(HdlcModemSlot* s);
  // Keeps a file that the child pid may still work after its slot went,
  // and closes it once the child's end is reported.
  void HoldUntilEnd(int pid, Fd file);
  ModemSlot* FindModemByDsp(int id) const;
  void PutHeader(std::ostream& os) const;

  // The bridge.
  bool Init();
  void OnSocketEvent(int fd, short events);
  void OnAuthSocketDisconnect(AuthClient* client);
  // For a digital modem (`to`), the plug-in in its pppd.
  bool SendAuth(const std::vector<uint8_t>& record, const ModemSlot* to = nullptr);
  void OnAuth(const Auth::Record& record, AuthClient& from);

  unsigned modemCount() const { return modemCount_; }
  const std::list<std::string>& freeHdlc() const { return freeHdlc_; }
  const std::list<ModemSlot*>& modems() const { return modems_; }
  const std::list<AuthClient*>& authClients() const { return clients_; }
  bool listening() const { return listener_.is_valid(); }

 private:
  ModemFactory();
  ~ModemFactory() override;

  struct Held;
  void dropHeld(const Held* held);

  void update_modemDevices();
  void resumeAccept();
  void retryInit();
  void update_hdlcDevices();
  HdlcModemSlot* digitalModemOf(AuthClient& client);
  bool heldByDigitalModem(const AuthClient& client) const;

  std::list<DspModemSlot*> dspModems_;
  std::list<HdlcModemSlot*> hdlcModems_;
  std::list<ModemSlot*> modems_;
  unsigned modemCount_ = 0;
  Fd listener_;
  Event listenerEvent_;
  SpareAccept spare_;
  Timer resume_;
  Timer bind_;
  bool bindFailed_ = false;
  std::list<AuthClient*> clients_;
  std::list<std::string> freeHdlc_;
  std::list<std::unique_ptr<Held>> held_;
};
