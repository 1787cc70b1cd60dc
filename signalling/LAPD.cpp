#include "signalling/LAPD.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>

#include "log/Ext.h"

namespace ISDN {

char logbuf[kLogBufSize];

const char* sidetext(Side::type s) { return s == Side::network ? "network" : "user"; }

const char* statetext(unsigned state) {
  static const char* const texts[] = {
      "TEI unassigned",         "Assign awaiting TEI", "Establish awaiting TEI",     "TEI assigned",
      "Awaiting establishment", "Awaiting release",    "Multiple frame established", "Timer recovery",
  };
  return state < 8 ? texts[state] : "(unknown)";
}

void LAPDFullState::out(std::ostream& os) const {
  auto run = [](bool r) { return r ? "running" : "stopped"; };
  os << "\n   - state: " << statetext(state)
     << "\n   - self: TEI=" << selfTEI << ", SAPI=" << selfSAPI << ", busy=" << ownBusy
     << "\n   - peer: TEI=" << peerTEI << ", SAPI=" << peerSAPI << ", busy=" << peerBusy
     << "\n   - counters: VS=" << unsigned(VS) << ", VA=" << unsigned(VA) << ", VR=" << unsigned(VR)
     << ", RC=" << RC << "\n   - internal signals: AckRQ=" << AckRQ << ", RetrRQ=" << RetrRQ
     << ", QueuedUp=" << QueuedUp << "\n   - flags: L3Initiated=" << L3Initiated
     << ", Establishable=" << Establishable << ", RejectException=" << RejectException
     << "\n   - timers: T200 " << run(T200running) << ", T202 " << run(T202running) << ", T203 "
     << run(T203running);
}

LAPD::Notify::~Notify() = default;

LAPD::Status::Status(const LAPD* link, const std::string& text)
    : Protocol_status_error(link, text), ::ISDN::LAPDFullState(link->fullState()) {}

void LAPD::Status::out(std::ostream& os) const {
  os << message();
  ::ISDN::LAPDFullState::out(os);
}

// ---------------------------------------------------------------------------
// The transition table. Where an action has more than one outcome, the
// comment gives the next states in the order the action tests them.

const LAPD::Transition LAPD::kTable[] = {
    // DL-ESTABLISH request
    {TeiUnassigned, DlEstablish, &LAPD::tu_establish},               // TEI request: 2
    {AssignAwaitingTei, DlEstablish, &LAPD::aat_establish},          // 2
    {TeiAssigned, DlEstablish, &LAPD::ta_establish},                 // SABME: 4
    {AwaitingEstablishment, DlEstablish, &LAPD::ae_establish},       // discard queue: 4
    {MultipleFrameEstablished, DlEstablish, &LAPD::mf_establish},    // SABME: 4
    {TimerRecovery, DlEstablish, &LAPD::mf_establish},               // SABME: 4
    // DL-RELEASE request
    {TeiAssigned, DlRelease, &LAPD::ta_release},                     // 3
    {AwaitingEstablishment, DlRelease, &LAPD::ae_release},           // DISC: 3
    {MultipleFrameEstablished, DlRelease, &LAPD::mf_release},        // DISC: 5
    {TimerRecovery, DlRelease, &LAPD::tr_release},                   // DISC: 5
    // SABME (V(S), V(A), V(R) reset first)
    {TeiAssigned, RxSabme, &LAPD::ta_sabme},                         // UA: 6 | DM: 3
    {AwaitingEstablishment, RxSabme, &LAPD::ae_sabme},               // UA: 4
    {AwaitingRelease, RxSabme, &LAPD::ar_sabme},                     // DM: 5
    {MultipleFrameEstablished, RxSabme, &LAPD::mf_sabme},            // UA, MDL-ERROR 32: 6
    {TimerRecovery, RxSabme, &LAPD::mf_sabme},                       // UA, MDL-ERROR 32: 6
    // DISC
    {TeiAssigned, RxDisc, &LAPD::dm_response},                       // DM: 3
    {AwaitingEstablishment, RxDisc, &LAPD::dm_response},             // DM: 4
    {AwaitingRelease, RxDisc, &LAPD::ar_disc},                       // UA: 5
    {MultipleFrameEstablished, RxDisc, &LAPD::mf_disc},              // UA, link loss: 3
    {TimerRecovery, RxDisc, &LAPD::tr_disc},                         // UA, link loss: 3
    // UA
    {TeiAssigned, RxUa, &LAPD::unsolicited_ua},                      // MDL-ERROR 4/8: 3
    {AwaitingEstablishment, RxUa, &LAPD::ae_ua},                     // F=1: 6 | MDL-ERROR 8: 4
    {AwaitingRelease, RxUa, &LAPD::ar_ua},                           // F=1: 3 | MDL-ERROR 8: 5
    {MultipleFrameEstablished, RxUa, &LAPD::unsolicited_ua},         // MDL-ERROR 4/8: 6
    {TimerRecovery, RxUa, &LAPD::unsolicited_ua},                    // MDL-ERROR 4/8: 7
    // DM
    {TeiAssigned, RxDm, &LAPD::ta_dm},                               // F=0, establishable: 4 | 3
    {AwaitingEstablishment, RxDm, &LAPD::ae_dm},                     // F=1: link loss 3 | 4
    {AwaitingRelease, RxDm, &LAPD::ar_dm},                           // F=1: link loss 3 | 5
    {MultipleFrameEstablished, RxDm, &LAPD::mf_dm},                  // F=1: MDL-ERROR 2, 6 | 16, 4
    {TimerRecovery, RxDm, &LAPD::tr_dm},                             // MDL-ERROR 2/16: 4
    // FRMR
    {MultipleFrameEstablished, RxFrmr, &LAPD::frmr},                 // MDL-ERROR 1024: 4
    {TimerRecovery, RxFrmr, &LAPD::frmr},                            // MDL-ERROR 1024: 4
    // Supervisory frames
    {MultipleFrameEstablished, RxRr, &LAPD::mf_rr},                  // 6 | N(R) error: 4
    {TimerRecovery, RxRr, &LAPD::tr_rr},                             // F=1: 6 | 7 | N(R) error: 4
    {MultipleFrameEstablished, RxRnr, &LAPD::mf_rnr},                // 6 | N(R) error: 4
    {TimerRecovery, RxRnr, &LAPD::tr_rnr},                           // F=1: 6 | 7 | N(R) error: 4
    {MultipleFrameEstablished, RxRej, &LAPD::mf_rej},                // 6 | N(R) error: 4
    {TimerRecovery, RxRej, &LAPD::tr_rej},                           // F=1: 6 | 7 | N(R) error: 4
    // I frames
    {MultipleFrameEstablished, RxI, &LAPD::iframe},                  // 6 | N(R) error: 4
    {TimerRecovery, RxI, &LAPD::iframe},                             // 7 | N(R) error: 4
    // T200
    {AwaitingEstablishment, T200Expiry, &LAPD::ae_t200},             // SABME: 4 | N200: 3
    {AwaitingRelease, T200Expiry, &LAPD::ar_t200},                   // DISC: 5 | N200: 3
    {MultipleFrameEstablished, T200Expiry, &LAPD::mf_t200},          // enquiry: 7
    {TimerRecovery, T200Expiry, &LAPD::tr_t200},                     // enquiry: 7 | N200: 4
    // T202
    {AssignAwaitingTei, T202Expiry, &LAPD::tei_t202},                // request: 1 | N202: 0
    {EstablishAwaitingTei, T202Expiry, &LAPD::tei_t202},             // request: 2 | N202: 0
    // T203
    {MultipleFrameEstablished, T203Expiry, &LAPD::mf_t203},          // enquiry: 7
};

const LAPD::TimerDef LAPD::kTimers[3] = {
    {"T200", 1000, &LAPDFullState::T200running, &LAPD::onT200},   // acknowledgement
    {"T202", 2000, &LAPDFullState::T202running, &LAPD::onT202},   // TEI request
    {"T203", 10000, &LAPDFullState::T203running, &LAPD::onT203},  // idle link
};

// ---------------------------------------------------------------------------

LAPD::LAPD(Side::type side, unsigned log) : side_(side), log_(log) {}

LAPD::~LAPD() = default;

void LAPD::PutHeader(std::ostream& os) const {
  os << "LAPD[" << linkno_ << "] (" << statetext(state) << "): ";
}

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(4); }

