#pragma once
// The control service of the slot commands: it owns every slot, keeps the
// table of slot numbers, hands a create to the factories, answers each
// command with success or the error cause of what went wrong, reports the
// board's resources, relays trunk status signals to the factories, and
// destroys every slot when the controller goes away.
//
// A slot number is free, registered, or registered and being destroyed
// (its release completes later). Every command costs the same however many
// slots live: the table is indexed by number and every list a slot is in
// remembers where it sits.
#include <list>

#include "control/CtrlSrv.h"
#include "slots/Connection.h"

class Slot;

class Slots : public CtrlSrv::Service {
 public:
  // The pause every controller departure makes before it deletes the slots
  // whose release did not complete.
  static constexpr int kDeparturePauseMs = 1000;

  static Slots& instance();

  void OnConnect() override {}
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& c) override;
  void OnSignal(const LGCP::Signal& sig) override;

  // Builds the resources report and sends it to the controller.
  void UpdateHardwareResources();
  // Disconnects the slot and starts its destruction: true when it was
  // deleted at once, false when its release completes later (or was
  // already running).
  bool Destroy(Slot* slot);
  // The end of a slot's release: its delayed destroy answer, then it goes.
  void on_release(Slot* slot);
  bool CheckSlot(unsigned n) const { return n < MaxSlots; }

  // The slot registered under n, or null.
  Slot* slot(unsigned n) const { return n < MaxSlots ? table_[n] : nullptr; }
  // Every registered slot, in order of creation.
  const std::list<Slot*>& live() const { return live_; }

 private:
  Slots() = default;
  ~Slots() override;

  void onCreate(unsigned n, const LGCP::CreateParams& params);
  void onConnect(unsigned n, unsigned target);
  void onDisconnect(unsigned n);
  void onDestroy(unsigned n);
  void onQuery();
  // Answers for the commands that go to a slot's own operation.
  void answer(Slot* s, bool done);
  void departurePause();
  // Takes the slot out of the table and its list, and deletes it.
  void erase(Slot* slot);
  void park(Slot* slot);

  Slot* table_[MaxSlots] = {};
  std::list<Slot*> live_;
  // Slots whose release was still running when the controller left.
  std::list<Slot*> parked_;
};
