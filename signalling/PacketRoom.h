#pragma once
// The links queue what the controller hands them in packets of the shared
// pool. A controller that sends faster than a link drains could take the
// pool's last buffer, and with it the room for the link's own frames: a
// new payload is turned away while the pool runs short, said once when it
// starts and once when it is over.
#include <iosfwd>
#include <vector>

class Protocol;

namespace signalling {

// Buffers kept for the links' own frames.
constexpr unsigned kPacketReserve = 64;

// Whether a new payload may take a buffer; who names the refuser.
bool packetRoom(std::ostream& log, const char* who);

// Hands a layer-3 payload from the controller to the top of a slot's
// stack, in a packet with the stack's head room; dropped (and said) while
// the pool runs short.
void sendPayload(Protocol& stack, const std::vector<char>& data, std::ostream& log, const char* who);

}  // namespace signalling