void LAPD::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD::dispatch(Event e) { dispatch(e, Rx()); }

void LAPD::dispatch(Event e, const Rx& rx) {
  for (const Transition& t : kTable) {
    if (t.state != state || t.event != e) continue;
    enter((this->*t.action)(rx));
    return;
  }
}

void LAPD::enter(uint32_t next, bool quiet) {
  if (next == state) return;
  bool recovery = (state == MultipleFrameEstablished && next == TimerRecovery) ||
                  (state == TimerRecovery && next == MultipleFrameEstablished);
  if (!quiet && logs(2) && !(recovery && log_ < 4))
    std::clog << "LAPD[" << linkno_ << "] : change state " << ext::quoted(statetext(state)) << " -> "
              << ext::quoted(statetext(next)) << std::endl;
  state = next;
}

void LAPD::up(Indication::Kind k, Packet p, Protocol_status_ptr s) {
  held_.hold(Indication{k, std::move(p), std::move(s)});
}

bool LAPD::flush() {
  return held_.flush([this](Indication& ind) {
    switch (ind.kind) {
      case Indication::Message: on_message(ind.packet); break;
      case Indication::Activate: on_activate(); break;
      case Indication::Deactivate: on_deactivate(ind.status); break;
      case Indication::StatusUp: on_status(ind.status); break;
    }
  });
}

void LAPD::status(const char* text) { up(Indication::StatusUp, Packet(), new Status(this, text)); }

void LAPD::on_error(const char* text) { status(text); }

