#include "signalling/SLC.h"

#include <iostream>

#include "log/Ext.h"

namespace SS7 {

namespace {

// Octets of a signal unit in front of its payload: BSN/BIB, FSN/FIB, LI.
constexpr unsigned kHeader = 3;
// The largest length indicator; longer MSUs carry it too.
constexpr unsigned kMaxLi = 63;
// An MSU is its service information octet and at least two more.
constexpr unsigned kMinMsu = 3;

}  // namespace

// ---------------------------------------------------------------------------
// Timers: name, value in milliseconds, the expiry line.

const SLC::TimerVal SLC::T1 = {"T1", 45000, "T1 expired"};
const SLC::TimerVal SLC::T2 = {"T2", 7000, "T2 expired"};
const SLC::TimerVal SLC::T3 = {"T3", 1500, "T3 expired"};
const SLC::TimerVal SLC::T4n = {"T4", 8200, "T4 expired."};
const SLC::TimerVal SLC::T4e = {"T4", 500, "T4 expired."};
const SLC::TimerVal SLC::T7 = {"T7", 12000, nullptr};  // its line counts the RTB

// ---------------------------------------------------------------------------
// States and their entering steps, by id.

const SLC::StateDef SLC::kStates[6] = {
    {"idle", &SLC::enterIdle},                   // reset, SIOS, link down
    {"not aligned", &SLC::enterNotAligned},      // reset, T2, SIO
    {"aligned", &SLC::enterAligned},             // T3, SIN or SIE
    {"proving", &SLC::enterProving},             // T4n or T4e, SIN or SIE
    {"aligned ready", &SLC::enterAlignedReady},  // T1, FISU
    {"worked", &SLC::enterInService},            // FISU, link up
};

// The transitions. A pair that is not listed leaves the link as it is
// (an MSU from above is then dropped). Aligned ready takes the line's
// signal units as proving does.
const SLC::Transition SLC::kTable[] = {
    // idle
    {Idle, Activate, &SLC::activateIdle},              // not aligned
    {Idle, Deactivate, &SLC::toIdle},                  // idle again: SIOS, link down
    {Idle, RxSio, &SLC::toAligned},
    {Idle, RxSinSie, &SLC::toProving},
    // not aligned
    {NotAligned, Activate, &SLC::activateIgnored},
    {NotAligned, Deactivate, &SLC::toIdle},
    {NotAligned, TrunkDown, &SLC::trunkDown},
    {NotAligned, RxSio, &SLC::toAligned},
    {NotAligned, RxSinSie, &SLC::toProving},
    {NotAligned, Expiry, &SLC::expiredToIdle},         // T2
    // aligned
    {Aligned, Activate, &SLC::activateIgnored},
    {Aligned, Deactivate, &SLC::toIdle},
    {Aligned, TrunkDown, &SLC::trunkDown},
    {Aligned, RxSinSie, &SLC::toProving},
    {Aligned, Expiry, &SLC::expiredToIdle},            // T3
    // proving
    {Proving, Activate, &SLC::activateIgnored},
    {Proving, Deactivate, &SLC::toIdle},
    {Proving, TrunkDown, &SLC::trunkDown},
    {Proving, RxFisu, &SLC::toInService},
    {Proving, RxMsu, &SLC::toInService},               // the MSU itself is not taken
    {Proving, RxSio, &SLC::toIdle},
    {Proving, RxOtherLssu, &SLC::toIdle},
    {Proving, Expiry, &SLC::toAlignedReady},           // T4
    // aligned ready
    {AlignedReady, Activate, &SLC::activateIgnored},
    {AlignedReady, Deactivate, &SLC::toIdle},
    {AlignedReady, TrunkDown, &SLC::trunkDown},
    {AlignedReady, RxFisu, &SLC::toInService},
    {AlignedReady, RxMsu, &SLC::toInService},
    {AlignedReady, RxSio, &SLC::toIdle},
    {AlignedReady, RxOtherLssu, &SLC::toIdle},
    {AlignedReady, Expiry, &SLC::expiredToIdle},       // T1
    // in service
    {InService, Activate, &SLC::activateInService},    // link up again
    {InService, Deactivate, &SLC::toIdle},
    {InService, TrunkDown, &SLC::trunkDown},
    {InService, RxFisu, &SLC::fisuInService},
    {InService, RxMsu, &SLC::msuInService},
    {InService, RxSio, &SLC::lssuInService},           // any LSSU: idle
    {InService, RxSinSie, &SLC::lssuInService},
    {InService, RxOtherLssu, &SLC::lssuInService},
    {InService, TxMessage, &SLC::messageInService},
    {InService, Expiry, &SLC::t7Expired},
};

// ---------------------------------------------------------------------------

const char* SLC::stateText(unsigned id) { return id < 6 ? kStates[id].text : "unknown"; }

std::ostream& operator<<(std::ostream& os, SLC::StateId id) { return os << SLC::stateText(id); }

void SLC::indicationText(std::ostream& os, unsigned status) {
  switch (status) {
    case SIO: os << "out of alignment"; return;
    case SIN: os << "normal alignment"; return;
    case SIE: os << "emergency alignment"; return;
    case SIOS: os << "out of service"; return;
  }
  os << "unknown:" << std::hex << status << std::dec;
}

std::ostream& operator<<(std::ostream& os, const SLC::DumpPtr& d) {
  const SLC& l = *d.link;
  return os << " BSN=" << unsigned(l.rxBsn_) << " BIB=" << (l.rxBib_ ? 1 : 0) << " FSN=" << unsigned(l.rxFsn_)
            << " FIB=" << (l.rxFib_ ? 1 : 0);
}

SLC::SLC() = default;

SLC::~SLC() = default;

void SLC::PutShortInfo(std::ostream& os) const {
  os << "SS7/L2 " << "[" << "dpc=" << dpc_ << ", slc=" << slc_ << ", trunk=" << linkno_ << "]";
}

void SLC::PutHeader(std::ostream& os) const {
  PutShortInfo(os);
  os << " " << "(" << stateText(state_) << ")" << ": ";
}

void SLC::protocol_info(std::ostream& os) const { os << "MTP/L2"; }

void SLC::local_prepare_head(Packet& p) { p.reserve_head(kHeader); }

void SLC::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

SLC::Statistics SLC::statistics() const {
  Statistics s = stats_;
  s.rtbSize = rtbCount_;
  return s;
}

// ---------------------------------------------------------------------------
// Entry points: each dispatches one event, then delivers what it raised.

void SLC::local_activate() {
  dispatch(Activate);
  flush();
}

void SLC::local_deactivate() {
  if (trace_.mtpActivate) std::clog << ext::header(this) << "local_deactivate()" << std::endl;
  dispatch(Deactivate);
  flush();
}

void SLC::OnTrunkHardStatus(bool isUp) {
  if (isUp) return;  // the link does not restart by itself
  dispatch(TrunkDown);
  flush();
}

void SLC::message(Packet& p) {
  if (p.null()) return;
  if (trace_.mtpTransmit)
    std::clog << ext::header(this) << " mtp tx " << ext::hex(p.data(), p.tail()) << std::endl;
  if (p.length() < kMinMsu) {
    // Its length indicator would make it a FISU or an LSSU on the line.
    std::cerr << ext::header(this) << "msu shorter than " << kMinMsu << " octets, ignored: " << p << std::endl;
    return;
  }
  Input in;
  in.packet = &p;
  dispatch(TxMessage, in);
  flush();
}

void SLC::receive(Packet& p) {
  if (p.null()) return;
  if (trace_.rawReceive) {
    std::clog << ext::header(this) << " rx raw";
    for (unsigned i = 0; i < p.length(); ++i) std::clog << ' ' << ext::hex(p[int(i)], 2);
    std::clog << std::endl;
  }
  stats_.octetsReceived += p.length();
  if (p.length() < kHeader) {
    std::cerr << ext::header(this) << "ignore packet, length too small " << p << std::endl;
    return;
  }
  const unsigned char b0 = p.pull8(), b1 = p.pull8();
  rxBsn_ = b0 & 0x7F, rxBib_ = b0 & 0x80;
  rxFsn_ = b1 & 0x7F, rxFib_ = b1 & 0x80;
  rxLi_ = p.pull8();

  // A unit of 63 octets or more carries LI 63; a shorter one whose LI is
  // smaller than what arrived loses its excess octets.
  const unsigned remaining = p.length();
  const unsigned n = remaining < kMaxLi ? remaining : kMaxLi;
  if (rxLi_ != n) {
    std::cerr << ext::header(this) << "invalid packet length," << " expected = " << rxLi_
              << ", received = " << remaining << std::endl;
    if (n == kMaxLi) {
      std::cerr << ext::header(this) << "can't truncate signalling unit." << std::endl;
    } else if (rxLi_ < n) {
      std::cerr << ext::header(this) << "truncate " << (n - rxLi_) << " octet(s) : " << p << std::endl;
      p.trim(n - rxLi_);
    }
  }
  rxLi_ = p.length();
  ++stats_.suReceived;

  Input in;
  if (rxLi_ == 0) {
    dispatch(RxFisu);
  } else if (rxLi_ > 2) {
    in.packet = &p;
    dispatch(RxMsu, in);
  } else {
    in.status = p.pull8();
    dispatch(in.status == SIO ? RxSio : in.status == SIN || in.status == SIE ? RxSinSie : RxOtherLssu, in);
  }
  flush();
}

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  std::clog << ext::header(this) << "hdlc error [cause=" << unsigned(cause) << "]" << std::endl;
}

