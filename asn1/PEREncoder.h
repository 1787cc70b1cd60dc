// The aligned PER encoder: the octet form of every control and monitoring
// message. It follows X.691 except where this system's peers do otherwise,
// and those places stay as they are because the peers read them so:
//  - an ENUMERATED value above the root maximum is written as a 1 bit, the
//    normally small number value + 1, then the value in 0..value; a root
//    value is its own number in 0..maximum, not an index;
//  - a semi-constrained INTEGER is the two's complement of the value, not
//    the value minus the lower bound;
//  - OCTET STRINGs of 1 or 2 octets, BIT STRINGs of up to 16 bits and
//    character strings whose upper bound times the character width is at
//    most 16 are not aligned, whatever their size constraint;
//  - the extension presence map is as long as the value's own map, and each
//    extension addition is an open type of its own;
//  - there are no fragments: a length of 16384 or more fails the encoding.
#ifndef QV_ASN1_PERENCODER_H
#define QV_ASN1_PERENCODER_H

#include <cstdint>
#include <vector>

#include "asn1/Visitor.h"

namespace ASN1 {

class ConstrainedObject;

class PEREncoder : public ConstVisitor {
 public:
  // Clears `out`; octets are only ever appended to it.
  PEREncoder(std::vector<char>& out, bool aligned);
  // Appends after what `out` already holds, from a new octet.
  struct Append {};
  PEREncoder(std::vector<char>& out, bool aligned, Append);

  bool aligned() const { return aligned_; }
  // Closes the partly filled octet; its remaining low bits stay 0.
  void byteAlign();

  void encodeSingleBit(bool bit);
  // The low `bits` bits of `value` (bits 0..32).
  void encodeMultiBit(unsigned value, unsigned bits);
  // `bits` bits of a map whose bit i is in octet i/8 under 0x80 >> (i % 8).
  void encodeBitMap(char const* map, unsigned bits);
  // Aligns, then appends the octets; nothing at all for n = 0.
  void encodeBlock(char const* data, unsigned n);

  // A constrained whole number in lower..upper. The bounds and the value
  // are taken as unsigned here; encodeWhole takes them signed.
  bool encodeUnsigned(unsigned value, unsigned lower, unsigned upper);
  bool encodeWhole(int64_t value, int64_t lower, int64_t upper);
  bool encodeLength(unsigned length, unsigned lower, unsigned upper);
  void encodeSmallUnsigned(unsigned n);
  // Writes the extension bit of an extendable constraint; true when the
  // value (or length) is to be written in its unconstrained form.
  bool encodeConstraint(ConstrainedObject const& c, int64_t value);
  bool encodeConstrainedLength(ConstrainedObject const& c, unsigned length);
  // The value as an open type: a length, then its own complete encoding.
  bool encodeAnyType(AbstractData const* value);

 protected:
  bool do_visit(Null const& v) override;
  bool do_visit(BOOLEAN const& v) override;
  bool do_visit(INTEGER const& v) override;
  bool do_visit(ENUMERATED const& v) override;
  bool do_visit(OBJECT_IDENTIFIER const& v) override;
  bool do_visit(BIT_STRING const& v) override;
  bool do_visit(OCTET_STRING const& v) override;
  bool do_visit(AbstractString const& v) override;
  bool do_visit(BMPString const& v) override;
  bool do_visit(CHOICE const& v) override;
  bool do_visit(OpenData const& v) override;
  bool do_visit(GeneralizedTime const& v) override;
  bool do_visit(SEQUENCE_OF_Base const& v) override;

  bool preVisitExtensionRoots(SEQUENCE const& v) override;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool preVisitExtensions(SEQUENCE const& v) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  bool encodeRawOpenType(char const* data, unsigned n);
  // Aligns, then appends the low n octets of `value` (n = 1..4), high first.
  void appendOctets(unsigned value, unsigned n);

  std::vector<char>& out_;
  uint16_t freeBits_;  // 1..8; 8: the next bit starts a new octet
  bool aligned_;
};

// Bits needed for the values 0..range-1 of a range of up to 2^64 - 1 values.
inline unsigned countBits64(uint64_t range) {
  return range <= 1 ? 0 : 64u - static_cast<unsigned>(__builtin_clzll(range - 1));
}

}  // namespace ASN1

#endif
