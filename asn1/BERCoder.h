// The Basic Encoding Rules, definite-length form only: tag, length and
// contents for every value kind. The daemon codes its messages in aligned
// PER; this coder serves tools and tests that want the BER form of a value.
//
// Header lengths are worked out before the contents are written, by counting
// passes over the subtree (`DataLengthCounter`), so nothing is back-patched.
// The decoder reads in place from the caller's octets and never trusts a
// stated length beyond the octets that remain.
#ifndef QV_ASN1_BERCODER_H
#define QV_ASN1_BERCODER_H

#include <cstddef>
#include <vector>

#include "asn1/AbstractData.h"
#include "asn1/Visitor.h"

namespace ASN1 {

// Contents octets of the minimal two's-complement form of `value` (1 to 4).
int getIntegerDataLength(int value);
// Contents length of the value's encoding.
unsigned getDataLength(AbstractData const& value);
// Length of the complete encoding under `tag` (header and contents); tag 0
// gives the contents length alone, since no header is written for it.
unsigned getObjectLength(AbstractData const& value, unsigned tag);

class BEREncoder : public ConstVisitor {
 public:
  // Clears `buffer`; the octets are appended to it.
  explicit BEREncoder(std::vector<char>& buffer);

  // Writes the header of `value` under the pending tag (-1: its own tag).
  bool encodeHeader(AbstractData const& value);
  void encodeByte(unsigned int b) { buffer.push_back(static_cast<char>(b & 0xFF)); }
  void encodeBlock(char const* data, unsigned int n) { buffer.insert(buffer.end(), data, data + n); }

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
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  using ConstVisitor::do_visit;
  void writeHeader(unsigned tagWord, bool constructed, unsigned length);
  void writeInteger(int value);

  std::vector<char>& buffer;
  // Tag word of the next header: -1 the value's own tag, 0 no header.
  int tag;
};

class DataLengthCounter : public ConstVisitor {
 public:
  DataLengthCounter() : length(0) {}
  unsigned getDataLen() const { return length; }
  // Header size for `tag` plus the contents counted so far.
  unsigned getObjectLen(unsigned tag) const;

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
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  using ConstVisitor::do_visit;
  unsigned length;
};

// Answers true for a value whose encoding is primitive, false for a
// constructed one (SEQUENCE, SEQUENCE OF); a CHOICE or an open type answers
// as the value it holds.
class PrimitiveChecker : public ConstVisitor {
 protected:
  bool do_visit(AbstractData const&) override { return true; }
  bool do_visit(CHOICE const& v) override;
  bool do_visit(OpenData const& v) override;
  bool do_visit(SEQUENCE_OF_Base const&) override { return false; }
  bool preVisitExtensionRoots(SEQUENCE const&) override { return false; }

 private:
  using ConstVisitor::do_visit;
};

class BERDecoder : public Visitor {
 public:
  BERDecoder(char const* begin, char const* end, CoderEnv* env = nullptr);

  unsigned char decodeByte() { return static_cast<unsigned char>(*current++); }
  bool atEnd() const { return current >= end; }
  void rollback(char const* pos) { current = pos; }
  char const* position() const { return current; }
  // Copies min(n, octets left) octets; returns the count copied.
  unsigned decodeBlock(char* dest, unsigned n);
  // Reads one identifier and length. Fails when the input ends inside the
  // header, when the tag number exceeds 65535, when more than four length
  // octets are used, and when the length exceeds the octets that remain.
  bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
  // Reads one header and checks its tag against the value's own tag (any
  // tag while an implicit tag is pending); restores the position on failure.
  bool decodeHeader(AbstractData& value, unsigned& length);
  // Selects the alternative of a CHOICE from the next header; `altEnd`
  // receives the position one past the alternative's encoding.
  bool decodeChoicePreamle(CHOICE& value, char const*& altEnd);

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
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData& v) override;
  bool do_revisit(OpenData& v) override;
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;
  int preVisitExtensionRoots(SEQUENCE& v) override;
  int visitExtensionRoot(SEQUENCE& v, int index, int optionalIndex) override;
  int visitKnownExtension(SEQUENCE& v, int index, int optionalIndex) override;
  bool visitUnknownExtensions(SEQUENCE& v) override;

 private:
  using Visitor::do_visit;
  bool decodeSigned(unsigned length, int& out);
  int decodeField(SEQUENCE& v, int index, int optionalIndex);
  // Whether an open type or CHOICE is wrapped in a header of its own.
  bool hasWrapper(AbstractData const& v) const { return implicitTags > 0 || v.getTag() != 0; }
  std::size_t left() const { return current < end ? static_cast<std::size_t>(end - current) : 0; }

  char const* current;
  char const* end;
  std::vector<char const*> sequenceEnds;
  unsigned implicitTags;
};

}  // namespace ASN1

#endif
