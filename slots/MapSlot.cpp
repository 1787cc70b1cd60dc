#include "slots/MapSlot.h"

#include <iostream>

#include "hardware/HwMux.h"
#include "protocol/LGCP/LGCP.h"
#include "slots/Slots.h"

int GetMapTimeSlot(const LGCP::SharedChannel& c) {
  return SharedChannelsBase + 128 * c.get_bus().getValue() + c.get_channel().getValue();
}

void MapSlot::IAfterCreate() {
  if (IsRxExists()) OnChangeInputStream(true);
  if (IsTxExists()) OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy() {
  MapFactory::instance().ReleaseMapSlot(this);
  return true;
}

MapFactory& MapFactory::instance() {
  static MapFactory self;
  return self;
}

Slot* MapFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.map_isSelected()) return nullptr;
  const LGCP::MapParams& p = params.get_map();
  const int tx = p.transmitter_isPresent() ? GetMapTimeSlot(p.get_transmitter()) : -1;
  const int rx = p.receiver_isPresent() ? GetMapTimeSlot(p.get_receiver()) : -1;
  MapSlot* s = new MapSlot(tx, rx);
  AllocateMapSlot(s);
  return s;
}

void MapFactory::AllocateMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) take(slot->GetRxLogChannel(), slot);
  if (slot->IsTxExists()) take(slot->GetTxLogChannel(), slot);
}

void MapFactory::take(int i, MapSlot* slot) {
  if (i < 0 || i >= kChannels) return;
  MapSlot* old = table_[i];
  // A slot whose two directions name one channel meets itself here: it
  // holds the channel already, and must not be destroyed by its own
  // create (it is not registered yet, so nothing could answer for it).
  if (old && old != slot) {
    std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
    std::cerr << "new slot " << *slot << " <-> old slot " << *old << std::endl;
    Slots::instance().Destroy(old);
  }
  table_[i] = slot;
}

void MapFactory::ReleaseMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) {
    const int i = slot->GetRxLogChannel();
    std::clog << "map: disable map channel " << i << std::endl;
    HwMux::instance()->Disable(SharedChannelsBase + i);
    if (i < 0 || i >= kChannels || table_[i] != slot) {
      std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
    } else {
      table_[i] = nullptr;
    }
  }
  // The transmit channel stays as it is on the switch. When it is also the
  // receive channel, the entry went with the receiver.
  if (slot->IsTxExists() && slot->GetTxLogChannel() != slot->GetRxLogChannel()) {
    const int i = slot->GetTxLogChannel();
    if (i < 0 || i >= kChannels || table_[i] != slot) {
      std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
    } else {
      table_[i] = nullptr;
    }
  }
}