void LAPD::on_error(unsigned code) {
  const char* text;
  switch (code) {
    case 1: text = "Supervisory (F = 1)"; break;
    case 2: text = "DM (F = 1)"; break;
    case 4: text = "UA (F = 1)"; break;
    case 8: text = "UA (F = 0)"; break;
    case 16: text = "Receipt of DM response (F = 0)"; break;
    case 32: text = "Peer initiated re-establishment - SABME"; break;
    case 64: text = "Unsuccessful retransmission (N200 times) - SABME"; break;
    case 128: text = "Unsuccessful retransmission (N200 times) - DISC"; break;
    case 256: text = "Unsuccessful retransmission (N200 times) - Status enquiry"; break;
    case 512: text = "Other - N(R) error"; break;
    case 1024: text = "Other - Receipt of FRMR response"; break;
    case 2048: text = "Other - Receipt of undefined frame"; break;
    case 4096: text = "Other - Receipt of I field not permitted"; break;
    case 8192: text = "Other - Receipt of frame with wrong size"; break;
    case 16384: text = "Other - N201 error"; break;
    case 32768: text = "Tei Assign - Tei denied"; break;
    default: text = "Other - Unknown"; break;
  }
  on_error(text);
}

void LAPD::mdlError(unsigned code) { on_error(code); }

void LAPD::linkLoss(const char* text) { up(Indication::Deactivate, Packet(), new Status(this, text)); }

void LAPD::released(const char* text) {
  up(Indication::Deactivate, Packet(), new Protocol_status_success(this, text));
}

// ---------------------------------------------------------------------------
// Entry points

void LAPD::local_activate() {
  if (logs(1)) std::clog << ext::header(this) << "DL-ESTABLISH" << std::endl;
  dispatch(DlEstablish);
  if (flush()) localEvents();
}

void LAPD::local_deactivate() {
  if (logs(2)) std::clog << ext::header(this) << "DL-RELEASE" << std::endl;
  dispatch(DlRelease);
  if (flush()) localEvents();
}

void LAPD::on_hdlc_ready() { localEvents(); }

void LAPD::message(Packet& p) {
  ++stats_.tx;
  if (p.null() || p.empty()) {
    ++stats_.empty;
    return;
  }
  if (out_.count() >= kOutQueued) {
    std::clog << ext::header(this) << "discard outgoing message: buffer overflow" << std::endl;
    ++stats_.outOverflows;
  } else {
    if (logs(3)) {
      if (out_.count() > kWindow)
        std::clog << ext::header(this) << "outgoing queue size = " << out_.count()
                  << " tx counter = " << stats_.tx << std::endl;
      std::clog << ext::header(this) << "add to tx queue: " << p << std::endl;
    }
    out_.put(p);
    QueuedUp = true;
  }
  if (state == TeiUnassigned) {
    // A BRI user side has to ask for a TEI before anything can go out;
    // elsewhere the state only records that layer 3 is waiting.
    if (bri_ && side_ == Side::user) beginTeiAssign();
    else enter(AssignAwaitingTei);
  }
  if (out_.count() > kCongestedAbove) setFlow(FlowStatus::congested);
  if (flush()) localEvents();
}

void LAPD::receive(Packet& frame) {
  const Packet& f = frame;
  if (f.null() || f.length() < 2) return;
  const unsigned n = f.length();
  if (logs(3)) trace("rx:", f, true);
  if (f[0] & 1) return;
  if (!(f[1] & 1)) return;
  const bool crBit = f[0] & 2;
  Rx rx;
  rx.command = side_ == Side::user ? crBit : !crBit;
  const unsigned sapi = f[0] >> 2, tei = f[1] >> 1;
  if (bri_ && side_ == Side::user && tei != unsigned(selfTEI) && tei != kGroupTei) return;
  if (n < 3) return;
  const unsigned char control = f[2];
  Event e = RxI;
  bool ui = false;
  if ((control & 3) == 1) {
    if (n < 4) return;
    unsigned code = (control >> 2) & 3;
    if (code == 3) {
      peerSAPI = sapi, peerTEI = tei;
      if (flush()) localEvents();
      return;
    }
    static const Event kS[] = {RxRr, RxRnr, RxRej};
    static const char* const kNames[] = {"RR ", "RNR ", "REJ "};
    e = kS[code];
    rx.pf = f[3] & 1;
    rx.nr = f[3] >> 1;
    if (logs(4))
      std::clog << ext::header(this) << kNames[code] << (rx.command ? "command" : "response")
                << " pf=" << rx.pf << std::endl;
  } else if ((control & 1) == 0) {
    if (n < 4) return;
    e = RxI;
    rx.ns = control >> 1;
    rx.nr = f[3] >> 1;
    rx.pf = f[3] & 1;
    rx.info = frame.sub(n - 4, 4);
    if (logs(4)) std::clog << ext::header(this) << "I-Command pf=" << rx.pf << std::endl;
  } else {
    rx.pf = control & kPF;
    const char* name = nullptr;
    switch (control & ~kPF) {
      case SABME: e = RxSabme, name = "SABME "; break;
      case DISC: e = RxDisc, name = "DISC "; break;
      case UA: e = RxUa, name = "UA "; break;
      case DM: e = RxDm, name = "DM "; break;
      case FRMR: e = RxFrmr, name = "FRMR "; break;
      case UI: ui = true; break;
      default:
        peerSAPI = sapi, peerTEI = tei;
        if (flush()) localEvents();
        return;
    }
    if (name && logs(4)) {
      std::clog << ext::header(this) << name << (rx.command ? "command" : "response");
      if (e == RxFrmr) std::clog << " pf=" << rx.pf;
      std::clog << std::endl;
    }
    if (ui) rx.info = frame.sub(n - 3, 3);
  }
  peerSAPI = sapi;
  peerTEI = tei;
  if (ui) {
    onUI(rx.info);
  } else {
    if (e == RxSabme) resetSequence();
    // A stray UA in an established link must not reset its sequence
    // numbers: that would drop the unacknowledged frames unsent.
    if (e == RxUa && state != MultipleFrameEstablished && state != TimerRecovery) resetSequence();
    dispatch(e, rx);
  }
  if (flush()) localEvents();
}

