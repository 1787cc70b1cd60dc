#pragma once
// A transparent frame pipe between the controller and one HDLC channel:
// the controller's hdlcPackages ioctl sends each body as a frame with the
// slot's 16-bit address and a control octet in front; frames received
// with that address come back as hdlcPackages ioctl signals. There is no
// link protocol: frames are numbered modulo 8 in the control octet, the
// peer's last number is echoed, and nothing is acknowledged or resent.
// A connection with a trunk time-slot, either way, starts the channel
// and wires it both ways, but leaves the time-slot to another slot that
// feeds it; an activate restarts the channel while such a connection
// stands.
//
// Line frames:
//   octets 0-1  address, high octet first
//   octet  2    number of this frame (bits 7-5), 0 (bits 4-3), the peer's
//               last number (bits 2-0)
//   octets 3..  body
// Received bodies whose second octet has bit 7 set are held (at most
// 100 ms) so that a run of them reaches the controller in one signal.
#include <cstdint>
#include <memory>

#include "hardware/HDLC.h"
#include "protocol/LGCP/LGCP.h"
#include "runtime/Packet.h"
#include "runtime/Timer.h"
#include "signalling/CleanQueue.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class HdlcSlot : public Slot, public HDLC::Notify {
 public:
  static constexpr unsigned kBacklog = 120;  // frames waiting for the channel
  static constexpr unsigned kFlushMs = 100;  // how long a run is held
  static const TimerSpec<HdlcSlot> TUpdatespec;  // the counter report, 3000 ms

  explicit HdlcSlot(const LGCP::HdlcParams& params);
  ~HdlcSlot() override;

  // Slot.
  void OnTrunkStatus(unsigned, const ACP::TrunkState::NamedNumber&) override {}
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot& dst) override;
  bool IHwConnectReceiver(Slot& src) override;
  bool IHwDisconnectTransmitter(Slot& dst) override;
  bool IHwDisconnectReceiver(Slot& src) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "hdlc-slot"; }

  // HDLC::Notify.
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // Queues one built frame and sends what the channel takes; false when
  // the backlog is full.
  bool transmitPacket(Packet& frame);
  void enqResponce(Packet& frame);
  void flushResponce();
  void OnUpdateTimer();
  void UpdateHDLC_Statistics();

  // "HdlcSlot[<trunk - 1>/*]: "
  void PutHeader(std::ostream& os) const;

  HDLC& hdlc() { return *hdlc_; }
  unsigned backlog() const { return backlog_.count(); }

  // Where the "signalling.hdlc" trace switch lives; null: traces off.
  static void traceSwitch(const bool* on) { s_trace = on; }
  static bool tracing() { return s_trace && *s_trace; }

 private:
  // feed: the time-slot is to hear the channel (see HDLC::activate).
  void iactivate(bool feed);
  // Starts the channel once a connection has named its time-slot.
  bool connect(int channel, bool feed);
  // Whether the time-slot of a trunk slot connected to this one may hear
  // the channel: not while another slot feeds that trunk slot, whose
  // path it would take over.
  bool feeds(Slot& trunk);
  // The source when it is the trunk slot of the channel's time-slot.
  Slot* trunkSource();
  // No connection with the time-slot is left, and by now it may carry a
  // later one: no activation may wire it again until a connection names
  // it anew.
  void forget();
  void trace(const char* what, const Packet* frame = nullptr) const;

  std::unique_ptr<HDLC> hdlc_;
  LGCP::IoctlResponse pending_;
  unsigned trunk_;
  TimerSpec<HdlcSlot>::SpecTimer<TUpdatespec> update_;
  Timer flush_;
  CleanQueue<Packet, kBacklog> backlog_;
  uint16_t address_;
  uint8_t sent_ = 0;
  uint8_t lastReceived_ = 0;
  bool overflowSaid_ = false;

  static const bool* s_trace;
};

class HdlcSlotFactory : public SlotFactory {
 public:
  static HdlcSlotFactory& instance();

  const char* GetName() const override { return "HdlcSlotFactory"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  void SelfSignal(const LGCP::Signal& sig) override;

 private:
  HdlcSlotFactory() = default;
};
