#include "signalling/PacketRoom.h"

#include <ostream>

#include "runtime/Packet.h"

namespace signalling {

bool packetRoom(std::ostream& log, const char* who) {
  static bool short_ = false;
  const bool room = PacketPool::in_use() + kPacketReserve < PacketPool::capacity();
  if (room != short_) return room;
  short_ = !room;
  if (short_)
    log << who << ": packet buffers run short, payloads from the controller are dropped" << std::endl;
  else
    log << who << ": packet buffers available again" << std::endl;
  return room;
}

}  // namespace signalling
