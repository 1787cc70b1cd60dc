#pragma once
// The Q.921 data link layer of one ISDN D channel: a primary-rate link with
// the fixed TEI 0, or a basic-rate link whose user side gets its TEI from
// the network through the TEI management procedure. It is the bottom layer
// of a slot's protocol stack and sends its frames straight to an HDLC
// transmitter; received frames come in through its HDLC::Notify face.
//
// The link's behaviour is one table of (state, event) -> action, where the
// action does the work and returns the next state; `enter` is the one place
// that changes (and logs) the state. Upward indications (layer-3 messages,
// establishment, release) are held until the transition that raised them
// has set its next state, so that a listener that calls back into the link
// or destroys it finds it consistent.
#include <cstdint>
#include <ostream>
#include <vector>

#include "hardware/HDLC.h"
#include "protocol/ACP/ACP.h"
#include "runtime/Packet.h"
#include "runtime/Protocol.h"
#include "runtime/Timer.h"
#include "signalling/CleanQueue.h"
#include "signalling/Cyclic.h"
#include "signalling/DlogFrame.h"
#include "signalling/HeldIndications.h"

namespace ISDN {

using Seq = Cyclic<unsigned, 127>;

struct Side {
  enum type { user = 0, network = 1 };
};
const char* sidetext(Side::type s);

// The link states; the numbers are those of the control protocol's
// ACP::LAPDState.
enum State : uint32_t {
  TeiUnassigned = 0,
  AssignAwaitingTei = 1,
  EstablishAwaitingTei = 2,
  TeiAssigned = 3,
  AwaitingEstablishment = 4,
  AwaitingRelease = 5,
  MultipleFrameEstablished = 6,
  TimerRecovery = 7,
};
const char* statetext(unsigned state);

// Shared by every link's frame trace; filled and logged within one call.
extern char logbuf[kLogBufSize];

// Protocol constants of the link.
constexpr unsigned kWindow = 7;         // k: outstanding I frames
constexpr unsigned kN200 = 3;           // retransmissions of SABME, DISC and enquiries
constexpr unsigned kN202 = 3;           // repetitions of the TEI request
constexpr unsigned kSapi = 0;           // call control
constexpr unsigned kTeiSapi = 63;       // TEI management
constexpr unsigned kGroupTei = 127;
constexpr unsigned kManagementId = 0x0F;
constexpr unsigned kOutQueued = 128;    // layer-3 messages accepted into the out queue
constexpr unsigned kCongestedAbove = 88;
constexpr unsigned kNormalBelow = 65;

// TEI management message types.
enum TeiMessage : unsigned char {
  IdentityRequest = 1,
  IdentityAssigned = 2,
  IdentityDenied = 3,
  IdentityCheckRequest = 4,
  IdentityCheckResponse = 5,
  IdentityRemove = 6,
  IdentityVerify = 7,
};

// Appends the 8 octets of a TEI management message (a UI frame on SAPI
// 63, group TEI 127) to f: first octet 0xFC from the user side, 0xFE from
// the network side; Ri low-order octet first.
void putIdentity(Packet& f, bool fromNetwork, unsigned ri, TeiMessage type, unsigned ai);

// Frame codes: S frames (with N(R) in the next octet) and U frames (P/F clear).
enum Code : unsigned char {
  RR = 0x01, RNR = 0x05, REJ = 0x09,
  UI = 0x03, DM = 0x0F, DISC = 0x43, UA = 0x63, SABME = 0x6F, FRMR = 0x87, XID = 0xAF,
};
constexpr unsigned char kPF = 0x10;  // P/F bit of a U frame's control octet

// The link's whole state, copied into every status it reports.
struct LAPDFullState {
  uint32_t state = TeiAssigned;
  int32_t selfTEI = 0;
  int32_t selfSAPI = kSapi;
  int32_t peerTEI = 0;
  int32_t peerSAPI = 0;
  int32_t RC = 0;  // retransmission counter of T200 and T202
  bool peerBusy = false;
  bool ownBusy = false;  // nothing sets it: this link never refuses I frames
  bool RejectException = false;
  bool L3Initiated = false;
  bool Establishable = true;
  bool QueuedUp = false;
  bool RetrRQ = false;
  bool AckRQ = false;
  bool T200running = false;
  bool T202running = false;
  bool T203running = false;
  Seq VS, VA, VR;