// ---------------------------------------------------------------------------
// Actions

State LAPD::tu_establish(const Rx&) {
  RC = 0;
  // The TEI request enters "Assign awaiting TEI"; layer 3 asked for the
  // link, so the assignment that answers it has to establish it.
  if (bri_ && side_ == Side::user) beginTeiAssign();
  else on_mdl_assign();
  return EstablishAwaitingTei;
}

State LAPD::aat_establish(const Rx&) { return EstablishAwaitingTei; }

State LAPD::ta_establish(const Rx&) {
  establish();
  L3Initiated = true;
  return AwaitingEstablishment;
}

State LAPD::ae_establish(const Rx&) {
  discardQueue();
  L3Initiated = true;
  return AwaitingEstablishment;
}

State LAPD::mf_establish(const Rx&) {
  discardQueue();
  establish();
  L3Initiated = true;
  return AwaitingEstablishment;
}

State LAPD::ta_release(const Rx&) {
  released("success (deactivated locally)");
  return TeiAssigned;
}

State LAPD::ae_release(const Rx&) {
  discardQueue();
  RC = 0;
  txCommand(DISC, true);
  stopTimer(T203);
  stopTimer(T202);
  startTimer(T200);
  released("success (deactivated locally)");
  return TeiAssigned;
}

State LAPD::mf_release(const Rx&) {
  discardQueue();
  RC = 0;
  txCommand(DISC, true);
  stopTimer(T203);
  startTimer(T200);
  return AwaitingRelease;
}

State LAPD::tr_release(const Rx&) {
  discardQueue();
  RC = 0;
  txCommand(DISC, true);
  startTimer(T200);
  return AwaitingRelease;
}

State LAPD::ta_sabme(const Rx& rx) {
  if (!Establishable) {
    txResponse(DM, rx.pf);
    return TeiAssigned;
  }
  txResponse(UA, rx.pf);
  clearExceptions();
  startTimer(T203);
  QueuedUp = !out_.empty();
  up(Indication::Activate);
  return MultipleFrameEstablished;
}

State LAPD::ae_sabme(const Rx& rx) {
  txResponse(UA, rx.pf);
  return AwaitingEstablishment;
}

State LAPD::ar_sabme(const Rx& rx) {
  txResponse(DM, rx.pf);
  return AwaitingRelease;
}

State LAPD::mf_sabme(const Rx& rx) {
  txResponse(UA, rx.pf);
  clearExceptions();
  mdlError(32);
  up(Indication::Activate);
  stopTimer(T200);
  startTimer(T203);
  QueuedUp = !out_.empty();
  return MultipleFrameEstablished;
}

State LAPD::dm_response(const Rx& rx) {
  txResponse(DM, rx.pf);
  return State(state);
}

State LAPD::ar_disc(const Rx& rx) {
  txResponse(UA, rx.pf);
  return AwaitingRelease;
}

State LAPD::mf_disc(const Rx& rx) {
  discardQueue();
  txResponse(UA, rx.pf);
  stopTimer(T200);
  stopTimer(T203);
  linkLoss("remote error (DISC received)");
  return TeiAssigned;
}

State LAPD::tr_disc(const Rx& rx) {
  discardQueue();
  txResponse(UA, rx.pf);
  stopTimer(T200);
  linkLoss("remote error (DISC received)");
  return TeiAssigned;
}

State LAPD::unsolicited_ua(const Rx& rx) {
  mdlError(rx.pf ? 4 : 8);
  return State(state);
}

State LAPD::ae_ua(const Rx& rx) {
  if (!rx.pf) {
    mdlError(8);
    return AwaitingEstablishment;
  }
  stopTimer(T200);
  startTimer(T203);
  // What layer 3 queued while the link came up goes out now.
  QueuedUp = !out_.empty();
  up(Indication::Activate);
  return MultipleFrameEstablished;
}

State LAPD::ar_ua(const Rx& rx) {
  if (!rx.pf) {
    mdlError(8);
    return AwaitingRelease;
  }
  stopTimer(T200);
  released("success (UA received)");
  return TeiAssigned;
}

State LAPD::ta_dm(const Rx& rx) {
  if (rx.command || rx.pf || !Establishable) return TeiAssigned;
  establish();
  L3Initiated = true;
  return AwaitingEstablishment;
}

State LAPD::ae_dm(const Rx& rx) {
  if (rx.command || !rx.pf) return AwaitingEstablishment;
  discardQueue();
  stopTimer(T200);
  linkLoss("error (DM received)");
  return TeiAssigned;
}

State LAPD::ar_dm(const Rx& rx) {
  if (rx.command || !rx.pf) return AwaitingRelease;
  stopTimer(T200);
  linkLoss("error (DM received)");
  return TeiAssigned;
}

