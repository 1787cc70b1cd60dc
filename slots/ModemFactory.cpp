#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "hardware/Device.h"
#include "runtime/Accept.h"
#include "hardware/Utils.h"
#include "log/Ext.h"
#include "protocol/LGCP/LGCP.h"
#include "slots/AuthClient.h"
#include "slots/DspModemSlot.h"
#include "slots/HdlcModemSlot.h"
#include "slots/LoopbackPeer.h"
#include "slots/ModemSlot.h"

namespace {

// Enumerates the modems of "/dev/mctl": the number after the given one.
constexpr uint32_t kEnumerateModems = 0xBB0C;

}  // namespace

// A file and the child whose end lets it go.
struct ModemFactory::Held {
  Held(int pid, Fd f) : file(std::move(f)) {
    wait.Bind(this, &Held::ended);
    wait.Attach(pid);
  }
  void ended(int) { ModemFactory::instance().dropHeld(this); }

  Fd file;
  ChildWait wait;
};

ModemFactory& ModemFactory::instance() {
  static ModemFactory* self = new ModemFactory;  // lives as long as the process
  return *self;
}

ModemFactory::ModemFactory() {
  IQuery();
  listenerEvent_.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
  retryInit();
}

void ModemFactory::retryInit() {
  if (Init()) {
    if (bindFailed_) std::cerr << ext::header(this) << "auth socket bound." << std::endl;
    bindFailed_ = false;
    listenerEvent_.Schedule(listener_, POLLIN);
    return;
  }
  // The port may be held by a daemon that is still on its way out: giving
  // up would leave every PPP login of this daemon's life failing.
  bindFailed_ = true;
  bind_.set(kBindRetryMs, &ModemFactory::retryInit, this);
}

ModemFactory::~ModemFactory() {
  for (AuthClient* c : clients_) delete c;
}

void ModemFactory::PutHeader(std::ostream& os) const {
  os << "modem[" << modemCount_ << "," << modems_.size() << "]: ";
}

// ---------------------------------------------------------------- slots

Slot* ModemFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.modem_isSelected()) return nullptr;
  const TERM::ModemParams& p = params.get_modem();
  if (p.ddm_isPresent() && !p.get_ddm().empty() && !freeHdlc_.empty()) {
    const std::string device = freeHdlc_.front();
    freeHdlc_.pop_front();
    HdlcModemSlot* s = new HdlcModemSlot(p, device);
    modems_.push_back(s);
    hdlcModems_.push_back(s);
    return s;
  }
  DspModemSlot* s = new DspModemSlot(p);
  modems_.push_back(s);
  dspModems_.push_back(s);
  return s;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* s) {
  modems_.remove(s);
  dspModems_.remove(s);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* s) {
  modems_.remove(s);
  hdlcModems_.remove(s);
  // Only once: a name twice in the list would hand one interface to two
  // slots.
  if (std::find(freeHdlc_.begin(), freeHdlc_.end(), s->deviceName()) == freeHdlc_.end())
    freeHdlc_.push_back(s->deviceName());
}

void ModemFactory::HoldUntilEnd(int pid, Fd file) { held_.push_back(std::make_unique<Held>(pid, std::move(file))); }

void ModemFactory::dropHeld(const Held* held) {
  held_.remove_if([held](const std::unique_ptr<Held>& h) { return h.get() == held; });
}

ModemSlot* ModemFactory::FindModemByDsp(int id) const {
  for (ModemSlot* s : modems_)
    if (s->modem_id() == id) return s;
  return nullptr;
}

// ---------------------------------------------------------------- resources

void ModemFactory::Query(LGCP::Resources& r) {
  IQuery();
  r.set_modem(static_cast<int>(modemCount_));
  r.set_digital_modems(static_cast<int>(freeHdlc_.size()));
}

void ModemFactory::IQuery() {
  update_modemDevices();
  update_hdlcDevices();
}

void ModemFactory::update_modemDevices() {
  modemCount_ = 0;
  const char* name = GetModemDevName();
  const int fd = Device::open(name, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    std::cerr << ext::header(this) << "fail to open " << ext::quoted(name) << " : " << Errno(err) << std::endl;
    return;
  }
  long prev = -1;
  for (;;) {
    const int next = Device::requestValue(fd, kEnumerateModems, prev);
    if (next < 0) {
      const int err = errno;
      if (err != ENODEV) std::cerr << ext::header(this) << "enum fail: " << Errno(err) << std::endl;
      break;
    }
    ++modemCount_;
    prev = next;
  }
  Device::close(fd);
}

void ModemFactory::update_hdlcDevices() {
  freeHdlc_.clear();
  const int sock = Device::netSocket();
  if (sock < 0) return;
  for (unsigned n = 0; n < kMaxHdlc; ++n) {
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    const std::string name = "hdlc" + std::to_string(n);
    std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
    if (Device::netRequest(sock, SIOCGIFINDEX, &ifr, sizeof ifr) < 0) break;
    if (Device::netRequest(sock, SIOCGIFFLAGS, &ifr, sizeof ifr) < 0) break;
    if ((ifr.ifr_flags & IFF_POINTOPOINT) && !(ifr.ifr_flags & IFF_LOOPBACK)) freeHdlc_.push_back(name);
  }
  Device::close(sock);
  // An interface that a live digital modem runs pppd on still looks free
  // by its flags; it must not be handed out again.
  for (HdlcModemSlot* s : hdlcModems_) freeHdlc_.remove(s->deviceName());
  if (freeHdlc_.empty()) return;
  std::clog << ext::header(this) << "found point-o-point devices:";
  for (const std::string& n : freeHdlc_) std::clog << " " << n;
  std::clog << std::endl;
}

