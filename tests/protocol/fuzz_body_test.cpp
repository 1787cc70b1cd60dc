// The protocol fuzz target's body, run without libFuzzer over the hand-worked
// messages, every prefix of them and every single-bit change of them, so
// that every build (the sanitizer build included) exercises it.
#include <gtest/gtest.h>

#include "asn1/ASN1.h"
#include "protocol/LGCP/LGCP.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size);

namespace {

std::vector<std::uint8_t> octets(std::string const& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

char const* const seeds[] = {
    "80 01 01 18",
    "80 01 01 40",
    "80 01 01 64",
    "40 00 05 85",
    "C0 01 07 00 0A 08 38 01 28",
    "22 C0 01 00 00 01 00 01 00 01 00 01 00 01 00 00 00",
    "20 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 00 80 01 00 01 00 01 00 00 01 00 01 00 01 00 01 00",
    "40 00 03 81 02 03 E8 00 A0",
    "20 40 02 03 E8 80 01 00",
    "40 00 03 89 80 02 00 C8",
    "C0 01 03 00 0C 12 50 01 02 7E 01",
    "80 01 02 1A 20 01 01 68",
    "80 01 01 20 00 01 00",
    "08 01 00 08 31 30 2E 30 2E 30 2E 31",
    "00 01 00 01 01 00 03 31 2E 33 01 78",
};

}  // namespace

TEST(ProtocolFuzzBody, SeedsPrefixesAndBitFlips) {
  unsigned runs = 0;
  for (char const* seed : seeds) {
    std::vector<std::uint8_t> s = octets(seed);
    for (std::size_t n = 0; n <= s.size(); ++n, ++runs) LLVMFuzzerTestOneInput(s.data(), n);
    for (std::size_t bit = 0; bit < s.size() * 8; ++bit, ++runs) {
      std::vector<std::uint8_t> m = s;
      m[bit / 8] = static_cast<std::uint8_t>(m[bit / 8] ^ (0x80u >> (bit % 8)));
      LLVMFuzzerTestOneInput(m.data(), m.size());
    }
  }
  EXPECT_GT(runs, 1000u);
}

TEST(ProtocolFuzzBody, PseudoRandomInputs) {
  std::uint32_t state = 2463534242u;
  std::vector<std::uint8_t> buf;
  unsigned decoded = 0;
  for (unsigned run = 0; run < 20000; ++run) {
    buf.resize(run % 48);
    for (std::uint8_t& b : buf) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      b = static_cast<std::uint8_t>(state);
    }
    ASSERT_EQ(0, LLVMFuzzerTestOneInput(buf.data(), buf.size()));
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    LGCP::Message m;
    char const* p = reinterpret_cast<char const*>(buf.data());
    if (ASN1::decode(p, p + buf.size(), &env, m, true)) ++decoded;
  }
  // The body's deeper checks (print, encode again, decode again) run only on
  // inputs that decode: enough of these random ones do.
  EXPECT_GT(decoded, 100u) << decoded;
}