void SLC::on_hdlc_ready() {
  std::clog << ext::header(this) << "hdlc ready" << std::endl;
  if (state_ == InService) processTb();
}

void SLC::onTimer() {
  const TimerVal* t = timer_;
  timer_ = nullptr;
  if (trace_.timers && t && t->expired) std::clog << ext::header(this) << t->expired << std::endl;
  dispatch(Expiry);
  flush();
}

// ---------------------------------------------------------------------------
// The machine

void SLC::dispatch(Event e) {
  Input none;
  dispatch(e, none);
}

void SLC::dispatch(Event e, Input& in) {
  for (const Transition& t : kTable) {
    if (t.state != state_ || t.event != e) continue;
    int next = (this->*t.action)(in);
    if (next != Stay) enter(StateId(next));
    return;
  }
}

void SLC::enter(StateId next) {
  if (trace_.state)
    std::clog << ext::shortinfo(this) << ": " << "change state from " << ext::quoted(stateText(state_)) << " to "
              << ext::quoted(stateText(next)) << std::endl;
  if (state_ != Idle) {
    timer_t_.reset();
    timer_ = nullptr;
  }
  state_ = next;
  void (SLC::*entering)() = kStates[next].enter;
  (this->*entering)();
}

void SLC::up(Up::Kind k, Packet p) { held_.hold(Up{k, std::move(p)}); }

