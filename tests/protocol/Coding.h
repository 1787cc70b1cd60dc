// Aligned PER coding helpers for the protocol tests.
#ifndef QV_TESTS_PROTOCOL_CODING_H
#define QV_TESTS_PROTOCOL_CODING_H

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/ASN1.h"

namespace ProtocolTest {

inline bool encodePER(ASN1::AbstractData const& v, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  out.clear();
  return ASN1::encode(v, &env, std::back_inserter(out));
}

inline bool decodePER(std::vector<char> const& in, ASN1::AbstractData& v) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return ASN1::decode(in.data(), in.data() + in.size(), &env, v, true);
}

// "80 01 01 18" <-> octets.
inline std::vector<char> octets(std::string const& hex) {
  std::vector<char> out;
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

inline std::string hex(std::vector<char> const& v) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < v.size(); ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", static_cast<unsigned char>(v[i]));
    out += buf;
  }
  return out;
}

}  // namespace ProtocolTest

#endif
