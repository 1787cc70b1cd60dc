#include "rtp/Rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

// RFC 3550 counts text lengths in one octet.
constexpr unsigned int kMaxText = 255;

unsigned int roundUp4(unsigned int n) { return (n + 3) & ~3u; }

void putBE32(char* p, unsigned int v) {
  p[0] = char(v >> 24);
  p[1] = char(v >> 16);
  p[2] = char(v >> 8);
  p[3] = char(v);
}

}  // namespace

Msg::~Msg() = default;

unsigned int Msg::encode(char* buffer, unsigned int size) const {
  if (size < 8) return 0;
  unsigned int body = encode_body(buffer + 4, size - 4);
  if (body == 0) return 0;
  unsigned int total = 4 + body;
  // The bodies end on a word already; this only guards a body that does not.
  while (total % 4 != 0 && total < size) buffer[total++] = 0;
  if (total % 4 != 0) return 0;
  buffer[0] = char(0x80 | (count() & 31));  // version 2, no padding
  buffer[1] = char(pt());
  unsigned int words = total / 4 - 1;
  buffer[2] = char(words >> 8);
  buffer[3] = char(words);
  return total;
}

// One chunk: the SSRC, the items, then the end of the list (a zero octet)
// and zero octets up to the next word. A chunk always has that end, also
// without items, so its smallest form is the SSRC and one zero word.
unsigned int SDES::encode_body(char* buffer, unsigned int size) const {
  if (size < 8) return 0;
  putBE32(buffer, ssrc);
  unsigned int at = 4;
  for (Item const& item : items) {
    unsigned int n = unsigned(std::min<size_t>(item.text().size(), kMaxText));
    // Room for this item and, after it, the end of the list and the padding.
    if (roundUp4(at + 2 + n + 1) > size) break;
    buffer[at++] = char(item.type());
    buffer[at++] = char(n);
    std::memcpy(buffer + at, item.text().data(), n);
    at += n;
  }
  unsigned int end = roundUp4(at + 1);
  std::memset(buffer + at, 0, end - at);
  return end;
}

// The SSRC, then the optional reason: its length octet, the text and zero
// octets up to the next word. A reason is shortened to what fits with its
// padding, and left out when not one octet of it fits.
unsigned int BYE::encode_body(char* buffer, unsigned int size) const {
  if (size < 4) return 0;
  putBE32(buffer, ssrc);
  unsigned int at = 4;
  unsigned int room = size & ~3u;  // the body must end on a word
  if (!reason.empty() && room >= at + 2) {
    unsigned int n = unsigned(std::min<size_t>(reason.size(), kMaxText));
    n = std::min(n, room - at - 1);
    buffer[at++] = char(n);
    std::memcpy(buffer + at, reason.data(), n);
    at += n;
    unsigned int end = roundUp4(at);
    std::memset(buffer + at, 0, end - at);
    at = end;
  }
  return at;
}

}  // namespace RTPC