State LAPD::mf_dm(const Rx& rx) {
  if (!rx.command && rx.pf) {
    mdlError(2);
    return MultipleFrameEstablished;
  }
  mdlError(16);
  establish();
  L3Initiated = false;
  return AwaitingEstablishment;
}

State LAPD::tr_dm(const Rx& rx) {
  mdlError(!rx.command && rx.pf ? 2 : 16);
  establish();
  L3Initiated = false;
  return AwaitingEstablishment;
}

State LAPD::frmr(const Rx&) {
  mdlError(1024);
  establish();
  L3Initiated = false;
  return AwaitingEstablishment;
}

State LAPD::mf_rr(const Rx& rx) {
  peerBusy = false;
  if (rx.command && rx.pf) enquiryResponse();
  else if (!rx.command && rx.pf && logs(4))
    std::clog << ext::header(this) << "receive RR (solicited response) in MFE_EST" << std::endl;
  if (!nrValid(rx.nr)) return nrErrorRecovery();
  if (rx.nr == VS) {
    VA = rx.nr;
    stopTimer(T200);
    startTimer(T203);
  } else if (rx.nr != VA) {
    VA = rx.nr;
    startTimer(T200);
  }
  return MultipleFrameEstablished;
}

State LAPD::mf_rnr(const Rx& rx) {
  peerBusy = true;
  if (rx.command && rx.pf) enquiryResponse();
  else if (!rx.command && rx.pf) mdlError(1);
  if (!nrValid(rx.nr)) return nrErrorRecovery();
  VA = rx.nr;
  stopTimer(T203);
  startTimer(T200);
  return MultipleFrameEstablished;
}

State LAPD::mf_rej(const Rx& rx) {
  peerBusy = false;
  if (rx.command && rx.pf) enquiryResponse();
  else if (!rx.command && rx.pf) mdlError(1);
  if (!nrValid(rx.nr)) return nrErrorRecovery();
  stopTimer(T200);
  startTimer(T203);
  invokeRetransmission(rx.nr);
  return MultipleFrameEstablished;
}

State LAPD::tr_rr(const Rx& rx) { return trSupervisory(rx, RR); }
State LAPD::tr_rnr(const Rx& rx) { return trSupervisory(rx, RNR); }
State LAPD::tr_rej(const Rx& rx) { return trSupervisory(rx, REJ); }

State LAPD::trSupervisory(const Rx& rx, Code code) {
  peerBusy = code == RNR;
  if (!rx.command && rx.pf) {
    // The answer to our enquiry: back to normal, resending what is open.
    if (!nrValid(rx.nr)) return nrErrorRecovery();
    if (code != RNR) stopTimer(T200);
    if (code == RNR) startTimer(T200);
    else startTimer(T203);
    invokeRetransmission(rx.nr);
    return MultipleFrameEstablished;
  }
  if (rx.command && rx.pf) enquiryResponse();
  if (!nrValid(rx.nr)) {
    if (code == RR && logs(4))
      std::clog << ext::header(this) << "receive RR with out of order N(R)" << std::endl;
    return nrErrorRecovery();
  }
  VA = rx.nr;
  return TimerRecovery;
}

State LAPD::iframe(const Rx& rx) {
  if (ownBusy) {
    if (rx.pf) {
      txResponse(RNR, true);
      AckRQ = false;
    }
  } else if (rx.ns == VR) {
    ++VR;
    RejectException = false;
    ++stats_.rx;
    if (rx.pf) {
      AckRQ = false;
      txResponse(RR, true);
    } else {
      AckRQ = true;
    }
    up(Indication::Message, rx.info);
  } else {
    ++stats_.rejected;
    if (!RejectException) {
      RejectException = true;
      txResponse(REJ, rx.pf);
      AckRQ = false;
    } else if (rx.pf) {
      txResponse(RR, true);
      AckRQ = false;
    }
  }
  if (!nrValid(rx.nr)) return nrErrorRecovery();
  if (!peerBusy && state == MultipleFrameEstablished) {
    if (rx.nr == VS) {
      stopTimer(T200);
      startTimer(T203);
    } else if (rx.nr != VA) {
      startTimer(T200);
    }
  }
  VA = rx.nr;
  return State(state);
}

State LAPD::ae_t200(const Rx&) {
  if (RC == int(kN200)) {
    discardQueue();
    mdlError(64);
    linkLoss("link error (T200 expired N200 times)");
    return TeiAssigned;
  }
  ++RC;
  txCommand(SABME, true);
  startTimer(T200);
  return AwaitingEstablishment;
}

State LAPD::ar_t200(const Rx&) {
  if (RC == int(kN200)) {
    mdlError(128);
    linkLoss("link error (T200 expired N200 times)");
    return TeiAssigned;
  }
  ++RC;
  txCommand(DISC, true);
  startTimer(T200);
  return AwaitingRelease;
}

State LAPD::mf_t200(const Rx&) {
  RC = 0;
  enquiry();
  RC = 1;
  if (logs(2)) std::clog << ext::header(this) << "ack expired" << std::endl;
  return TimerRecovery;
}

