// Arbitrary octets as a control message and as a monitoring message: what
// decodes must print and, unless it holds an alternative this side does not
// know, encode again to octets that decode to the same value and encode to
// the same octets. Any other outcome is a fault and aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <vector>

#include "asn1/ASN1.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/MON/MON.h"

namespace {

bool encode(ASN1::AbstractData const& v, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return ASN1::encode(v, &env, std::back_inserter(out));
}

bool decode(char const* begin, char const* end, ASN1::AbstractData& v) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return ASN1::decode(begin, end, &env, v, true);
}

// Whether the decoder met a CHOICE alternative of a newer schema somewhere
// in the value (selection -2: skipped, so it can be neither printed nor
// encoded again).
bool hasUnknownSelection(ASN1::AbstractData const& v) {
  if (ASN1::CHOICE const* c = dynamic_cast<ASN1::CHOICE const*>(&v)) {
    if (c->isUnknownSelection()) return true;
    return c->getSelection() != nullptr && hasUnknownSelection(*c->getSelection());
  }
  if (ASN1::SEQUENCE const* s = dynamic_cast<ASN1::SEQUENCE const*>(&v)) {
    for (unsigned i = 0; i < s->fieldCount(); ++i) {
      ASN1::AbstractData const* f = s->getField(i);
      if (f != nullptr && hasUnknownSelection(*f)) return true;
    }
    return false;
  }
  if (ASN1::SEQUENCE_OF_Base const* l = dynamic_cast<ASN1::SEQUENCE_OF_Base const*>(&v)) {
    for (ASN1::AbstractData const* e : *l) {
      if (hasUnknownSelection(*e)) return true;
    }
  }
  return false;
}

template <class T>
void exercise(char const* begin, char const* end) {
  T value;
  if (!decode(begin, end, value)) return;
  std::ostringstream text;
  bool printed = static_cast<bool>(text << value);
  std::vector<char> out;
  bool encoded = encode(value, out);
  if (hasUnknownSelection(value)) {
    if (printed || encoded) std::abort();
    return;
  }
  if (!printed || !encoded) std::abort();
  T again;
  if (!decode(out.data(), out.data() + out.size(), again)) std::abort();
  if (!(again == value)) std::abort();
  std::vector<char> out2;
  if (!encode(again, out2) || out2 != out) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  char const* begin = reinterpret_cast<char const*>(data);
  exercise<LGCP::Message>(begin, begin + size);
  exercise<MON::Message>(begin, begin + size);
  return 0;
}
