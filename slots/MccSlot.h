#pragma once
// A raw data channel of the board's multi-channel HDLC controller
// ("/dev/mcc/ctl"): every userData command of the controller is written
// to the channel as one frame, and every frame the channel delivers goes
// back to the controller as one userData signal holding exactly its bytes.
// The channel also sits on the TDM switch, so the slot connects to any
// other slot like a trunk time-slot.
//
// The other users of controller channels (players, recorders, T.38) open
// the device and allocate their channel with MccAllocate
// (hardware/MccRequests.h), each with its own record values.
#include <cstdint>
#include <ostream>

#include "hardware/MccRequests.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class MccSlot : public Slot {
 public:
  // Largest unit read from the channel at a time.
  static constexpr size_t kReadSize = 1024;

  // fd: a descriptor on which a channel is allocated; the slot keeps a
  // duplicate until it goes.
  explicit MccSlot(Fd fd);
  ~MccSlot() override;

  bool IUserData(const std::vector<char>& data) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot_; }
  int IGetReceiveChannel() override { return timeslot_; }
  const char* GetName() const override { return "MCC"; }

  void OnEvent(int fd, short events);
  // Reads until the channel has nothing more for now.
  void DoRead();

 private:
  int timeslot_;
  Event event_;
  // Tells a read pass that the slot was deleted while it delivered.
  bool* alive_ = nullptr;
};

class MccFactory : public SlotFactory {
 public:
  static MccFactory& instance();

  const char* GetName() const override { return "MCC"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // The controller's channels per type: data, bri and transparent.
  void Query(LGCP::Resources& resources) override;
  void PutHeader(std::ostream& os) const { os << "mcc: "; }

 private:
  MccFactory() = default;
};
