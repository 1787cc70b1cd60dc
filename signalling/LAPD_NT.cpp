#include "signalling/LAPD_NT.h"

#include <algorithm>
#include <iostream>

#include "log/Ext.h"

namespace ISDN {

namespace {

constexpr unsigned char kNetworkCommand = 0x02;   // SAPI 0, C/R = 1
constexpr unsigned char kNetworkResponse = 0x00;  // SAPI 0, C/R = 0
constexpr unsigned char kSetup = 0x05;

void drain(CleanQueue<Packet, 135>& q) {
  while (q.get(nullptr)) {
  }
}
void drain(CleanQueue<Packet, kWindow>& q) {
  while (q.get(nullptr)) {
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// One terminal

LAPD_NT_user::~LAPD_NT_user() {
  linkTimer_.reset();
  checkTimer_.reset();
}

void LAPD_NT_user::PutHeader(std::ostream& os) const {
  os << "LAPD_user(NT BRI)[";
  if (state_ == Unassigned) {
    os << "unassigned]:";
    return;
  }
  os << "Tei=" << unsigned(tei_) << (state_ == Assigned ? ",assigned" : ",wait_answer");
  if (check_) os << ",check";
  if (busy_) os << ",busy";
  os << "]";
}

void LAPD_NT_user::assign() {
  if (is_assigned() && check_) {
    if (logs()) std::clog << ext::header(this) << "checked" << std::endl;
    check_ = false;
    checkTimer_.reset();
    return;
  }
  if (logs()) std::clog << ext::header(this) << "assigned" << std::endl;
  vr_ = va_ = vs_ = 0;
  rejected_ = false;
  state_ = Assigned;
  txU(SABME, true, true);
  busy_ = check_ = false;
  drain(out_);
  drain(ack_);
  retries_ = 0;
  linkTimer_.set(kIdleMs, &LAPD_NT_user::onTimer, this);
}

void LAPD_NT_user::unassign() {
  if (logs()) std::clog << ext::header(this) << "unassigned" << std::endl;
  state_ = Unassigned;
  linkTimer_.reset();
  checkTimer_.reset();
}

void LAPD_NT_user::checking() {
  if (!is_assigned()) return;
  check_ = true;
  if (logs()) std::clog << ext::header(this) << "checking started" << std::endl;
  checkTimer_.set(kCheckMs, &LAPD_NT_user::unassign, this);
}

void LAPD_NT_user::idle() {
  state_ = Assigned;
  linkTimer_.set(kIdleMs, &LAPD_NT_user::onTimer, this);
}

void LAPD_NT_user::receive(const Packet& f, bool cr) {
  const unsigned n = f.null() ? 0 : f.length();
  if (n < 1) return;
  const unsigned char control = f[0];
  const bool command = !cr;
  if ((control & 1) == 0) {
    if (!command || n < 2) return;
    Packet copy = f;
    onIFrame(copy.sub(n - 2, 2), f[1] & 1, control >> 1, f[1] >> 1);
    return;
  }
  if ((control & 3) == 1) {
    if (n < 2) return;
    const bool pf = f[1] & 1;
    const Seq nr = f[1] >> 1;
    switch (control) {
      case RR:
        if (logs()) std::clog << ext::header(this) << "received RR frame" << std::endl;
        if (command && pf) txS(RR, true, false);
        {
          const Seq before = va_;
          const bool waiting = state_ == WaitAnswer;
          if (!ackQueue(nr)) return unassign();
          clearBusy();
          afterAck(va_ != before, waiting);
        }
        return;
      case RNR:
        if (logs()) std::clog << ext::header(this) << "received RNR frame" << std::endl;
        if (!busy_ && logs()) std::clog << ext::header(this) << "set busy" << std::endl;
        busy_ = true;
        if (command && pf) txS(RR, true, false);
        if (!ackQueue(nr)) return unassign();
        idle();
        return;
      case REJ:
        if (logs()) std::clog << ext::header(this) << "received REJ frame" << std::endl;
        if (command && pf) txS(RR, true, false);
        // REJ acknowledges what comes before N(R) and asks for the rest.
        if (!ackQueue(nr)) return unassign();
        retransmit();
        setUnbusy();
        state_ = WaitAnswer;
        retries_ = 0;
        linkTimer_.set(kRetryMs, &LAPD_NT_user::onTimer, this);
        return;
      default:
        return;
    }
  }
  const bool pf = control & kPF;
  switch (control & ~kPF) {
    case SABME:
      if (!command) return;
      if (logs()) std::clog << ext::header(this) << "received SABME frame" << std::endl;
      vr_ = va_ = vs_ = 0;
      rejected_ = false;
      if (pf) txU(UA, true, false);
      drain(ack_);
      setUnbusy();
      return;
    case DISC:
      if (!command) return;
      if (logs()) std::clog << ext::header(this) << "received DISC frame" << std::endl;
      if (pf) txU(UA, true, false);
      unassign();
      return;
    case DM:
    case FRMR:
      if (command) return;
      if (logs())
        std::clog << ext::header(this) << ((control & ~kPF) == DM ? "received DM frame" : "received FRMR frame")
                  << std::endl;
      unassign();
      return;
    case XID:
      if (logs()) std::clog << ext::header(this) << "received XID frame" << std::endl;
      return;
    default:
      return;
  }
}

void LAPD_NT_user::onIFrame(const Packet& info, bool p, Seq ns, Seq nr) {
  if (logs()) std::clog << ext::header(this) << "received I frame" << std::endl;
  if (ns == vr_) {
    ++vr_;
    rejected_ = false;
    if (p) txS(RR, true, false);
    if (info.length() < 4) return;
    callref_ = info[2] & 0x7F;
    Packet up = info;
    lapd_->send_to_layer3(up);
  } else if (!rejected_) {
    // One REJ per gap: answering every frame behind the gap with another
    // REJ makes the terminal resend its whole window each time.
    rejected_ = true;
    txS(REJ, p, false);
  } else if (p) {
    txS(RR, true, false);
  }
  const Seq before = va_;
  const bool waiting = state_ == WaitAnswer;
  if (ackQueue(nr)) afterAck(va_ != before, waiting);
  else unassign();
}

bool LAPD_NT_user::sendHeld() {
  bool sent = false;
  Packet m;
  while (!busy_ && !windowFull() && out_.get(&m)) {
    sendI(m);
    sent = true;
  }
  return sent;
}

void LAPD_NT_user::afterAck(bool advanced, bool waiting) {
  if (sendHeld()) advanced = true;
  if (vs_ == va_) {
    idle();
    return;
  }
  // Frames are still out: keep waiting for their acknowledgement, so that
  // the retry timer resends them if it does not come; an answer that
  // acknowledges nothing new does not put the pending retry off.
  if (advanced || !waiting) {
    state_ = WaitAnswer;
    retries_ = 0;
    linkTimer_.set(kRetryMs, &LAPD_NT_user::onTimer, this);
  }
}

bool LAPD_NT_user::ackQueue(Seq nr) {
  if (logs()) std::clog << ext::header(this) << "ack queue" << std::endl;
  if (nr == va_) return true;
  // N(R) acknowledges the frames before it: it must lie between the oldest
  // unacknowledged frame and the next to send. V(A) becomes N(R) itself,
  // so that "all acknowledged" reads V(S) = V(A) and the idle poll goes out.
  if (!inWindow(va_, nr, vs_)) return false;
  const Seq oldest = vs_ - Seq(ack_.count());
  unsigned drop = unsigned(nr - oldest);
  while (drop-- && ack_.get(nullptr)) {
  }
  va_ = nr;
  return true;
}

bool LAPD_NT_user::message(const Packet& m) {
  if (!is_assigned() || m.null() || m.length() < 4 || callref_ != (m[2] & 0x7F)) return false;
  // Beyond k outstanding frames a lost one could not be sent again: the
  // rest wait for acknowledgements, as they do for a busy terminal.
  if (busy_ || windowFull()) {
    if (out_.count() >= kHeld) out_.get(nullptr);
    out_.put(m);
    return true;
  }
  sendI(m);
  state_ = WaitAnswer;
  linkTimer_.set(kRetryMs, &LAPD_NT_user::onTimer, this);
  return true;
}

void LAPD_NT_user::sendI(const Packet& m) {
  Packet f = lapd_->newFrame();
  f.put8(kNetworkCommand);
  f.put8(static_cast<unsigned char>(tei_ << 1 | 1));
  f.put8(static_cast<unsigned char>(unsigned(vs_) << 1));
  f.put8(static_cast<unsigned char>(unsigned(vr_) << 1 | 1));
  const unsigned char* b = &m[0];
  std::copy(b, b + m.length(), f.put(m.length()));
  if (ack_.count() < kWindow) ack_.put(f);
  ++vs_;
  Packet out = f;
  lapd_->send_to_layer1(out);
}

void LAPD_NT_user::clearBusy() {
  if (busy_ && logs()) std::clog << ext::header(this) << "set unbusy" << std::endl;
  busy_ = false;
}

void LAPD_NT_user::setUnbusy() {
  clearBusy();
  if (out_.empty()) {
    idle();
    return;
  }
  sendHeld();
  retries_ = 0;
  state_ = WaitAnswer;
  linkTimer_.set(kRetryMs, &LAPD_NT_user::onTimer, this);
}

void LAPD_NT_user::retransmit() {
  if (logs()) std::clog << ext::header(this) << "retransmit queue" << std::endl;
  for (unsigned i = ack_.count(); i > 0; --i) {
    Packet f;
    ack_.get(&f);
    // The stored N(R) is what was due when the frame first went; the
    // terminal has since moved its V(A) on and would take the old one for
    // an N(R) error.
    if (f.length() >= 4) f.data()[3] = static_cast<unsigned char>(unsigned(vr_) << 1 | 1);
    ack_.put(f);
    Packet out = f;
    lapd_->send_to_layer1(out);
  }
}

void LAPD_NT_user::onTimer() {
  if (state_ == Assigned) {
    state_ = WaitAnswer;
    txS(RR, true, true);
    retries_ = 0;
    linkTimer_.set(kRetryMs, &LAPD_NT_user::onTimer, this);
  } else if (state_ == WaitAnswer) {
    if (retries_ == kRetries) {
      if (logs()) std::clog << ext::header(this) << "T200 expiried N200 times" << std::endl;
      unassign();
      return;
    }
    ++retries_;
    if (vs_ == va_) txS(RR, true, true);
    else retransmit();
    linkTimer_.set(kRetryMs, &LAPD_NT_user::onTimer, this);
  }
}

void LAPD_NT_user::txU(unsigned char code, bool pf, bool command) {
  Packet f = lapd_->newFrame();
  f.put8(command ? kNetworkCommand : kNetworkResponse);
  f.put8(static_cast<unsigned char>(tei_ << 1 | 1));
  f.put8(static_cast<unsigned char>(code | (pf ? kPF : 0)));
  lapd_->send_to_layer1(f);
}

void LAPD_NT_user::txS(unsigned char code, bool pf, bool command) {
  Packet f = lapd_->newFrame();
  f.put8(command ? kNetworkCommand : kNetworkResponse);
  f.put8(static_cast<unsigned char>(tei_ << 1 | 1));
  f.put8(code);
  f.put8(static_cast<unsigned char>(unsigned(vr_) << 1 | (pf ? 1 : 0)));
  lapd_->send_to_layer1(f);
}

// ---------------------------------------------------------------------------
// The D channel

LAPD_NT::LAPD_NT() {
  for (LAPD_NT_user& u : users_) u.set_lapd(this);
}

LAPD_NT::~LAPD_NT() { checkTimer_.reset(); }

void LAPD_NT::set_log(unsigned level) {
  log_ = level;
  for (LAPD_NT_user& u : users_) u.set_log(level);
}

void LAPD_NT::PutHeader(std::ostream& os) const { os << "LAPD(NT BRI):"; }

void LAPD_NT::local_prepare_head(Packet& p) { p.reserve_head(4); }

void LAPD_NT::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

Packet LAPD_NT::newFrame() {
  Packet p;
  p.reserve_head(0);
  descend_prepare_head(p);
  return p;
}

void LAPD_NT::local_activate() {
  if (log_) std::clog << ext::header(this) << "activate" << std::endl;
  checkAllTei();
  on_activate();
}

void LAPD_NT::local_deactivate() {
  if (log_) std::clog << ext::header(this) << "deactivate" << std::endl;
  checkTimer_.reset();
  for (LAPD_NT_user& u : users_) u.unassign();
}

void LAPD_NT::message(Packet& p) {
  if (p.null() || p.length() < 4) return;
  const Packet& m = p;
  if (m[3] == kSetup) {
    Packet f = newFrame();
    f.put8(kNetworkCommand);
    f.put8(kGroupTei << 1 | 1);
    f.put8(UI);
    const unsigned char* b = &m[0];
    std::copy(b, b + m.length(), f.put(m.length()));
    transmit(f);
    return;
  }
  for (LAPD_NT_user& u : users_)
    if (u.message(m)) return;
}

void LAPD_NT::receive(Packet& frame) {
  const Packet& f = frame;
  if (f.null() || f.length() <= 2 || (f[0] & 1) || !(f[1] & 1)) return;
  const unsigned n = f.length();
  const bool cr = f[0] & 2;
  const unsigned sapi = f[0] >> 2;
  const unsigned tei = f[1] >> 1;
  if (tei == kGroupTei) {
    if (f[2] != UI) return;
    Packet rest = frame.sub(n - 3, 3);
    if (sapi == kTeiSapi) onTeiProcedure(rest);
    else if (!rest.empty()) send_to_layer3(rest);
    return;
  }
  LAPD_NT_user* u = find_Tei(static_cast<unsigned char>(tei));
  if (!u) {
    u = find_free_Tei(static_cast<unsigned char>(tei));
    if (u) {
      if (log_) std::clog << ext::header(this) << "Warning:recieved packet with unassigned TEI=" << tei << std::endl;
      u->assign();
    } else {
      if (log_) std::clog << ext::header(this) << "recieved packet with unassigned TEI=" << tei << ",removed" << std::endl;
      removeTei(tei);
      return;
    }
  }
  u->receive(frame.sub(n - 2, 2), cr);
}

void LAPD_NT::removeTei(unsigned ai) {
  tx_identity(0, ai, IdentityRemove);
  tx_identity(0, ai, IdentityRemove);
}

void LAPD_NT::onTeiProcedure(const Packet& m) {
  if (m.length() <= 4 || m[0] != kManagementId) return;
  const unsigned ri = m[1] | unsigned(m[2]) << 8;
  const unsigned type = m[3];
  const unsigned ai = m[4] >> 1;
  switch (type) {
    case IdentityRequest: {
      if (ai < kFirstTei) {
        if (log_) std::clog << ext::header(this) << "recieved identity request with wrong Ai=" << ai << ",ignored" << std::endl;
        return;
      }
      if (ai <= kLastTei) {
        if (log_) std::clog << ext::header(this) << "recieved identity request with wrong Ai=" << ai << ",denied" << std::endl;
        tx_identity(ri, ai, IdentityDenied);
        return;
      }
      LAPD_NT_user* u = find_free_Tei(kGroupTei);
      if (!u) {
        if (log_) std::clog << ext::header(this) << "recieved identity request, but all TEI values is ussigned" << std::endl;
        tx_identity(ri, kGroupTei, IdentityDenied);
        return;
      }
      if (log_) std::clog << ext::header(this) << "recieved identity request,TEI assigned:" << unsigned(u->get_Tei()) << std::endl;
      tx_identity(ri, u->get_Tei(), IdentityAssigned);
      u->assign();
      return;
    }
    case IdentityCheckResponse: {
      if (ai == kGroupTei) {
        if (log_) std::clog << ext::header(this) << "recieved check response with wrong Ai=" << ai << ",removed" << std::endl;
        removeTei(kGroupTei);
        return;
      }
      LAPD_NT_user* u = find_Tei(static_cast<unsigned char>(ai));
      if (!u) {
        u = find_free_Tei(static_cast<unsigned char>(ai));
        if (!u) {
          if (log_) std::clog << ext::header(this) << "recieved check response with wrong Ai=" << ai << ",removed" << std::endl;
          removeTei(ai);
          return;
        }
        if (log_) std::clog << ext::header(this) << "TEI " << ai << " checked" << std::endl;
        u->assign();
        u->remember(uint16_t(ri));
        return;
      }
      if (u->is_check()) {
        if (log_) std::clog << ext::header(this) << "TEI " << ai << " checked" << std::endl;
        u->assign();
        u->remember(uint16_t(ri));
        return;
      }
      if (u->remembered(uint16_t(ri))) return;
      if (log_) std::clog << ext::header(this) << "recieved check response with dublicated Ai=" << ai << ",removed" << std::endl;
      u->unassign();
      removeTei(ai);
      return;
    }
    case IdentityVerify:
      if (log_) std::clog << ext::header(this) << "recieved verify request" << std::endl;
      checkAllTei();
      return;
    default:
      return;
  }
}

void LAPD_NT::checkAllTei() {
  if (log_) std::clog << ext::header(this) << "Checking Tei values...." << std::endl;
  checkTimer_.reset();
  for (LAPD_NT_user& u : users_) u.checking();
  tx_identity(0, kGroupTei, IdentityCheckRequest);
  checkTimer_.set(kCheckPeriodMs, &LAPD_NT::checkAllTei, this);
}

void LAPD_NT::tx_identity(unsigned ri, unsigned ai, TeiMessage type) {
  Packet f = newFrame();
  putIdentity(f, true, ri, type, ai);
  transmit(f);
}

LAPD_NT_user* LAPD_NT::find_Tei(unsigned char tei) {
  for (LAPD_NT_user& u : users_)
    if (u.is_assigned() && u.get_Tei() == tei) return &u;
  return nullptr;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(unsigned char tei) {
  LAPD_NT_user* free = nullptr;
  for (LAPD_NT_user& u : users_)
    if (!u.is_assigned()) {
      free = &u;
      break;
    }
  if (!free) return nullptr;
  if (tei != kGroupTei) {
    free->set_Tei(tei);
    return free;
  }
  for (unsigned t = kFirstTei; t <= kLastTei; ++t)
    if (!find_Tei(static_cast<unsigned char>(t))) {
      free->set_Tei(static_cast<unsigned char>(t));
      return free;
    }
  return nullptr;
}

}  // namespace ISDN