  void out(std::ostream& os) const;
};

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
 public:
  struct FlowStatus {
    enum Type { normal = 0, congested = 1 };
  };
  struct Stats {
    uint32_t t200 = 0, t202 = 0, t203 = 0;
    uint32_t errors = 0;    // nothing counts here
    uint32_t retrains = 0;  // frames put back for retransmission
    uint32_t outOverflows = 0, ackOverflows = 0;
    uint32_t tx = 0;  // every DL-DATA request
    uint32_t rx = 0;  // in-sequence I frames delivered
    uint32_t empty = 0;
    uint32_t rejected = 0;    // out-of-sequence I frames
    uint32_t badconfirm = 0;  // N(R) outside the window
  };
  class Notify {
   public:
    virtual ~Notify();
    virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
  };
  // An error of the link with a snapshot of its state.
  class Status : public Protocol_status_error, private LAPDFullState {
   public:
    Status(const LAPD* link, const std::string& text);
    void out(std::ostream& os) const override;
    const LAPDFullState& snapshot() const { return *this; }
  };

  LAPD(Side::type side, unsigned log);
  ~LAPD() override;

  // Configuration by the owner.
  void BindNotify(Notify* n) { notify_ = n; }
  void set_log(unsigned level) { log_ = level; }
  void set_linkno(unsigned n) { linkno_ = n; }
  void set_side(Side::type s) { side_ = s; }
  void hdlc(GenericHDLC* h) { hdlc_ = h; }
  // TEI management on; there is no way back.
  void change_to_bri() { bri_ = true; }

  FlowStatus::Type GetFlowStatus() const { return flow_; }
  const char* state_text() const { return statetext(state); }
  // Fills info; true when it differs from what the previous call returned.
  bool GetInfo(ACP::IsdnLinkInfo& info) const;
  const Stats& stats() const { return stats_; }
  const LAPDFullState& fullState() const { return *this; }
  unsigned outQueued() const { return out_.count(); }
  unsigned ackQueued() const { return ack_.count(); }

  // Protocol.
  const Protocol_name& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;    // DL-ESTABLISH request
  void local_deactivate() override;  // DL-RELEASE request
  void message(Packet& p) override;  // DL-DATA request
  void receive(Packet& frame) override;

  // "LAPD[<n>] (<state>): "
  virtual void PutHeader(std::ostream& os) const;

  // HDLC::Notify.
  void on_hdlc_receive(Packet& frame) override { receive(frame); }
  void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
  void on_hdlc_ready() override;

  // Management face (TEI procedure).
  virtual void mdl_assign(unsigned char tei);
  virtual void on_mdl_assign() {}
  virtual void mdl_remove();
  // MDL-ERROR indication with the code's text.
  virtual void on_error(unsigned code);
  void on_error(const char* text);

 private:
  enum Event {
    DlEstablish, DlRelease,
    RxSabme, RxDisc, RxUa, RxDm, RxFrmr, RxRr, RxRnr, RxRej, RxI,
    T200Expiry, T202Expiry, T203Expiry,
  };
  // What an event brings: the received frame's fields.
  struct Rx {
    bool command = false;
    bool pf = false;
    Seq nr, ns;
    Packet info;
  };
  using Action = State (LAPD::*)(const Rx&);
  struct Transition {
    State state;
    Event event;
    Action action;
  };
  static const Transition kTable[];

  enum TimerId { T200 = 0, T202 = 1, T203 = 2 };
  struct TimerDef {
    const char* name;
    unsigned ms;
    bool LAPDFullState::*running;
    void (LAPD::*expiry)();
  };
  static const TimerDef kTimers[3];

  struct Indication {
    enum Kind { Message, Activate, Deactivate, StatusUp } kind;
    Packet packet;
    Protocol_status_ptr status;
  };