bool SLC::flush() {
  return held_.flush([this](Up& u) {
    switch (u.kind) {
      case Up::Message: on_message(u.packet); break;
      case Up::Activated: on_activate(); break;
      case Up::Deactivated: on_deactivate(new Protocol_status_error(this, "impossible phasing")); break;
    }
  });
}

void SLC::arm(const TimerVal& t) {
  timer_ = &t;
  timer_t_.set(t.ms, &SLC::onTimer, this);
}

void SLC::enterIdle() {
  reset();
  sios();
  up(Up::Deactivated);
}

void SLC::enterNotAligned() {
  reset();
  arm(T2);
  sio();
}

void SLC::enterAligned() {
  arm(T3);
  if (trace_.timers) std::clog << ext::header(this) << "set T3" << std::endl;
  if (emergency_)
    sie();
  else
    sin();
}

void SLC::enterProving() {
  if (emergency_) {
    arm(T4e);
    sie();
  } else {
    arm(T4n);
    sin();
  }
  if (trace_.timers) std::clog << ext::header(this) << "set T4" << std::endl;
}

void SLC::enterAlignedReady() {
  arm(T1);
  sendFisu();
}

void SLC::enterInService() {
  if (!tb_.empty()) {
    std::cerr << ext::header(this) << "discard " << tb_.count() << " msu in TB" << std::endl;
    while (tb_.get(nullptr)) {
    }
  }
  reset();
  sendFisu();
  processTb();
  up(Up::Activated);
}

int SLC::activateIdle(Input&) {
  if (trace_.mtpActivate) std::clog << ext::header(this) << "local_activate: executing..." << std::endl;
  return NotAligned;
}

int SLC::activateIgnored(Input&) {
  if (trace_.mtpActivate) std::clog << ext::header(this) << "local_activate: ignored." << std::endl;
  return Stay;
}

int SLC::activateInService(Input& in) {
  activateIgnored(in);
  up(Up::Activated);
  return Stay;
}

int SLC::toIdle(Input&) { return Idle; }

int SLC::trunkDown(Input&) {
  std::clog << ext::header(this) << " transport OFF by low level terminated" << std::endl;
  return Idle;
}

