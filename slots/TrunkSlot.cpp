#include "slots/TrunkSlot.h"

#include <iostream>

#include "protocol/LGCP/LGCP.h"
#include "slots/Slots.h"

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
  owner_.ReleaseTrunkSlot(this);
  return true;
}

void TrunkFactory::Link() {}

TrunkFactory::TrunkFactory(unsigned trunk, unsigned base) : table_(), trunk_(trunk), base_(base) {}

Slot* TrunkFactory::INewSlot(const LGCP::CreateParams& params) {
  unsigned ts;
  if (!params.trunk_isSelected() || !serves(params.get_trunk(), kTimeSlots, ts)) return nullptr;
  return take(ts, new TrunkSlot(*this, static_cast<int>(base_ + ts)));
}

bool TrunkFactory::serves(const LGCP::TrunkParams& p, unsigned bound, unsigned& timeslot) const {
  timeslot = p.get_timeslot().getValue();
  return p.get_trunk().getValue() == trunk_ && timeslot < bound;
}

Slot* TrunkFactory::take(unsigned timeslot, TrunkSlot* s) {
  if (TrunkSlot* old = table_[timeslot]) {
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
    std::cerr << " old slot " << *old << std::endl;
    Slots::instance().Destroy(old);
  }
  table_[timeslot] = s;
  return s;
}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* s) {
  const int ts = s->GetTimeSlot();
  if (ts >= 0 && ts < int(kTimeSlots) && table_[ts] == s) table_[ts] = nullptr;
}

TrunkBRIFactory::TrunkBRIFactory(unsigned trunk, unsigned base) : TrunkFactory(trunk, base) {
  for (unsigned i = 0; i < kChannels; ++i) table_[i] = nullptr;
}

Slot* TrunkBRIFactory::INewSlot(const LGCP::CreateParams& params) {
  unsigned ch;
  if (!params.trunk_bri_isSelected() || !serves(params.get_trunk_bri(), kChannels, ch)) return nullptr;
  return take(ch, new TrunkBRISlot(*this, static_cast<int>(base_ + ch)));
}

// Made before main, in this order, so that the list walks the BRI trunks
// 7 down to 0 and then the E1 trunks 3 down to 0, after every factory that
// start-up makes.
TrunkFactory trunk0(0, 0);
TrunkFactory trunk1(1, 32);
TrunkFactory trunk2(2, 64);
TrunkFactory trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0);
TrunkBRIFactory trunk_bri1(1, 4);
TrunkBRIFactory trunk_bri2(2, 8);
TrunkBRIFactory trunk_bri3(3, 12);
TrunkBRIFactory trunk_bri4(4, 16);
TrunkBRIFactory trunk_bri5(5, 20);
TrunkBRIFactory trunk_bri6(6, 24);
TrunkBRIFactory trunk_bri7(7, 28);
