#pragma once
// Readable text of one ISDN D-channel frame, for the link traces: the
// octets in hexadecimal, the direction, the LAPD address and frame class
// and, for I frames and UI broadcasts on SAPI 0, the Q.931 message with its
// information elements. A pure function: it reads no octet past the frame
// and writes at most kLogBufSize - 1 characters and a terminator.
namespace ISDN {

constexpr unsigned kLogBufSize = 1024;

// direction != 0: "network->user", else "user->network". A frame shorter
// than 3 octets gives an empty text.
void dlogframe(const unsigned char* frame, unsigned length, int direction, char* out);

}  // namespace ISDN
