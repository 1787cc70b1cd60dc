#pragma once
// Slots on the shared buses between boards: a map slot names a transmit
// channel, a receive channel or both (bus b channel c is switch channel
// 8192 + 128b + c), and each shared channel belongs to one map slot at a
// time, whichever direction holds it. A create on a held channel destroys
// the holder without telling the controller; a slot whose two directions
// name the same channel holds it once.
#include "slots/Connection.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

int GetMapTimeSlot(const LGCP::SharedChannel& c);

class MapSlot : public Slot {
 public:
  MapSlot(int tx, int rx) : tx_(tx), rx_(rx) {}

  bool IsTxExists() const { return tx_ >= 0; }
  bool IsRxExists() const { return rx_ >= 0; }
  int GetTxLogChannel() const { return tx_ - SharedChannelsBase; }
  int GetRxLogChannel() const { return rx_ - SharedChannelsBase; }

  int IGetTransmitChannel() override { return tx_; }
  int IGetReceiveChannel() override { return rx_; }
  bool IOnOutputStream() override { return IsTxExists(); }
  bool IOnInputStream() override { return IsRxExists(); }
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  const char* GetName() const override { return "map"; }

 private:
  int tx_;
  int rx_;
};

class MapFactory : public SlotFactory {
 public:
  // 16 buses of 128 channels.
  static constexpr int kChannels = 2048;

  static MapFactory& instance();

  const char* GetName() const override { return "Map"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  void AllocateMapSlot(MapSlot* slot);
  void ReleaseMapSlot(MapSlot* slot);
  // The slot holding a logical channel (128b + c), or null.
  MapSlot* holder(int logical) const { return logical >= 0 && logical < kChannels ? table_[logical] : nullptr; }

 private:
  MapFactory() = default;
  void take(int logical, MapSlot* slot);

  MapSlot* table_[kChannels] = {};
};
