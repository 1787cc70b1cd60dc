#pragma once
// One channel of an echo bus (bus b channel c is channel 32b + c). The
// factory serves only the buses it found present, and finds none: there is
// no way to detect an echo bus, so every echo create is refused and the
// resources report lists no echo bus.
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class EchoSlot : public Slot {
 public:
  explicit EchoSlot(unsigned channel) : channel_(channel) {}

  int IGetTransmitChannel() override { return static_cast<int>(channel_); }
  int IGetReceiveChannel() override { return static_cast<int>(channel_); }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  void IAfterCreate() override;
  const char* GetName() const override { return "echo"; }

 private:
  unsigned channel_;
};

class EchoFactory : public SlotFactory {
 public:
  static constexpr int kBuses = 16;

  static EchoFactory& instance();

  const char* GetName() const override { return "Echo"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // The present buses, ascending.
  void Query(LGCP::Resources& resources) override;
  void Scan();

 protected:
  EchoFactory();

  bool present_[kBuses];
};
