#include "signalling/PacketRoom.h"

#include <cstring>
#include <ostream>

#include "runtime/Packet.h"
#include "runtime/Protocol.h"

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

void sendPayload(Protocol& stack, const std::vector<char>& data, std::ostream& log, const char* who) {
  if (!packetRoom(log, who)) return;
  Packet p;
  stack.prepare_head(p);
  if (!data.empty()) std::memcpy(p.put(unsigned(data.size())), data.data(), data.size());
  stack.message(p);
}

}  // namespace signalling
