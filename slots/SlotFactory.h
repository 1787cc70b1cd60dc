#pragma once
// The makers of slots. Every factory links itself at the head of one
// global list when it is made and stays there for the life of the process,
// so the list runs from the newest factory to the oldest: a create is
// offered to the factories in that order, and the first slot made wins.
// The trunk factories are static objects, made before main, so they come
// last; start-up makes the others in a fixed order after them.
//
// A new kind: a Slot subclass overriding the hooks it needs, and a factory
// reached through a static instance() that answers INewSlot for its own
// CreateParams alternative (null for anything else) and adds its counts in
// Query; Services::CreateFactories makes it in its place in the order.
#include <list>

#include "protocol/LGCP/LGCPFwd.h"

class Slot;

class SlotFactory {
 public:
  SlotFactory();
  // Factories live until the process ends; one that goes earlier leaves
  // the list, and its slots forget it.
  virtual ~SlotFactory();
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;

  virtual const char* GetName() const = 0;
  // A new slot, or null when the parameters are not of this factory's
  // kind or cannot be served.
  virtual Slot* INewSlot(const LGCP::CreateParams& params) = 0;
  // Adds what the factory has to the resources report.
  virtual void Query(LGCP::Resources& resources) = 0;
  // A trunk status signal of the board.
  virtual void SelfSignal(const LGCP::Signal& sig);

  // INewSlot, and a slot made is recorded as this factory's.
  Slot* NewSlot(const LGCP::CreateParams& params);
  void Remove(Slot* s);

  SlotFactory* next() const { return next_; }
  // The slots made here that are not yet released, oldest first.
  const std::list<Slot*>& slots() const { return slots_; }

 private:
  std::list<Slot*> slots_;
  SlotFactory* next_;
};

// The head of the factory list: the newest factory. Constant-initialised,
// so that the static factories may link themselves in before anything
// else runs.
extern SlotFactory* firstFactory;