// ---------------------------------------------------------------- the bridge

bool ModemFactory::Init() {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  // A restart finds the plug-in's old connections in TIME_WAIT on the port:
  // without this the daemon would live on without the bridge.
  const int on = 1;
  if (s.is_valid()) ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(kAuthPort);
  if (!s.is_valid() || ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    const int err = errno;
    if (!bindFailed_) std::cerr << ext::header(this) << "fail to bind auth socket: " << Errno(err) << std::endl;
    return false;
  }
  if (::listen(s.lowlevel_fd(), kAuthBacklog) < 0) {
    const int err = errno;
    std::cerr << ext::header(this) << "fail to listen auth socket: " << Errno(err) << std::endl;
    return false;
  }
  if (!s.NonBlock()) {
    const int err = errno;
    std::cerr << ext::header(this) << "can't set socket to non block mode: " << Errno(err) << std::endl;
    return false;
  }
  listener_ = std::move(s);
  return true;
}

void ModemFactory::OnSocketEvent(int, short events) {
  if (events & (POLLERR | POLLHUP)) {
    std::cerr << ext::header(this) << "auth server socket error." << std::endl;
    listenerEvent_.Release();
    listener_.close();
    return;
  }
  if (!(events & POLLIN)) return;
  INet4::Addr peer;
  socklen_t len = peer.size();
  SpareAccept::Outcome outcome;
  Fd conn(spare_.accept(listener_.lowlevel_fd(), peer, &len, SOCK_CLOEXEC, outcome));
  if (spare_.began()) std::cerr << ext::header(this) << "out of descriptors: auth connections refused." << std::endl;
  if (spare_.ended()) std::cerr << ext::header(this) << "auth connections accepted again." << std::endl;
  if (outcome == SpareAccept::Outcome::Empty || outcome == SpareAccept::Outcome::Dropped) return;
  if (outcome == SpareAccept::Outcome::Exhausted) {
    // Nothing can be taken now: leave the listener alone for a while
    // instead of being woken for it on every pass.
    listenerEvent_.SetEvents(0);
    resume_.set(SpareAccept::kPauseMs, &ModemFactory::resumeAccept, this);
    return;
  }
  if (!conn.NonBlock()) {
    std::cerr << ext::header(this) << "fail to set nonblock mode." << std::endl;
    return;
  }
  AuthClient* c = new AuthClient(conn, peer, *this);
  clients_.push_back(c);
  c->Activate();
  std::cerr << ext::header(this) << "incoming auth connection from " << peer << std::endl;
}

void ModemFactory::resumeAccept() { listenerEvent_.SetEvents(POLLIN); }

void ModemFactory::OnAuthSocketDisconnect(AuthClient* c) {
  std::clog << ext::header(this) << "auth client " << c->GetAddr() << " disconnected." << std::endl;
  clients_.remove(c);
  delete c;
}

bool ModemFactory::SendAuth(const std::vector<uint8_t>& record, const ModemSlot* to) {
  const int session = static_cast<int>(Auth::Record{record.data(), record.size()}.session());
  // A digital modem's plug-in is the one in its pppd; failing that, any of
  // its session that is not known to be another modem's.
  if (to && to->pppd_executing()) {
    for (AuthClient* c : clients_)
      if (c->GetSessionId() == session && c->ownerPid() == to->childPid()) return c->Send(record);
  }
  for (AuthClient* c : clients_)
    if (c->GetSessionId() == session && !heldByDigitalModem(*c)) return c->Send(record);
  std::clog << ext::header(this) << "send error: unknown auth " << static_cast<unsigned>(session) << " session."
            << std::endl;
  return false;
}

void ModemFactory::OnAuth(const Auth::Record& record, AuthClient& from) {
  const int session = static_cast<int>(record.session());
  // Every digital modem's plug-in speaks for one session: the record is
  // the modem's whose pppd sent it; one from no such pppd goes, as ever, to
  // the first slot of its session.
  ModemSlot* to = session == HdlcModemSlot::kSession ? digitalModemOf(from) : nullptr;
  for (auto s = modems_.begin(); !to && s != modems_.end(); ++s)
    if ((*s)->EqAuthId(session)) to = *s;
  if (to) {
    to->OnAuth(record);
    return;
  }
  std::cerr << ext::header(this) << "receive auth request for unknown session " << record.session() << std::endl;
}

// The plug-in runs inside pppd (or a program that pppd started), so the
// digital modem whose child holds the far end of the connection is its
// slot. The client keeps that child's pid for the way back.
HdlcModemSlot* ModemFactory::digitalModemOf(AuthClient& c) {
  for (HdlcModemSlot* s : hdlcModems_)
    if (s->pppd_executing() && s->childPid() == c.ownerPid()) return s;
  unsigned long inode = 0;
  for (HdlcModemSlot* s : hdlcModems_) {
    if (!s->pppd_executing()) continue;
    if (!inode && !(inode = LoopbackPeer::inode(c.socket()))) return nullptr;
    if (LoopbackPeer::heldBy(s->childPid(), inode)) {
      c.setOwnerPid(s->childPid());
      return s;
    }
  }
  return nullptr;
}

bool ModemFactory::heldByDigitalModem(const AuthClient& c) const {
  for (HdlcModemSlot* s : hdlcModems_)
    if (s->pppd_executing() && s->childPid() == c.ownerPid()) return true;
  return false;
}
