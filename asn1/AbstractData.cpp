#include "asn1/AbstractData.h"

#include <ios>
#include <sstream>

#include "asn1/AVNEncoder.h"

namespace ASN1 {

AbstractData* AbstractData::create(void const* info) {
  if (info == nullptr) return nullptr;
  CreateFun f = static_cast<InfoType const*>(info)->create;
  return f != nullptr ? f(info) : nullptr;
}

int AbstractData::print_on(std::ostream& os) const {
  AVNEncoder encoder(os);
  return accept(encoder) ? 0 : static_cast<int>(std::ios_base::failbit);
}

std::string AbstractData::asValueNotation() const {
  std::ostringstream os;
  print_on(os);
  return os.str();
}

int lexicographic_compare_bytes(char const* b1, char const* e1, char const* b2, char const* e2) {
  for (; b1 != e1 && b2 != e2; ++b1, ++b2) {
    if (*b1 != *b2) return static_cast<int>(static_cast<unsigned char>(*b1)) - static_cast<unsigned char>(*b2);
  }
  if (b1 == e1) return b2 == e2 ? 0 : -1;
  return 1;
}

unsigned CountBits(unsigned n) {
  if (n == 0) return 32;
  for (unsigned b = 0; b < 32; ++b) {
    if ((1ull << b) >= n) return b;
  }
  return 32;
}

}  // namespace ASN1
