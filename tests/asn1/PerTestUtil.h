// Helpers of the aligned PER tests: hex text of octets, the two entry
// points with rule 2, and the round trip that every wire vector goes
// through (exact octets out, the same value back, every proper prefix
// refused).
#ifndef QV_TESTS_ASN1_PERTESTUTIL_H
#define QV_TESTS_ASN1_PERTESTUTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/ASN1.h"

namespace PerTest {

inline std::string hex(std::vector<char> const& octets) {
  std::string s;
  char buf[4];
  for (char c : octets) {
    std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", static_cast<unsigned char>(c));
    s += buf;
  }
  return s;
}

// "E0 03 FF" -> octets; spaces are optional.
inline std::vector<char> octets(std::string const& text) {
  std::vector<char> out;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    for (std::size_t i = 0; i + 1 < word.size(); i += 2)
      out.push_back(static_cast<char>(std::stoul(word.substr(i, 2), nullptr, 16)));
  }
  return out;
}

inline bool perEncode(ASN1::AbstractData const& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return ASN1::encode(value, &env, std::back_inserter(out));
}

inline bool perDecode(std::vector<char> const& in, ASN1::AbstractData& value, std::size_t n = std::string::npos) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  if (n > in.size()) n = in.size();
  return ASN1::decode(in.data(), in.data() + n, &env, value, true);
}

inline std::unique_ptr<ASN1::AbstractData> fresh(ASN1::AbstractData const& like) {
  return std::unique_ptr<ASN1::AbstractData>(ASN1::AbstractData::create(like.info()));
}

inline std::string encodedHex(ASN1::AbstractData const& value) {
  std::vector<char> out;
  if (!perEncode(value, out)) return "encode failed";
  return hex(out);
}

// The value decodes back from its own encoding to an equal value, and no
// proper prefix of that encoding decodes; `out` receives the octets.
inline ::testing::AssertionResult selfRoundTrip(ASN1::AbstractData const& value, std::vector<char>& out);

// The value encodes to exactly `expected`, decodes back to an equal value,
// and no proper prefix of the octets decodes.
inline ::testing::AssertionResult roundTrip(ASN1::AbstractData const& value, std::string const& expected) {
  std::vector<char> out;
  if (!perEncode(value, out)) return ::testing::AssertionFailure() << "encode failed";
  if (hex(out) != hex(octets(expected)))
    return ::testing::AssertionFailure() << "encoded " << hex(out) << ", expected " << hex(octets(expected));
  std::unique_ptr<ASN1::AbstractData> back = fresh(value);
  if (!perDecode(out, *back)) return ::testing::AssertionFailure() << "decode of " << hex(out) << " failed";
  if (back->compare(value) != 0) return ::testing::AssertionFailure() << "decoded value differs";
  for (std::size_t n = 0; n < out.size(); ++n) {
    std::unique_ptr<ASN1::AbstractData> part = fresh(value);
    if (perDecode(out, *part, n)) return ::testing::AssertionFailure() << "prefix of " << n << " octets decoded";
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult selfRoundTrip(ASN1::AbstractData const& value, std::vector<char>& out) {
  out.clear();
  if (!perEncode(value, out)) return ::testing::AssertionFailure() << "encode failed";
  return roundTrip(value, hex(out));
}

// Encodes one 1 bit and then the value, to show whether it aligns.
inline std::string afterOneBit(ASN1::AbstractData const& value) {
  std::vector<char> out;
  ASN1::PEREncoder encoder(out, true);
  encoder.encodeSingleBit(true);
  if (!value.accept(encoder)) return "encode failed";
  return hex(out);
}

// Reads the 1 bit, then the value.
inline bool decodeAfterOneBit(std::string const& text, ASN1::AbstractData& value) {
  std::vector<char> in = octets(text);
  ASN1::PERDecoder decoder(in.data(), in.data() + in.size(), nullptr, true);
  if (decoder.decodeSingleBit() != 1) return false;
  return value.accept(decoder);
}

}  // namespace PerTest

#endif
