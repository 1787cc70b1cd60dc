#pragma once
// A pair of channels above the shared-bus base (8192 + the numbers the
// controller gives, not reserved; a number that names no channel at or above
// the base gives -1, which the switch refuses). The transmitter is
// active from the create on; the receiver takes a source only while the
// slot is activated, and its channel is cleared when activated and
// disabled when deactivated or destroyed.
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class ExtSlot : public Slot {
 public:
  ExtSlot(int tx, int rx) : tx_(tx), rx_(rx) {}

  int IGetTransmitChannel() override { return tx_; }
  int IGetReceiveChannel() override { return rx_; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return GetInputStream(); }
  void IAfterCreate() override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IBeforeDestroy() override;
  const char* GetName() const override { return "bri"; }

 private:
  int tx_;
  int rx_;
};

class ExtFactory : public SlotFactory {
 public:
  static ExtFactory& instance();

  const char* GetName() const override { return "Ext"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

 private:
  ExtFactory() = default;
};