State LAPD::tr_t200(const Rx&) {
  if (RC == int(kN200)) {
    if (logs(2)) std::clog << ext::header(this) << "ack error !!!" << std::endl;
    mdlError(256);
    establish();
    L3Initiated = false;
    return AwaitingEstablishment;
  }
  if (logs(2)) std::clog << ext::header(this) << "ack timeout expired RC=" << RC << std::endl;
  enquiry();
  ++RC;
  return TimerRecovery;
}

State LAPD::tei_t202(const Rx&) {
  if (RC > int(kN202)) {
    enter(TeiUnassigned, true);
    linkLoss("link error (T202 expired N202 times)");
    return TeiUnassigned;
  }
  ri_ = uint16_t(std::rand());
  riSet_ = true;
  txIdentity(IdentityRequest, ri_, kGroupTei);
  startTimer(T202);
  ++RC;
  return State(state);
}

State LAPD::mf_t203(const Rx&) {
  enquiry();
  RC = 0;
  return TimerRecovery;
}

// ---------------------------------------------------------------------------
// Procedures

void LAPD::establish() {
  clearExceptions();
  RC = 0;
  txCommand(SABME, true);
  stopTimer(T203);
  startTimer(T200);
}

void LAPD::clearExceptions() { peerBusy = ownBusy = RejectException = AckRQ = false; }

void LAPD::invokeRetransmission(Seq nr) {
  VA = nr;
  RetrRQ = true;
  QueuedUp = true;
}

void LAPD::enquiry() {
  txCommand(ownBusy ? RNR : RR, true);
  AckRQ = false;
  startTimer(T200);
  if (logs(4)) std::clog << ext::header(this) << "tx_enquiry, ownBusy=" << ownBusy << std::endl;
}

void LAPD::enquiryResponse() {
  txResponse(ownBusy ? RNR : RR, true);
  AckRQ = false;
  if (logs(4)) std::clog << ext::header(this) << "tx_enquiry_response" << std::endl;
}

State LAPD::nrErrorRecovery() {
  ++stats_.badconfirm;
  mdlError(512);
  establish();
  L3Initiated = false;
  return AwaitingEstablishment;
}

void LAPD::discardQueue() {
  if (logs(1))
    std::clog << ext::header(this) << "discard queue " << " OutData=" << out_.count()
              << " AckData=" << ack_.count() << std::endl;
  // Taken out one by one, so that the buffers go back to the pool now.
  while (out_.get(nullptr)) {
  }
  while (ack_.get(nullptr)) {
  }
}

void LAPD::resetSequence() {
  VS = VA = VR = 0;
  while (ack_.get(nullptr)) {
  }
}

void LAPD::beginTeiAssign() {
  if (!bri_ || side_ != Side::user) return;
  enter(AssignAwaitingTei);
  on_mdl_assign();
  ri_ = uint16_t(std::rand());
  riSet_ = true;
  txIdentity(IdentityRequest, ri_, kGroupTei);
  RC = 0;
  stopTimer(T200);
  stopTimer(T203);
  startTimer(T202);
}

void LAPD::mdl_assign(unsigned char tei) {
  if (logs(2)) std::clog << ext::header(this) << "MDL-ASSIGN" << " (tei=" << unsigned(tei) << ")" << std::endl;
  selfTEI = tei;
  if (state == EstablishAwaitingTei) {
    establish();
    L3Initiated = true;
    enter(AwaitingEstablishment);
  } else {
    enter(TeiAssigned);
  }
}

void LAPD::mdl_remove() {
  if (logs(1)) std::clog << ext::header(this) << "MDL-REMOVE" << std::endl;
  switch (state) {
    case TeiAssigned:
      discardQueue();
      enter(TeiUnassigned);
      break;
    case AwaitingEstablishment:
    case MultipleFrameEstablished:
    case TimerRecovery:
      discardQueue();
      stopTimer(T200);
      if (state == MultipleFrameEstablished) stopTimer(T203);
      enter(TeiUnassigned);
      linkLoss("error (MDL-REMOVE received)");
      break;
    case AwaitingRelease:
      stopTimer(T200);
      enter(TeiUnassigned);
      linkLoss("error (MDL-REMOVE received)");
      break;
    default:
      break;
  }
}

