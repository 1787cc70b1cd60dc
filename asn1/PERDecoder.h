// The aligned PER decoder: reads exactly what PEREncoder writes, with the
// same departures from X.691 (see PEREncoder.h), and nothing it cannot
// bound. Every read is bounded by the end of the data (or of the open type
// being read), every count by a limit (MaximumArraySize, MaximumStringSize),
// every constrained number by its upper bound; any failure fails the whole
// decode. Data after the outermost value is not examined.
//
// Received values this system does not know:
//  - an extension addition of a SEQUENCE is skipped; its presence bit stays
//    in the value's map, its contents are not kept (the encoder writes such
//    a bit as 0);
//  - an extension alternative of a CHOICE is skipped as an open type and
//    the CHOICE is left with the selection -2 (isUnknownSelection) and no
//    value, so the caller sees a well-formed message it cannot serve. Such a
//    CHOICE cannot be encoded again or printed (both answer false): its
//    contents were never kept.
#ifndef QV_ASN1_PERDECODER_H
#define QV_ASN1_PERDECODER_H

#include <cstdint>
#include <vector>

#include "asn1/Visitor.h"

namespace ASN1 {

class ConstrainedObject;

class PERDecoder : public Visitor {
 public:
  // A saved read point; a null position means none is saved.
  struct memento_type {
    char const* position;
    unsigned bits;
  };

  PERDecoder(char const* begin, char const* end, CoderEnv* env, bool aligned);

  bool aligned() const { return aligned_; }
  // The position has reached the end (a partly read last octet is not).
  bool atEnd() const { return pos_ >= end_; }
  unsigned getBitsLeft() const;
  void byteAlign() {
    if (unread_ != 8) {
      ++pos_;
      unread_ = 8;
    }
  }
  void setPosition(char const* position);
  void rollback(memento_type m);

  // 0 when no bit is left (test atEnd() first to tell).
  int decodeSingleBit() {
    if (pos_ >= end_) return 0;
    --unread_;
    int bit = (static_cast<unsigned char>(*pos_) >> unread_) & 1;
    if (unread_ == 0) {
      ++pos_;
      unread_ = 8;
    }
    return bit;
  }
  bool decodeMultiBit(unsigned bits, unsigned& value) {
    // Most reads end inside the octet at hand.
    if (bits < unread_ && pos_ < end_) {
      unread_ = static_cast<uint16_t>(unread_ - bits);
      value = (static_cast<unsigned char>(*pos_) >> unread_) & ((1u << bits) - 1u);
      return true;
    }
    return decodeMultiBitAcross(bits, value);
  }
  // Fills `bits` bits of the `size` octets of `map`.
  bool decodeBitMap(char* map, std::size_t size, unsigned bits);
  // Aligns and copies up to n octets; answers how many were there.
  unsigned decodeBlock(char* dst, unsigned n);

  // 0 on success, -1 on failure.
  int decodeUnsigned(unsigned lower, unsigned upper, unsigned& value);
  int decodeWhole(int64_t lower, int64_t upper, int64_t& value);
  int decodeLength(unsigned lower, unsigned upper, unsigned& length);
  int decodeConstrainedLength(ConstrainedObject& c, unsigned& length);
  bool decodeSmallUnsigned(unsigned& value);
  // Reads the CHOICE's index and selects it; `m` is set to the end of the
  // open type of an extension alternative.
  bool decodeChoicePreamle(CHOICE& v, memento_type& m);

 protected:
  bool do_visit(Null& v) override;
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(ENUMERATED& v) override;
  bool do_visit(OBJECT_IDENTIFIER& v) override;
  bool do_visit(OCTET_STRING& v) override;
  bool do_visit(BIT_STRING& v) override;
  bool do_visit(AbstractString& v) override;
  bool do_visit(BMPString& v) override;
  bool do_visit(CHOICE& v) override;
  bool do_visit(SEQUENCE& v) override;
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData& v) override;
  bool do_revisit(OpenData& v) override;
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;

  int preVisitExtensionRoots(SEQUENCE& v) override;
  int visitExtensionRoot(SEQUENCE& v, int index, int optionalIndex) override;
  int preVisitExtensions(SEQUENCE& v) override;
  int visitKnownExtension(SEQUENCE& v, int index, int optionalIndex) override;
  bool visitUnknownExtensions(SEQUENCE& v) override;

 private:
  uint64_t bitsLeft() const { return pos_ < end_ ? octetsLeft() * 8 + unread_ - 8 : 0; }
  bool decodeMultiBitAcross(unsigned bits, unsigned& value);
  bool decodeShortBits(unsigned bits, unsigned& value);
  // Reads a constrained whole number's offset from its lower bound, at
  // most `span`.
  bool decodeOffset(uint64_t span, unsigned& x);
  bool decodeOffsetWide(uint64_t span, unsigned& x);
  bool decodeInteger(INTEGER& v);
  bool decodeIntegerGeneral(INTEGER& v);
  bool decodeEnumerated(ENUMERATED& v);
  bool decodeEnumeratedGeneral(ENUMERATED& v);
  // The length of a string or list: decodeConstrainedLength with the
  // common form read in place.
  int decodeSizeOf(ConstrainedObject& c, unsigned& length);
  // Whole octets from the position to the end.
  uint64_t octetsLeft() const { return pos_ < end_ ? static_cast<uint64_t>(end_ - pos_) : 0; }
  // Reads an open type's length; `openEnd` is where its octets end. Fails
  // when fewer octets remain than it claims.
  bool openTypeEnd(char const*& openEnd);
  // Decodes the value from the octets before `limit` only, then moves to it.
  bool decodeWithin(AbstractData& value, char const* limit);
  // Selects the known alternative `index`, made anew unless it is held.
  bool selectKnown(CHOICE& v, int index);
  // Decodes a SEQUENCE's field of the given FieldPlace kind.
  bool decodeField(AbstractData& field, unsigned kind);

  char const* pos_;
  char const* end_;
  uint16_t unread_;  // unread bits of the octet at pos_, 1..8
  bool aligned_;
};

}  // namespace ASN1

#endif
