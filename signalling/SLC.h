#pragma once
// Level 2 of an SS7 signalling link (ITU-T Q.703 with basic error
// correction) on one HDLC channel: initial alignment by link status signal
// units, proving, then message signal units both ways with forward and
// backward sequence numbers, positive and negative acknowledgement and
// retransmission, and fill-in signal units in between. There are no
// error-rate monitors, processor outage or level-2 flow control.
//
// The link is one table of (state, event) -> action, where the action
// does the work and returns the next state (or Stay); `enter` is the one
// place that changes and logs the state, runs the leaving and entering
// steps and arms the new state's timer. Every timer is one row of data.
// Upward indications (MSUs, link up, link down) are held until the event
// that raised them is handled, so that a listener that calls back into the
// link, or destroys it, finds it consistent.
//
// Signal units handed to and taken from the channel (flags and check bits
// are the channel's):
//   octet 0  BSN (bits 0-6), BIB (bit 7)
//   octet 1  FSN (bits 0-6), FIB (bit 7)
//   octet 2  length indicator: 0 FISU, 1 or 2 LSSU, 3..63 MSU (63: 63 or more)
//   octet 3  LSSU status, or the MSU's service information octet and field
#include <cstdint>
#include <ostream>
#include <vector>

#include "hardware/HDLC.h"
#include "runtime/Packet.h"
#include "runtime/Protocol.h"
#include "runtime/Timer.h"
#include "signalling/CleanQueue.h"
#include "signalling/Cyclic.h"
#include "signalling/HeldIndications.h"

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
 public:
  using Seq = Cyclic<unsigned, 127>;

  // The numbers are those of the control protocol's ACP::SS7State.
  enum StateId : unsigned { Idle = 0, NotAligned = 1, Aligned = 2, Proving = 3, AlignedReady = 4, InService = 5 };
  // LSSU status (the low bits of its status octet).
  enum Indication : unsigned { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

  // Set together by the controller.
  struct Trace {
    bool state = false;
    bool rawReceive = false;
    bool rawTransmit = false;
    bool mtpTransmit = false;
    bool mtpReceive = false;
    bool mtpActivate = false;
    bool timers = false;
    bool msuProcessing = false;
  };

  struct Statistics {
    uint32_t suSent = 0;
    uint32_t suReceived = 0;
    uint32_t octetsSent = 0;
    uint32_t octetsReceived = 0;
    uint32_t tbOverflows = 0;
    uint32_t rtbSize = 0;
    uint32_t retransmissions = 0;
    uint32_t nacks = 0;
  };

  // A level-2 timer: its name, its value and the line its expiry writes
  // (with the timers switch).
  struct TimerVal {
    const char* name;
    unsigned ms;
    const char* expired;
  };
  static const TimerVal T1;   // aligned ready: waiting for the peer's FISU
  static const TimerVal T2;   // not aligned: waiting for the peer's SIO
  static const TimerVal T3;   // aligned: waiting for the peer's SIN or SIE
  static const TimerVal T4n;  // proving period, normal
  static const TimerVal T4e;  // proving period, emergency
  static const TimerVal T7;   // in service: waiting for an acknowledgement

  static constexpr unsigned kTbNew = 200;        // MSUs from above that may wait
  static constexpr unsigned kMaxOutstanding = 127;

  SLC();
  ~SLC() override;

  // Configuration by the owner, once.
  void hdlc(GenericHDLC* h) { hdlc_ = h; }
  void set_linkno(unsigned n) { linkno_ = n; }
  void set_slc(unsigned n) { slc_ = n; }
  void set_dpc(unsigned n) { dpc_ = n; }
  void set_opc(unsigned n) { opc_ = n; }
  void set_emergency(bool e) { emergency_ = e; }
  Trace& trace() { return trace_; }

  // Protocol.
  const Protocol_name& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;  // 3 octets
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;    // start alignment
  void local_deactivate() override;  // out of service
  void message(Packet& p) override;  // an MSU from above: SIO and SIF
  void receive(Packet& p) override;  // one signal unit from the line
  void protocol_info(std::ostream& os) const override;

  // HDLC::Notify.
  void on_hdlc_receive(Packet& frame) override { receive(frame); }
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // The trunk under the link: down takes it out of service.
  void OnTrunkHardStatus(bool up);

  unsigned get_bsn() const { return bsnToSend_; }
  unsigned get_state_id() const { return state_; }
  Statistics statistics() const;
  unsigned tbCount() const { return tb_.count(); }
  unsigned rtbCount() const { return rtbCount_; }

  // "SS7/L2 [dpc=<dpc>, slc=<slc>, trunk=<n>] (<state>): "
  void PutHeader(std::ostream& os) const;
  // The same up to the closing "]".
  void PutShortInfo(std::ostream& os) const;

  static const char* stateText(unsigned id);
  static void indicationText(std::ostream& os, unsigned status);

 private:
  enum Event {
    Activate, Deactivate, TrunkDown,
    RxFisu, RxSio, RxSinSie, RxOtherLssu, RxMsu,
    TxMessage, Expiry,
  };
  static constexpr int Stay = -1;
  // What an event brings: the received status, or the packet.
  struct Input {
    unsigned status = 0;
    Packet* packet = nullptr;
  };
  using Action = int (SLC::*)(Input&);
  struct Transition {
    StateId state;
    Event event;
    Action action;
  };
  static const Transition kTable[];
  struct StateDef {
    const char* text;
    void (SLC::*enter)();
  };
  static const StateDef kStates[6];

  struct Up {
    enum Kind { Message, Activated, Deactivated } kind;
    Packet packet;
  };

  // " BSN=.. BIB=.. FSN=.. FIB=.."
  struct DumpPtr {
    const SLC* link;
  };
  friend std::ostream& operator<<(std::ostream& os, const DumpPtr& d);

  void dispatch(Event e);
  void dispatch(Event e, Input& in);
  void enter(StateId next);
  // Delivers the held indications; false when a listener destroyed the link.
  bool flush();
  void up(Up::Kind k, Packet p = Packet());

  // Entering the states.
  void enterIdle();
  void enterNotAligned();
  void enterAligned();
  void enterProving();
  void enterAlignedReady();
  void enterInService();

  // The table's actions.
  int activateIdle(Input&);
  int activateIgnored(Input&);
  int activateInService(Input&);
  int toIdle(Input&);
  int trunkDown(Input&);
  int toAligned(Input&);
  int toProving(Input&);
  int toInService(Input&);
  int toAlignedReady(Input&);
  int expiredToIdle(Input&);
  int lssuInService(Input&);
  int fisuInService(Input&);
  int msuInService(Input&);
  int messageInService(Input&);
  int t7Expired(Input&);

  // Basic error correction; false when the link has to go idle.
  void takeExpected();
  bool processBsnr();
  void nack();
  void retransmit();
  void processTb();
  void putToTb(Packet& p);
  void reset();

  // Signal units out.
  bool send(const Packet& payload);
  void sendFisu();
  void lssu(Indication status);
  void sio() { lssu(SIO); }
  void sin() { lssu(SIN); }
  void sie() { lssu(SIE); }
  void sios() { lssu(SIOS); }

  void arm(const TimerVal& t);
  void onTimer();
  const TimerVal* timer_ = nullptr;  // the one armed

  Trace trace_;
  Seq rxBsn_;
  bool rxBib_ = false;
  Seq rxFsn_;
  bool rxFib_ = false;
  uint32_t rxLi_ = 0;
  Seq bsnToSend_ = 127;
  bool bibToSend_ = true;
  Seq fsnToSend_ = 127;
  bool fibToSend_ = true;
  Seq expectedFsn_;
  bool expectedFib_ = false;
  bool expectedBib_ = false;
  bool retransmissionAwaited_ = false;
  bool badBsn_ = false;
  bool badFib_ = false;
  Packet rtb_[128];
  Seq oldest_ = 0;
  Seq lastAssigned_ = 127;
  uint32_t rtbCount_ = 0;
  CleanQueue<Packet, 327> tb_;
  unsigned linkno_ = 0;
  Timer timer_t_;
  StateId state_ = Idle;
  bool emergency_ = false;
  unsigned slc_ = 0, dpc_ = 0, opc_ = 0;
  Statistics stats_;
  GenericHDLC* hdlc_ = nullptr;
  Protocol_name_str name_{"MTP/L2"};

  HeldIndications<Up> held_;
};

std::ostream& operator<<(std::ostream& os, SLC::StateId id);

}  // namespace SS7
