#pragma once
// ISDN D channels that the slot drives itself, one frame per read and per
// write of the channel's descriptor:
//  - IsdnSlot: a Q.921 link on a controller channel of "/dev/mcc/ctl"
//    (PRI or BRI, user or network side);
//  - AtsQsigSlot: the same on a QSIG data channel of "/dev/dsp-data",
//    which also adds and removes the interface's B channels;
//  - AtsQsigBSlot: one such B channel (up to three per QSIG slot), a plain
//    time-slot for the controller to connect.
// Layer 3 is relayed as userData both ways; activate and deactivate start
// and stop the link, which reports activated, deactivated and isdnLinkInfo.
#include <cstdint>
#include <vector>

#include "hardware/HDLC.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Protocol.h"
#include "signalling/LAPD.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class AtsQsigBSlot;

class IsdnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public GenericHDLC {
 public:
  // Takes a copy of the channel's descriptor and the configured link.
  IsdnSlot(Fd fd, ISDN::LAPD* link);
  ~IsdnSlot() override;

  // Slot.
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(const std::vector<char>& data) override;
  bool Ioctl(const LGCP::IoctlParams&) override { return false; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override { return "MCC"; }

  // GenericHDLC: the link's frames go straight to the descriptor.
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return event_.IsActive(); }
  bool is_ready() const override { return ready_; }

  // ProtocolsFamily.
  const Protocol_name& name() const override { return name_; }
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status_ptr s) override;
  void on_message(Packet& p) override;
  void transmit(Packet&) override {}

  // ISDN::LAPD::Notify: congestion is not reported by these slots.
  void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

  void OnEvent(int fd, short revents);
  void UpdateISDN_Statistics();

  ISDN::LAPD& link() { return *link_; }
  // The side the link reports for (the link keeps it to itself).
  void setSide(bool network) { network_ = network; }

 protected:
  // A data channel whose driver names its time-slot with another request,
  // polled under the kind's handler name.
  IsdnSlot(Fd fd, ISDN::LAPD* link, uint32_t timeslotWord, const char* handlerName);
  // Binds the event under the kind's handler name and starts polling.
  void watch(Fd fd, const char* handlerName);

  Event event_;
  ISDN::LAPD* link_;
  bool ready_ = false;
  int channel_ = -1;
  bool network_ = false;
  Protocol_name_str name_{"ISDN/HDLC"};
};

class AtsQsigSlot : public IsdnSlot {
 public:
  // Request words of "/dev/dsp-data".
  static constexpr uint32_t kTimeslot = 0x40044211;  // no argument; result = D channel
  static constexpr uint32_t kAddB = 0x8008420F;      // {index 0-2, time-slot (-1: filled in)}
  static constexpr uint32_t kRemoveB = 0x80044210;   // {index}

  AtsQsigSlot(Fd fd, ISDN::LAPD* link);

  bool IBeforeDestroy() override;
  const char* GetName() const override { return "ATS-QSIG"; }

  int GetTimeslot() const { return channel_; }
  // B channel b (0-2) of the interface; null when the driver refuses it.
  AtsQsigBSlot* NewBChannel(unsigned b);
  void DestroyBChannel(unsigned b);
  void PutHeader(std::ostream& os) const { os << "ats-qsig: "; }
};

class AtsQsigBSlot : public Slot {
 public:
  AtsQsigBSlot(unsigned signallingSlot, unsigned bChannel, unsigned timeslot)
      : signalling_(signallingSlot), b_(bChannel), timeslot_(timeslot) {}

  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return int(timeslot_); }
  int IGetReceiveChannel() override { return int(timeslot_); }
  const char* GetName() const override { return "ATS-QSIG-B"; }
  void PutHeader(std::ostream& os) const { os << "ats-qsig-b: "; }

 private:
  unsigned signalling_;  // the id of the QSIG slot that made it
  unsigned b_;
  unsigned timeslot_;
};

class IsdnFactory : public SlotFactory {
 public:
  static IsdnFactory& instance();

  const char* GetName() const override { return "ISDN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  Slot* NewIsdnSlot(const LGCP::IsdnParams& params);
  Slot* NewAtsQsigSlot(const LGCP::AtsQsigParams& params);
  Slot* NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params);
  // The first of this factory's slots with that id, or null.
  Slot* FindSlot(unsigned id) const;
  void PutHeader(std::ostream& os) const { os << "mcc/isdn: "; }

 private:
  IsdnFactory() = default;
};
