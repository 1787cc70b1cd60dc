#pragma once
// A signalling link of the telephone network on one HDLC channel of the
// board: SS7 level 2, an ISDN D channel on a primary-rate trunk or a BRI
// port (user side), or a BRI port's network side. The slot owns the
// channel and the link protocol (the only member of its own stack),
// relays layer-3 payloads between the link and the controller's userData,
// and reports the channel's and the link's counters every 3000 ms.
//
// The channel starts when a trunk time-slot is connected to the slot (on a
// BRI port, once both directions have their switch channel), and again on
// each activate command while connected; a deactivate stops the link, and
// the end of a connection that gave the channel a switch channel stops it
// and closes the channel. On an E1 time-slot the connection from the trunk
// slot wires the time-slot both ways, unless another slot has been
// connected to feed the time-slot: the channel then hears the time-slot
// only, until the link is connected to it.
#include <cstdint>
#include <memory>
#include <vector>

#include "hardware/HDLC.h"
#include "protocol/ACP/ACPFwd.h"
#include "protocol/LGCP/LGCPFwd.h"
#include "runtime/Protocol.h"
#include "runtime/Timer.h"
#include "signalling/LAPD.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

namespace SS7 {
class SLC;
}
namespace ISDN {
class LAPD_NT;
}

class PstnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public HDLC::Notify {
 public:
  // The link kinds, chosen once from the creation parameters.
  enum Kind : uint32_t { Ss7 = 0, Pri = 1, BriUser = 2, BriNetwork = 3 };
  static constexpr uint32_t kUnset = 0xFFFFFFFF;  // a switch channel no connection gives
  static const TimerSpec<PstnSlot> TUpdatespec;  // the counter report, 3000 ms

  explicit PstnSlot(const LGCP::PstnParams& params);
  ~PstnSlot() override;

  // Slot.
  void OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(const std::vector<char>& data) override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot& dst) override;
  bool IHwConnectReceiver(Slot& src) override;
  bool IHwDisconnectTransmitter(Slot& dst) override;
  bool IHwDisconnectReceiver(Slot& src) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "pstn"; }

  // HDLC::Notify: handed to the link that takes the channel's frames.
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // ProtocolsFamily: what the link reports.
  const Protocol_name& name() const override { return name_; }
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status_ptr s) override;
  void on_message(Packet& p) override;
  // What a BRI network side sends goes to the channel.
  void transmit(Packet& p) override;

  // ISDN::LAPD::Notify.
  void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

  void OnUpdateTimer();
  void UpdateHDLC_Statistics();
  void UpdateISDN_Statistics();
  void UpdateSS7_Statistics();

  Kind kind() const { return kind_; }
  HDLC& hdlc() { return *hdlc_; }
  SS7::SLC* slc() { return slc_; }

 private:
  // Opens the channel with its parameters, then starts the link; trunk is
  // the slot of the time-slot that feeds this one, if any.
  void start(Slot* trunk);
  // Whether the time-slot is to hear the channel. One E1 time-slot carries
  // both directions, so the trunk slot's connection to this one gives it
  // to the channel, unless another slot has been connected to feed it:
  // that path stands until this slot is connected to the trunk slot.
  bool feedsTimeSlot(Slot* trunk) const;
  // The connection that gave the channel word has gone, and its channel
  // may carry a later connection: no activation may wire it again.
  void forget(uint32_t HDLC::Params::*channel);

  std::unique_ptr<HDLC> hdlc_;
  Kind kind_ = Ss7;
  unsigned trunk_ = 0;  // creation trunk - 1, as trunk statuses count
  SS7::SLC* slc_ = nullptr;
  ISDN::LAPD* lapd_ = nullptr;
  ISDN::LAPD_NT* lapdNt_ = nullptr;
  HDLC::Notify* target_ = nullptr;  // the link that takes the channel's events
  bool network_ = false;  // the ISDN link's side
  int lastTrunkState_;
  TimerSpec<PstnSlot>::SpecTimer<TUpdatespec> update_;
  Protocol_name_str name_{"PSTN"};
};

class PstnFactory : public SlotFactory {
 public:
  static PstnFactory& instance();

  const char* GetName() const override { return "PSTN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  // A trunk status goes to the slots on that trunk's kind (E1 or BRI).
  void SelfSignal(const LGCP::Signal& sig) override;

 private:
  PstnFactory() = default;
};