void LAPD::onUI(const Packet& info) {
  if (!bri_ || info.null() || info.empty()) return;
  if (logs(4)) std::clog << ext::header(this) << "on_UI()" << std::endl;
  if (info[0] != kManagementId) {
    if (side_ == Side::user) {
      if (state == AwaitingEstablishment) enter(TeiAssigned);
      if (state == TeiAssigned) {
        if (logs(1)) std::clog << ext::header(this) << "DL-ESTABLISH" << std::endl;
        dispatch(DlEstablish);
      }
    }
    up(Indication::Message, info);
    return;
  }
  if (info.length() <= 4) return;
  const unsigned ri = info[1] | unsigned(info[2]) << 8;
  const unsigned type = info[3];
  const unsigned ai = info[4] >> 1;
  if (logs(4)) std::clog << ext::header(this) << "on_UI() type=" << type << " Ai=" << ai << std::endl;
  const bool ownRi = riSet_ && ri == ri_;
  const bool forUs = ai == kGroupTei || ai == unsigned(selfTEI);
  switch (type) {
    case IdentityAssigned:
      // 127 is the group address and never a terminal's own.
      if ((state == AssignAwaitingTei || state == EstablishAwaitingTei) && ownRi && ai != kGroupTei) {
        mdl_assign(static_cast<unsigned char>(ai));
        stopTimer(T202);
        startTimer(T200);
      }
      break;
    case IdentityDenied:
      if (state == AssignAwaitingTei && ownRi) {
        if (ai == kGroupTei) std::clog << ext::header(this) << "ASP returned: All TEI's used" << std::endl;
        else std::clog << ext::header(this) << "ASP returned: TEI " << ai << " denied" << std::endl;
        mdlError(0x8000);
      }
      break;
    case IdentityCheckRequest:
      if (state >= TeiAssigned && state <= TimerRecovery && forUs)
        txIdentity(IdentityCheckResponse, ri_, unsigned(selfTEI));
      break;
    case IdentityRemove:
      if (forUs) {
        mdl_remove();
        beginTeiAssign();
      }
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Timers

void LAPD::startTimer(TimerId t) {
  static const char* const kStart[3][3] = {
      {nullptr, "trying to start T200 while T202 running", "trying to start T200 while T203 running"},
      {"trying to start T202 while T200 running", nullptr, "trying to start T202 while T203 running"},
      {"trying to start T203 while T200 running", "trying to start T203 while T202 running", nullptr},
  };
  for (int o = T200; o <= T203; ++o)
    if (o != t && this->*kTimers[o].running) status(kStart[t][o]);
  const TimerDef& d = kTimers[t];
  this->*d.running = true;
  timer_.set(d.ms, d.expiry, this);
}

void LAPD::stopTimer(TimerId t) {
  // The order of the reports for each timer stopped.
  static const int kOthers[3][2] = {{T203, T202}, {T200, T203}, {T200, T202}};
  static const char* const kStop[3][2] = {
      {"trying to stop T200 while T203 running", "trying to stop T200 while T202 running"},
      {"trying to stop T202 while T200 running", "trying to stop T202 while T203 running"},
      {"trying to stop T203 while T200 running", "trying to stop T203 while T202 running"},
  };
  if (!(this->*kTimers[t].running)) return;
  for (int i = 0; i < 2; ++i)
    if (this->*kTimers[kOthers[t][i]].running) status(kStop[t][i]);
  this->*kTimers[t].running = false;
  timer_.reset();
}

void LAPD::onT200() { expired(T200, T200Expiry, &Stats::t200); }
void LAPD::onT202() { expired(T202, T202Expiry, &Stats::t202); }
void LAPD::onT203() {
  std::clog << ext::header(this) << "T203." << std::endl;
  expired(T203, T203Expiry, &Stats::t203);
}

void LAPD::expired(TimerId t, Event e, uint32_t Stats::*counter) {
  this->*kTimers[t].running = false;
  ++(stats_.*counter);
  dispatch(e);
  if (flush()) localEvents();
}

// ---------------------------------------------------------------------------
// Local events

void LAPD::localEvents() {
  unsigned dropped = 0;
  while (ack_.count() > unsigned(VS - VA)) {
    ack_.get(nullptr);
    ++dropped;
  }
  if (dropped && logs(3))
    std::clog << ext::header(this) << "acknowledge " << dropped << " frames" << " VS=" << unsigned(VS)
              << " VA=" << unsigned(VA) << std::endl;
  if (logs(3) && out_.empty()) std::clog << ext::header(this) << "outgoing queue empty." << std::endl;
  if (RetrRQ) {
    if (logs(1) && !ack_.empty())
      std::clog << ext::header(this) << "retransmission " << " VS=" << unsigned(VS) << " VA=" << unsigned(VA)
                << std::endl;
    VS = VA;
    Packet p;
    while (ack_.get_last(&p)) {
      out_.append(p);
      ++stats_.retrains;
    }
    RetrRQ = false;
  }
  while (QueuedUp) {
    QueuedUp = false;
    if (state == MultipleFrameEstablished) {
      if (peerBusy || VS == VA + Seq(kWindow)) {
        QueuedUp = true;
        break;
      }
      Packet next;
      if (!out_.preview(&next)) break;
      if (!txIFrame(next, false)) {
        QueuedUp = true;
        break;
      }
      out_.get(nullptr);
      if (!ack_.put(next)) {
        std::clog << ext::header(this) << "ack queue overflow!" << std::endl;
        ++stats_.ackOverflows;
      }
      ++VS;
      AckRQ = false;
      if (!T200running) {
        stopTimer(T203);
        startTimer(T200);
      }
      QueuedUp = !out_.empty();
    } else if (state == TimerRecovery) {
      QueuedUp = true;
      break;
    } else if (state == AwaitingEstablishment) {
      QueuedUp = !L3Initiated;
      break;
    } else {
      break;
    }
  }
  if (AckRQ && (state == MultipleFrameEstablished || state == TimerRecovery)) {
    txResponse(RR, false);
    AckRQ = false;
  }
  if (out_.count() < kNormalBelow) setFlow(FlowStatus::normal);
  flush();  // timer inconsistencies found on the way
}

void LAPD::setFlow(FlowStatus::Type f) {
  if (f == flow_) return;
  flow_ = f;
  if (notify_) notify_->OnLAPD_FlowStatusChange(this);
}

// ---------------------------------------------------------------------------
// Frames out

unsigned char LAPD::address(bool command) const {
  // Commands from the network and responses from the user carry C/R = 1.
  bool cr = (side_ == Side::network) == command;
  return static_cast<unsigned char>(selfSAPI << 2 | (cr ? 2 : 0));
}

Packet LAPD::newFrame() {
  Packet p;
  p.reserve_head(0);
  descend_prepare_head(p);
  return p;
}

void LAPD::txCommand(unsigned char code, bool pf) { txFrame(code, pf, true); }
void LAPD::txResponse(unsigned char code, bool pf) { txFrame(code, pf, false); }

void LAPD::txFrame(unsigned char code, bool pf, bool command) {
  Packet f = newFrame();
  f.put8(address(command));
  f.put8(static_cast<unsigned char>(selfTEI << 1 | 1));
  if (code == RR || code == RNR || code == REJ) {
    f.put8(code);
    f.put8(static_cast<unsigned char>(unsigned(VR) << 1 | (pf ? 1 : 0)));
  } else {
    f.put8(static_cast<unsigned char>(code | (pf ? kPF : 0)));
  }
  xmit(f);
}

bool LAPD::txIFrame(const Packet& message, bool p) {
  Packet f = message;
  if (f._headroom() < 4) {
    // A message built without our head room: copy it behind a fresh head.
    Packet g;
    g.reserve_head(4);
    descend_prepare_head(g);
    const unsigned char* b = &message[0];
    std::copy(b, b + message.length(), g.put(message.length()));
    f = g;
  }
  unsigned char* h = f.push(4);
  h[0] = address(true);
  h[1] = static_cast<unsigned char>(selfTEI << 1 | 1);
  h[2] = static_cast<unsigned char>(unsigned(VS) << 1);
  h[3] = static_cast<unsigned char>(unsigned(VR) << 1 | (p ? 1 : 0));
  return xmit(f);
}

void putIdentity(Packet& f, bool fromNetwork, unsigned ri, TeiMessage type, unsigned ai) {
  f.put8(static_cast<unsigned char>(kTeiSapi << 2 | (fromNetwork ? 2 : 0)));
  f.put8(kGroupTei << 1 | 1);
  f.put8(UI);
  f.put8(kManagementId);
  f.put8(static_cast<unsigned char>(ri & 0xFF));
  f.put8(static_cast<unsigned char>(ri >> 8 & 0xFF));
  f.put8(type);
  f.put8(static_cast<unsigned char>(ai << 1 | 1));
}

void LAPD::txIdentity(TeiMessage type, unsigned ri, unsigned ai) {
  Packet f = newFrame();
  putIdentity(f, side_ == Side::network, ri, type, ai);
  xmit(f);
}

bool LAPD::xmit(Packet& frame) {
  if (!hdlc_) {
    if (logs(4)) std::clog << ext::header(this) << "no HDLC device attached!!!" << std::endl;
    return false;
  }
  if (logs(3)) trace("tx: ", frame, false);
  if (!hdlc_->hdlc_transmit(frame)) {
    std::clog << ext::header(this) << "tx full" << std::endl;
    return false;
  }
  return true;
}

void LAPD::trace(const char* what, const Packet& frame, bool received) {
  // Received frames come from the peer: network->user on the user side.
  bool networkToUser = received == (side_ == Side::user);
  const unsigned char* b = &frame[0];
  dlogframe(b, frame.length(), networkToUser ? 1 : 0, logbuf);
  std::clog << ext::header(this) << what << logbuf << std::endl;
}

// ---------------------------------------------------------------------------

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const {
  info.set_msuTxCount(int(stats_.tx));
  info.set_msuRxCount(int(stats_.rx));
  info.set_mT200(int(stats_.t200));
  info.set_mT203(int(stats_.t203));
  info.set_errors(int(stats_.errors));
  info.set_retrains(int(stats_.retrains));
  info.set_rejected(int(stats_.rejected));
  info.set_badconfirm(int(stats_.badconfirm));
  info.set_outOverflows(int(stats_.outOverflows));
  info.set_ackOverflows(int(stats_.ackOverflows));
  if (state < 8) info.set_lapdState(ACP::LAPDState::NamedNumber(state));
  info.set_rc(RC);
  info.set_peerBusy(peerBusy);
  info.set_ownBusy(ownBusy);
  info.set_rejException(RejectException);
  info.set_ackPending(false);
  info.set_l3Initiated(L3Initiated);
  info.set_establishable(Establishable);
  info.set_queuedUpRQ(QueuedUp);
  info.set_retrRQ(RetrRQ);
  info.set_ackRQ(AckRQ);
  info.set_t200run(T200running);
  info.set_t203run(T203running);
  info.set_vs(int(unsigned(VS)));
  info.set_va(int(unsigned(VA)));
  info.set_vr(int(unsigned(VR)));
  info.set_queueOut(int(out_.count()));
  info.set_queueAck(int(ack_.count()));
  // The caller's side is its own business; compare without it.
  ACP::IsdnLinkInfo mine = info;
  mine.set_side(lastInfo_.get_side());
  if (mine == lastInfo_) return false;
  lastInfo_ = mine;
  return true;
}

}  // namespace ISDN
