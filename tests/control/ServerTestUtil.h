#pragma once
// Messages for the control server tests: built from value notation, coded
// with the project's codec, and read back from the wire as one-line text.
#include "ControlTestUtil.h"
#include "asn1/AVNDecoder.h"
#include "asn1/AVNEncoder.h"
#include "asn1/CoderEnv.h"
#include "control/qvctl/Frames.h"
#include "protocol/LGCP/LGCP.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace ctl_test {

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline LGCP::Message msg(const std::string& text) {
  LGCP::Message m;
  std::istringstream is(text);
  is >> m;
  if (!ASN1::input_success(is)) ADD_FAILURE() << "bad test message: " << text;
  return m;
}

inline Bytes per(const ASN1::AbstractData& v) {
  std::vector<char> out;
  ASN1::CoderEnv env;
  env.set_encodingRule(2);
  if (!ASN1::encode(v, &env, std::back_inserter(out))) ADD_FAILURE() << "cannot encode";
  return Bytes(out.begin(), out.end());
}

inline Bytes tpkt(const Bytes& payload) {
  std::vector<char> f = qvctl::frame(std::vector<char>(payload.begin(), payload.end()));
  return Bytes(f.begin(), f.end());
}

inline Bytes frameOf(const std::string& text) { return tpkt(per(msg(text))); }

// Value notation of a payload on one line, or "undecodable".
inline std::string text(const Bytes& payload) {
  LGCP::Message m;
  ASN1::CoderEnv env;
  env.set_encodingRule(2);
  const char* b = reinterpret_cast<const char*>(payload.data());
  if (!ASN1::decode(b, b + payload.size(), &env, m, true)) return "undecodable";
  std::ostringstream os;
  os << m;
  return qvctl::oneLine(os.str());
}

// Every frame in the bytes, as text.
inline std::vector<std::string> texts(const Bytes& wire) {
  qvctl::FrameReader r;
  std::vector<std::vector<char>> payloads;
  std::vector<std::string> out;
  if (!r.feed(reinterpret_cast<const char*>(wire.data()), wire.size(), payloads)) out.push_back("bad frame");
  for (auto& p : payloads) out.push_back(text(Bytes(p.begin(), p.end())));
  return out;
}

}  // namespace ctl_test
