#include "slots/SlotFactory.h"

#include "slots/Slot.h"

SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : next_(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory() {
  // Only a factory of a test dies before the process ends; unlinking it
  // keeps the list walkable.
  for (SlotFactory** at = &firstFactory; *at; at = &(*at)->next_) {
    if (*at == this) {
      *at = next_;
      break;
    }
  }
  for (Slot* s : slots_) {
    s->inFactory_ = false;
    s->factory_ = nullptr;
  }
}

void SlotFactory::SelfSignal(const LGCP::Signal&) {}

Slot* SlotFactory::NewSlot(const LGCP::CreateParams& params) {
  Slot* s = INewSlot(params);
  if (!s) return nullptr;
  s->factory_ = this;
  s->factoryAt_ = slots_.insert(slots_.end(), s);
  s->inFactory_ = true;
  return s;
}

void SlotFactory::Remove(Slot* s) {
  if (!s->inFactory_ || s->factory_ != this) return;
  slots_.erase(s->factoryAt_);
  s->inFactory_ = false;
}
