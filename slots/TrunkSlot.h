#pragma once
// Trunk time-slots: one slot per time-slot of an E1 trunk (TrunkSlot) or
// channel of a BRI trunk (TrunkBRISlot). The stream is the time-slot itself
// on the TDM switch, so a trunk slot only names its switch channel, reports
// both streams active as soon as it exists, and frees its time-slot when it
// goes. A time-slot has at most one slot: a create on a held time-slot
// destroys the holder without telling the controller.
//
// One factory per trunk, all static objects: E1 trunks 0-3 and BRI trunks
// 0-7. A trunk number outside these finds no factory.
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class TrunkFactory;

class TrunkSlot : public Slot {
 public:
  TrunkSlot(TrunkFactory& owner, int channel) : owner_(owner), channel_(channel) {}

  int GetTrunk() override { return channel_ >> 5; }
  int GetTrunkTimeSlot() override { return GetTimeSlot(); }
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override { return "trunk"; }
  virtual int GetTimeSlot() { return channel_ & 31; }

 protected:
  TrunkFactory& owner_;
  int channel_;
};

class TrunkBRISlot : public virtual TrunkSlot {
 public:
  TrunkBRISlot(TrunkFactory& owner, int channel) : TrunkSlot(owner, channel) {}

  int GetTrunk() override { return channel_ >> 2; }
  int GetTimeSlot() override { return channel_ & 3; }
  const char* GetName() const override { return "trunkBRI"; }
};

class TrunkFactory : public SlotFactory {
 public:
  static constexpr unsigned kTimeSlots = 32;

  TrunkFactory(unsigned trunk, unsigned base);

  // Does nothing; a program that calls it has the static trunk factories
  // (the linker leaves out a library's objects that nothing refers to).
  static void Link();

  const char* GetName() const override { return "Trunks"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  virtual void ReleaseTrunkSlot(TrunkSlot* s);

  unsigned trunk() const { return trunk_; }
  // The slot holding a time-slot, or null.
  TrunkSlot* holder(unsigned timeslot) const { return timeslot < kTimeSlots ? table_[timeslot] : nullptr; }

 protected:
  // Whether the parameters name this trunk and a time-slot below bound.
  bool serves(const LGCP::TrunkParams& p, unsigned bound, unsigned& timeslot) const;
  // The holder of the time-slot goes; the new slot takes its place.
  Slot* take(unsigned timeslot, TrunkSlot* s);

  TrunkSlot* table_[kTimeSlots];
  unsigned trunk_;
  unsigned base_;
};

class TrunkBRIFactory : public virtual TrunkFactory {
 public:
  static constexpr unsigned kChannels = 4;

  TrunkBRIFactory(unsigned trunk, unsigned base);

  const char* GetName() const override { return "TrunksBRI"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
};

extern TrunkFactory trunk0, trunk1, trunk2, trunk3;
extern TrunkBRIFactory trunk_bri0, trunk_bri1, trunk_bri2, trunk_bri3, trunk_bri4, trunk_bri5, trunk_bri6,
    trunk_bri7;