  // Runs the table's action for the current state, if any, and enters
  // its next state.
  void dispatch(Event e);
  void dispatch(Event e, const Rx& rx);
  void enter(uint32_t next, bool quiet = false);
  // Delivers the held indications; false when a listener destroyed the link.
  bool flush();
  void up(Indication::Kind k, Packet p = Packet(), Protocol_status_ptr s = Protocol_status_ptr());
  void status(const char* text);
  void linkLoss(const char* text);
  void released(const char* text);

  // The table's actions, named state_event.
  State tu_establish(const Rx&);
  State aat_establish(const Rx&);
  State ta_establish(const Rx&);
  State ae_establish(const Rx&);
  State mf_establish(const Rx&);
  State ta_release(const Rx&);
  State ae_release(const Rx&);
  State mf_release(const Rx&);
  State tr_release(const Rx&);
  State ta_sabme(const Rx&);
  State ae_sabme(const Rx&);
  State ar_sabme(const Rx&);
  State mf_sabme(const Rx&);
  State dm_response(const Rx&);
  State ar_disc(const Rx&);
  State mf_disc(const Rx&);
  State tr_disc(const Rx&);
  State unsolicited_ua(const Rx&);
  State ae_ua(const Rx&);
  State ar_ua(const Rx&);
  State ta_dm(const Rx&);
  State ae_dm(const Rx&);
  State ar_dm(const Rx&);
  State mf_dm(const Rx&);
  State tr_dm(const Rx&);
  State frmr(const Rx&);
  State mf_rr(const Rx&);
  State tr_rr(const Rx&);
  State mf_rnr(const Rx&);
  State tr_rnr(const Rx&);
  State mf_rej(const Rx&);
  State tr_rej(const Rx&);
  State trSupervisory(const Rx& rx, Code code);
  State iframe(const Rx&);
  State ae_t200(const Rx&);
  State ar_t200(const Rx&);
  State mf_t200(const Rx&);
  State tr_t200(const Rx&);
  State tei_t202(const Rx&);
  State mf_t203(const Rx&);

  // Procedures shared by the actions.
  void establish();
  void clearExceptions();
  void invokeRetransmission(Seq nr);
  void enquiry();
  void enquiryResponse();
  State nrErrorRecovery();
  void discardQueue();
  void mdlError(unsigned code);
  bool nrValid(Seq nr) const { return inWindow(VA, nr, VS); }
  void resetSequence();
  void beginTeiAssign();

  void startTimer(TimerId t);
  void stopTimer(TimerId t);
  void onT200();
  void onT202();
  void onT203();
  void expired(TimerId t, Event e, uint32_t Stats::*counter);

  void localEvents();
  void setFlow(FlowStatus::Type f);
  void onUI(const Packet& info);

  // Frames out.
  bool xmit(Packet& frame);
  Packet newFrame();
  unsigned char address(bool command) const;
  void txCommand(unsigned char code, bool pf);
  void txResponse(unsigned char code, bool pf);
  void txFrame(unsigned char code, bool pf, bool command);
  bool txIFrame(const Packet& message, bool p);
  void txIdentity(TeiMessage type, unsigned ri, unsigned ai);
  void trace(const char* what, const Packet& frame, bool received);
  bool logs(unsigned level) const { return log_ >= level; }

  Side::type side_;
  Stats stats_;
  Notify* notify_ = nullptr;
  FlowStatus::Type flow_ = FlowStatus::normal;
  mutable ACP::IsdnLinkInfo lastInfo_;
  unsigned linkno_ = 0;
  unsigned log_;
  bool bri_ = false;
  uint16_t ri_ = 0;
  bool riSet_ = false;
  Timer timer_;
  CleanQueue<Packet, 135> out_;
  CleanQueue<Packet, kWindow> ack_;
  Protocol_name_str name_{"ISDN::LAPD"};
  GenericHDLC* hdlc_ = nullptr;

  HeldIndications<Indication> held_;
};

}  // namespace ISDN