int SLC::toAligned(Input&) { return Aligned; }

int SLC::toProving(Input&) { return Proving; }

int SLC::toInService(Input&) { return InService; }

int SLC::toAlignedReady(Input&) { return AlignedReady; }

int SLC::expiredToIdle(Input&) { return Idle; }

int SLC::t7Expired(Input&) {
  if (trace_.timers) std::clog << ext::header(this) << "T7 expired: " << rtbCount_ << " packets in RTB." << std::endl;
  return Idle;
}

int SLC::lssuInService(Input& in) {
  std::cerr << ext::header(this) << "receive lssu: ";
  indicationText(std::cerr, in.status);
  std::cerr << " " << DumpPtr{this} << std::endl;
  return Idle;
}

// ---------------------------------------------------------------------------
// Basic error correction

void SLC::takeExpected() {
  expectedFsn_ = bsnToSend_;
  expectedFib_ = bibToSend_;
  expectedBib_ = fibToSend_;
}

int SLC::msuInService(Input& in) {
  takeExpected();
  if (rxFsn_ == expectedFsn_) {
    // A unit sent again that was taken before.
    if (trace_.msuProcessing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702" << " fsnr=" << unsigned(rxFsn_)
                << " fsnx=" << unsigned(expectedFsn_) << std::endl;
    return Stay;
  }
  if (rxFib_ == expectedFib_) {
    retransmissionAwaited_ = badFib_ = false;
    if (!processBsnr()) return Idle;
    if (rxFsn_ == expectedFsn_ + Seq(1)) {
      bsnToSend_ = rxFsn_;
      if (trace_.msuProcessing) std::cerr << ext::header(this) << "ack!" << std::endl;
      sendFisu();
      Packet& p = *in.packet;
      if (trace_.mtpReceive)
        std::clog << ext::header(this) << " mtp rx " << ext::hex(p.data(), p.tail()) << std::endl;
      up(Up::Message, p);
    } else {
      if (trace_.msuProcessing)
        std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702" << " fsnr=" << unsigned(rxFsn_)
                  << " fsnx=" << unsigned(expectedFsn_) << std::endl;
      nack();
    }
    return Stay;
  }
  // The FIB is not the one expected: a retransmission that is awaited, or
  // one that nobody asked for (twice in a row is a broken link).
  if (retransmissionAwaited_) return processBsnr() ? Stay : int(Idle);
  if (badFib_) {
    if (trace_.msuProcessing)
      std::cerr << ext::header(this) << "bad start of a retransmission: " << DumpPtr{this} << std::endl;
    return Idle;
  }
  badFib_ = true;
  return Stay;
}

int SLC::fisuInService(Input&) {
  takeExpected();
  if (rxFib_ == expectedFib_) {
    retransmissionAwaited_ = badFib_ = false;
    if (!processBsnr()) return Idle;
    // The peer has sent an MSU that never arrived.
    if (rxFsn_ != expectedFsn_) nack();
    return Stay;
  }
  if (!retransmissionAwaited_) {
    if (badFib_) {
      if (trace_.msuProcessing) std::cerr << ext::header(this) << "bad start of a retransmission: " << std::endl;
      return Idle;
    }
    badFib_ = true;
    return Stay;
  }
  return processBsnr() ? Stay : int(Idle);
}

int SLC::messageInService(Input& in) {
  putToTb(*in.packet);
  processTb();
  return Stay;
}

bool SLC::processBsnr() {
  // Acceptable: from the last acknowledged up to the last sent.
  if (!inWindow(oldest_ - Seq(1), rxBsn_, lastAssigned_)) {
    if (!badBsn_) {
      badBsn_ = true;
      return true;
    }
    if (trace_.msuProcessing)
      std::cerr << ext::header(this) << "bad su acknowledgement received: " << DumpPtr{this} << std::endl;
    return false;
  }
  badBsn_ = false;
  const Seq next = rxBsn_ + Seq(1);
  const uint32_t before = rtbCount_;
  if (oldest_ != next) arm(T7);
  while (oldest_ != next) {
    rtb_[oldest_] = Packet();
    ++oldest_;
    if (rtbCount_) --rtbCount_;
  }
  const bool freed = rtbCount_ < before;
  if (rtbCount_ == 0) {
    timer_t_.reset();
    timer_ = nullptr;
  }
  if (rxBib_ != expectedBib_)
    retransmit();
  else if (freed && !tb_.empty())
    processTb();  // MSUs that waited for room in the RTB
  return true;
}

void SLC::nack() {
  bibToSend_ = !bibToSend_;
  expectedFib_ = bibToSend_;
  retransmissionAwaited_ = true;
  sendFisu();
  ++stats_.nacks;
  if (trace_.msuProcessing) std::cerr << ext::header(this) << "nack!" << std::endl;
}

void SLC::retransmit() {
  if (trace_.msuProcessing) std::cerr << ext::header(this) << "retransmit" << " rtb=" << rtbCount_ << std::endl;
  ++stats_.retransmissions;
  fsnToSend_ = oldest_ - Seq(1);
  fibToSend_ = rxBib_;
  // Newest first at the head of the TB: they leave oldest first.
  Seq i = lastAssigned_;
  for (uint32_t n = rtbCount_; n; --n, --i) {
    if (!tb_.append(rtb_[i]))
      std::cerr << ext::header(this) << "no space in TB buffer, lost msu: " << rtb_[i] << std::endl;
    rtb_[i] = Packet();
  }
  lastAssigned_ = fsnToSend_;
  rtbCount_ = 0;
  processTb();
}

void SLC::processTb() {
  if (state_ != InService) return;
  if (tb_.empty()) {
    sendFisu();
    return;
  }
  Packet p;
  while (rtbCount_ < kMaxOutstanding && tb_.preview(&p)) {
    fsnToSend_ = lastAssigned_ + Seq(1);
    if (!send(p)) {
      // A FISU sent meanwhile names the last MSU that really left.
      fsnToSend_ = lastAssigned_;
      return;
    }
    tb_.get(nullptr);
    lastAssigned_ = fsnToSend_;
    rtb_[lastAssigned_] = p;
    if (++rtbCount_ == 1) arm(T7);
  }
}

void SLC::putToTb(Packet& p) {
  if (tb_.count() >= kTbNew) {
    ++stats_.tbOverflows;
    std::cerr << ext::header(this) << "no space in TB buffer," << " TB=" << tb_.count() << " RTB=" << rtbCount_
              << " ignoring msu: " << p << std::endl;
    return;
  }
  tb_.put(p);
}

void SLC::reset() {
  for (Packet& p : rtb_) p = Packet();
  oldest_ = 0;
  lastAssigned_ = 127;
  rtbCount_ = 0;
  retransmissionAwaited_ = badBsn_ = badFib_ = false;
  bsnToSend_ = 127;
  fsnToSend_ = 127;
  fibToSend_ = true;
  bibToSend_ = true;
}

// ---------------------------------------------------------------------------
// Signal units out

bool SLC::send(const Packet& payload) {
  if (!hdlc_) {
    std::clog << ext::header(this) << "no HDLC interface attached!!!" << std::endl;
    return false;
  }
  // A copy: the RTB keeps the MSU without its header.
  Packet f = payload;
  if (f._headroom() < kHeader) {
    Packet room;
    room.reserve_head(kHeader);
    if (!f.empty()) room.put(f);
    f = room;
  }
  const unsigned len = f.length();
  f.push8(static_cast<unsigned char>(len < kMaxLi ? len : kMaxLi));
  f.push8(static_cast<unsigned char>(unsigned(fsnToSend_) | (fibToSend_ ? 0x80 : 0)));
  f.push8(static_cast<unsigned char>(unsigned(bsnToSend_) | (bibToSend_ ? 0x80 : 0)));
  if (!hdlc_->hdlc_transmit(f)) {
    if (trace_.rawTransmit) std::clog << ext::header(this) << " tx full!" << std::endl;
    return false;
  }
  if (trace_.rawTransmit) std::clog << ext::header(this) << " tx raw " << ext::hex(f.data(), f.tail()) << std::endl;
  ++stats_.suSent;
  stats_.octetsSent += f.length();
  return true;
}

void SLC::sendFisu() {
  Packet f;
  f.reserve_head(kHeader);
  send(f);
}

void SLC::lssu(Indication status) {
  if (!hdlc_) return;
  // Sequence fields all ones, whatever the sequence state.
  Packet f;
  f.reserve_head(0);
  f.put8(0xFF);
  f.put8(0xFF);
  f.put8(1);
  f.put8(static_cast<unsigned char>(status));
  hdlc_->hdlc_transmit(f);
}

}  // namespace SS7
