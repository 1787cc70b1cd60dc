// libFuzzer target: arbitrary octets as an R2S packet, read as both
// directions from a buffer of exactly their size. Whatever unpacks must pack
// within the room the driver gives and unpack again to the same record.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rtp/R2sProto.h"

namespace {

bool same(const r2s_proto& a, const r2s_proto& b) {
  if (a.kind != b.kind || a.count != b.count) return false;
  if (std::memcmp(a.header, b.header, sizeof a.header) != 0) return false;
  return std::memcmp(a.additionals, b.additionals, a.count * sizeof a.additionals[0]) == 0;
}

void round_trip(const std::vector<unsigned char>& packet, bool rx) {
  std::vector<unsigned char> in(packet);
  r2s_proto p;
  r2s_proto_init(&p, R2S_KIND_EMPTY);
  int len = int(in.size());
  int r = rx ? r2s_proto_unpack_rx(&p, in.empty() ? nullptr : in.data(), len)
             : r2s_proto_unpack_tx(&p, in.empty() ? nullptr : in.data(), len);
  if (r != 0 && r != R2S_ESHORT && r != R2S_ENULL) std::abort();
  if (p.count > R2S_MAX_FEATURES) std::abort();
  if (r != 0) return;
  unsigned char out[1024 + 1];
  out[1024] = 0x5A;
  int n = r2s_proto_pack(&p, out, 1024);
  if (n < 2 || n > 1024 || out[1024] != 0x5A) std::abort();
  std::vector<unsigned char> again(out, out + n);
  r2s_proto q;
  r2s_proto_init(&q, R2S_KIND_EMPTY);
  r = rx ? r2s_proto_unpack_rx(&q, again.data(), n) : r2s_proto_unpack_tx(&q, again.data(), n);
  if (r != 0 || !same(p, q)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  std::vector<unsigned char> packet(data, data + size);
  round_trip(packet, true);
  round_trip(packet, false);
  return 0;
}
