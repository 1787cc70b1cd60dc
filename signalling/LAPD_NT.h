#pragma once
// The network side of an ISDN BRI D channel with up to 8 terminals: the
// TEI management of the network (TEIs 64 to 126 assigned, checked every
// 60000 ms, duplicates and strangers removed) and one simple Q.921
// endpoint per terminal, which establishes the link towards its terminal,
// carries I frames both ways and polls the terminal when idle. Layer-3
// SETUP goes to every terminal as a UI broadcast on TEI 127; every other
// message goes to the terminal whose last call reference matches.
//
// A protocol layer: frames go down with `transmit`, layer-3 messages up
// with `on_message`.
#include <cstdint>
#include <ostream>

#include "runtime/Packet.h"
#include "runtime/Protocol.h"
#include "runtime/Timer.h"
#include "signalling/CleanQueue.h"
#include "signalling/Cyclic.h"
#include "signalling/LAPD.h"

namespace ISDN {

class LAPD_NT;

class LAPD_NT_user {
 public:
  enum EndpointState : uint32_t { Unassigned = 0, Assigned = 1, WaitAnswer = 2 };
  // Timers of an endpoint.
  static constexpr unsigned kRetryMs = 1000;   // waiting for the terminal's answer
  static constexpr unsigned kIdleMs = 10000;   // idle link: poll the terminal
  static constexpr unsigned kCheckMs = 2000;   // to answer a TEI check
  static constexpr unsigned kRetries = 3;      // polls repeated before giving up
  static constexpr unsigned kHeld = 128;       // messages held for a busy terminal

  LAPD_NT_user() = default;
  ~LAPD_NT_user();
  LAPD_NT_user(const LAPD_NT_user&) = delete;
  LAPD_NT_user& operator=(const LAPD_NT_user&) = delete;

  bool is_check() const { return check_; }
  unsigned char get_Tei() const { return tei_; }
  void set_Tei(unsigned char tei) { tei_ = tei; }
  bool is_assigned() const { return state_ != Unassigned; }
  void set_lapd(LAPD_NT* l) { lapd_ = l; }
  void set_log(unsigned level) { log_ = level; }
  uint32_t state() const { return state_; }
  unsigned ackQueued() const { return ack_.count(); }

  // Assignment (or, under a check, the check answered).
  void assign();
  void unassign();
  // Starts a TEI check of an assigned endpoint.
  void checking();
  // One frame from the terminal, from the control octet on; cr: the
  // frame's C/R bit (0: a command from the terminal).
  void receive(const Packet& frame, bool cr);
  // A layer-3 message from above; false when it is not this terminal's.
  bool message(const Packet& m);
  void remember(uint16_t ri) { ri_ = ri, riSet_ = true; }
  bool remembered(uint16_t ri) const { return riSet_ && ri == ri_; }

  // "LAPD_user(NT BRI)[Tei=<n>,assigned]:"
  void PutHeader(std::ostream& os) const;

 private:
  bool logs() const { return log_ >= 2; }
  void onIFrame(const Packet& f, bool p, Seq ns, Seq nr);
  void onTimer();
  bool ackQueue(Seq nr);
  void setUnbusy();
  void retransmit();
  void sendI(const Packet& m);
  void idle();
  // After an accepted N(R): send what waits, then idle or wait for answers.
  void afterAck(bool advanced, bool waiting);
  void clearBusy();
  bool sendHeld();
  bool windowFull() const { return unsigned(vs_ - va_) >= kWindow; }
  void txU(unsigned char code, bool pf, bool command);
  void txS(unsigned char code, bool pf, bool command);

  bool check_ = false;
  LAPD_NT* lapd_ = nullptr;
  Seq vr_, va_, vs_;
  unsigned char tei_ = 0;
  uint32_t state_ = Unassigned;
  Timer linkTimer_;
  Timer checkTimer_;
  unsigned retries_ = 0;
  unsigned char callref_ = 0;
  bool busy_ = false;
  bool rejected_ = false;  // a REJ went out for the current gap
  unsigned log_ = 0;
  CleanQueue<Packet, 135> out_;
  CleanQueue<Packet, kWindow> ack_;
  uint16_t ri_ = 0;
  bool riSet_ = false;
};

class LAPD_NT : public Protocol {
 public:
  static constexpr unsigned kEndpoints = 8;
  static constexpr unsigned kFirstTei = 64;
  static constexpr unsigned kLastTei = 126;
  static constexpr unsigned kCheckPeriodMs = 60000;

  LAPD_NT();
  ~LAPD_NT() override;

  void set_log(unsigned level);
  unsigned log() const { return log_; }

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& frame) override;

  void send_to_layer3(Packet& p) { on_message(p); }
  void send_to_layer1(Packet& p) { transmit(p); }
  // A frame with the head room of the layers below.
  Packet newFrame();
  void tx_identity(unsigned ri, unsigned ai, TeiMessage type);

  LAPD_NT_user* find_Tei(unsigned char tei);
  LAPD_NT_user* find_free_Tei(unsigned char tei);
  LAPD_NT_user& endpoint(unsigned i) { return users_[i]; }

  // "LAPD(NT BRI):"
  void PutHeader(std::ostream& os) const;

 private:
  void onTeiProcedure(const Packet& m);
  void checkAllTei();
  void removeTei(unsigned ai);

  Timer checkTimer_;
  LAPD_NT_user users_[kEndpoints];
  unsigned log_ = 0;
};

}  // namespace ISDN
