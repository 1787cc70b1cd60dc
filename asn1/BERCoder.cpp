#include "asn1/BERCoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "asn1/CoderEnv.h"
#include "asn1/Constructed.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"

namespace ASN1 {

namespace {

const unsigned TagNumberMask = 0xFFFF;
const unsigned ConstructedBit = 0x20;

// Octets after the first length octet: 0 for the short form.
unsigned longLengthOctets(unsigned length) {
  if (length <= 127) return 0;
  unsigned n = 1;
  while (n < 4 && (length >> (8 * n)) != 0) ++n;
  return n;
}

unsigned headerSize(unsigned tagWord, unsigned length) {
  unsigned number = tagWord & TagNumberMask;
  unsigned size = 1;
  if (number >= 31) {
    do {
      ++size;
      number >>= 7;
    } while (number != 0);
  }
  return size + 1 + longLengthOctets(length);
}

// The tag a value is coded under when the caller names none.
unsigned effectiveTag(AbstractData const& value, int tag) {
  return tag == -1 ? static_cast<unsigned>(value.getTag()) : static_cast<unsigned>(tag);
}

bool isPrimitive(AbstractData const& value) {
  PrimitiveChecker checker;
  return value.accept(checker);
}

}  // namespace

int getIntegerDataLength(int value) {
  unsigned u = static_cast<unsigned>(value);
  unsigned sign = value < 0 ? 0x1FFu : 0u;
  for (int n = 4; n >= 2; --n) {
    unsigned window = (u >> (8 * (n - 1) - 1)) & 0x1FFu;
    if (window != sign) return n;
  }
  return 1;
}

unsigned getDataLength(AbstractData const& value) {
  DataLengthCounter counter;
  value.accept(counter);
  return counter.getDataLen();
}

unsigned getObjectLength(AbstractData const& value, unsigned tag) {
  if (tag == 0xFFFFFFFFu) tag = static_cast<unsigned>(value.getTag());
  unsigned length = getDataLength(value);
  if (tag == 0) return length;
  return headerSize(tag, length) + length;
}

// ---- BEREncoder

BEREncoder::BEREncoder(std::vector<char>& out) : buffer(out), tag(-1) {
  buffer.clear();
  buffer.reserve(256);
}

void BEREncoder::writeHeader(unsigned tagWord, bool constructed, unsigned length) {
  unsigned identifier = ((tagWord >> 16) & 0xC0u) | (constructed ? ConstructedBit : 0u);
  unsigned number = tagWord & TagNumberMask;
  if (number < 31) {
    encodeByte(identifier | number);
  } else {
    encodeByte(identifier | 0x1Fu);
    int shift = 14;  // a 16-bit number takes at most three groups
    while (shift > 0 && (number >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) encodeByte(0x80u | ((number >> shift) & 0x7Fu));
    encodeByte(number & 0x7Fu);
  }
  unsigned n = longLengthOctets(length);
  if (n == 0) {
    encodeByte(length);
  } else {
    encodeByte(0x80u | n);
    for (unsigned i = n; i-- > 0;) encodeByte(length >> (8 * i));
  }
}

bool BEREncoder::encodeHeader(AbstractData const& value) {
  unsigned tagWord = effectiveTag(value, tag);
  if (tagWord == 0) return true;
  writeHeader(tagWord, !isPrimitive(value), getDataLength(value));
  return true;
}

void BEREncoder::writeInteger(int value) {
  unsigned u = static_cast<unsigned>(value);
  for (int i = getIntegerDataLength(value); i-- > 0;) encodeByte(u >> (8 * i));
}

bool BEREncoder::do_visit(Null const& v) { return encodeHeader(v); }

bool BEREncoder::do_visit(BOOLEAN const& v) {
  encodeHeader(v);
  encodeByte(v ? 0xFF : 0x00);
  return true;
}

bool BEREncoder::do_visit(INTEGER const& v) {
  encodeHeader(v);
  writeInteger(v.getValue());
  return true;
}

bool BEREncoder::do_visit(ENUMERATED const& v) {
  encodeHeader(v);
  writeInteger(v.asInt());
  return true;
}

bool BEREncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  std::vector<char> contents;
  if (!v.encodeCommon(contents)) return false;
  encodeHeader(v);
  encodeBlock(contents.data(), static_cast<unsigned>(contents.size()));
  return true;
}

bool BEREncoder::do_visit(BIT_STRING const& v) {
  encodeHeader(v);
  if (v.size() == 0) {
    encodeByte(0);
    return true;
  }
  encodeByte((8 - v.size() % 8) % 8);
  encodeBlock(v.getData().data(), (v.size() + 7) / 8);
  return true;
}

bool BEREncoder::do_visit(OCTET_STRING const& v) {
  encodeHeader(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(AbstractString const& v) {
  encodeHeader(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(BMPString const& v) {
  encodeHeader(v);
  for (wchar_t c : v) {
    unsigned u = static_cast<unsigned>(c);
    encodeByte(u >> 8);
    encodeByte(u);
  }
  return true;
}

bool BEREncoder::do_visit(CHOICE const& v) {
  if (!v.hasKnownSelection()) return false;
  // A tagged CHOICE wraps the complete encoding of its alternative.
  unsigned tagWord = effectiveTag(v, tag);
  if (tagWord != 0) writeHeader(tagWord, true, getDataLength(v));
  tag = static_cast<int>(v.getSelectionTag());
  return v.getSelection()->accept(*this);
}

bool BEREncoder::do_visit(OpenData const& v) {
  if (v.isEmpty()) return false;
  unsigned tagWord = effectiveTag(v, tag);
  if (tagWord != 0) writeHeader(tagWord, true, getDataLength(v));
  tag = -1;
  if (v.has_data()) return v.get_data().accept(*this);
  encodeBlock(v.get_buf().data(), static_cast<unsigned>(v.get_buf().size()));
  return true;
}

bool BEREncoder::do_visit(GeneralizedTime const& v) {
  std::string text = v.get();
  encodeHeader(v);
  encodeBlock(text.data(), static_cast<unsigned>(text.size()));
  return true;
}

bool BEREncoder::do_visit(SEQUENCE_OF_Base const& v) {
  encodeHeader(v);
  for (AbstractData const* element : v) {
    tag = -1;
    if (!element->accept(*this)) return false;
  }
  return true;
}

bool BEREncoder::preVisitExtensionRoots(SEQUENCE const& v) { return encodeHeader(v); }

bool BEREncoder::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  if (field == nullptr) return false;
  tag = static_cast<int>(v.getFieldTag(index));
  return field->accept(*this);
}

bool BEREncoder::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

// ---- DataLengthCounter

unsigned DataLengthCounter::getObjectLen(unsigned tag) const {
  return tag == 0 ? length : headerSize(tag, length) + length;
}

bool DataLengthCounter::do_visit(Null const&) { return true; }

bool DataLengthCounter::do_visit(BOOLEAN const&) {
  length += 1;
  return true;
}

bool DataLengthCounter::do_visit(INTEGER const& v) {
  length += static_cast<unsigned>(getIntegerDataLength(v.getValue()));
  return true;
}

bool DataLengthCounter::do_visit(ENUMERATED const& v) {
  length += static_cast<unsigned>(getIntegerDataLength(v.asInt()));
  return true;
}

bool DataLengthCounter::do_visit(OBJECT_IDENTIFIER const& v) {
  std::vector<char> contents;
  if (!v.encodeCommon(contents)) return false;
  length += static_cast<unsigned>(contents.size());
  return true;
}

bool DataLengthCounter::do_visit(BIT_STRING const& v) {
  length += 1 + (v.size() + 7) / 8;
  return true;
}

bool DataLengthCounter::do_visit(OCTET_STRING const& v) {
  length += static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(AbstractString const& v) {
  length += static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(BMPString const& v) {
  length += 2 * static_cast<unsigned>(v.size());
  return true;
}

bool DataLengthCounter::do_visit(CHOICE const& v) {
  if (v.hasKnownSelection()) length += getObjectLength(*v.getSelection(), v.getSelectionTag());
  return true;
}

bool DataLengthCounter::do_visit(OpenData const& v) {
  if (v.has_data())
    length += getObjectLength(v.get_data(), static_cast<unsigned>(v.get_data().getTag()));
  else if (v.has_buf())
    length += static_cast<unsigned>(v.get_buf().size());
  return true;
}

bool DataLengthCounter::do_visit(GeneralizedTime const& v) {
  length += static_cast<unsigned>(v.get().size());
  return true;
}

bool DataLengthCounter::do_visit(SEQUENCE_OF_Base const& v) {
  for (AbstractData const* element : v) length += getObjectLength(*element, static_cast<unsigned>(element->getTag()));
  return true;
}

bool DataLengthCounter::preVisitExtensionRoots(SEQUENCE const&) { return true; }

bool DataLengthCounter::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  if (field == nullptr) return false;
  length += getObjectLength(*field, v.getFieldTag(index));
  return true;
}

bool DataLengthCounter::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

// ---- PrimitiveChecker

bool PrimitiveChecker::do_visit(CHOICE const& v) {
  return v.getSelection() == nullptr || v.getSelection()->accept(*this);
}

bool PrimitiveChecker::do_visit(OpenData const& v) { return !v.has_data() || v.get_data().accept(*this); }

// ---- BERDecoder

BERDecoder::BERDecoder(char const* begin, char const* e, CoderEnv* env)
    : Visitor(env), current(begin), end(e), implicitTags(0) {}

unsigned BERDecoder::decodeBlock(char* dest, unsigned n) {
  std::size_t k = std::min<std::size_t>(n, left());
  if (k != 0) std::memcpy(dest, current, k);
  current += k;
  return static_cast<unsigned>(k);
}

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length) {
  char const* start = current;
  auto fail = [&] {
    current = start;
    return false;
  };
  if (atEnd()) return fail();
  unsigned first = decodeByte();
  primitive = (first & ConstructedBit) == 0;
  unsigned number = first & 0x1Fu;
  if (number == 0x1F) {
    number = 0;
    unsigned octet;
    do {
      if (atEnd()) return fail();
      octet = decodeByte();
      number = number * 128 + (octet & 0x7Fu);
      if (number > TagNumberMask) return fail();  // tag words hold 16-bit numbers
    } while (octet & 0x80u);
  }
  tag = ((first & 0xC0u) << 16) | number;

  if (atEnd()) return fail();
  unsigned octet = decodeByte();
  if (octet < 0x80) {
    length = octet;
  } else {
    // 0x80 (no octets) reads as length 0: the indefinite form is not
    // supported. A length needing more than 32 bits is refused.
    unsigned n = octet & 0x7Fu;
    if (n > 4 || left() < n) return fail();
    length = 0;
    for (unsigned i = 0; i < n; ++i) length = (length << 8) | decodeByte();
  }
  // Every stated length is bounded by what remains before anything is
  // sized from it.
  if (length > left()) return fail();
  return true;
}

bool BERDecoder::decodeHeader(AbstractData& value, unsigned& length) {
  char const* start = current;
  unsigned tag;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  bool implicit = implicitTags > 0;
  if (implicit) --implicitTags;
  if (implicit || tag == static_cast<unsigned>(value.getTag())) return true;
  current = start;
  return false;
}

bool BERDecoder::decodeSigned(unsigned length, int& out) {
  if (length == 0) return false;
  unsigned u = (static_cast<unsigned char>(*current) & 0x80u) ? 0xFFFFFFFFu : 0u;
  for (unsigned i = 0; i < length; ++i) u = (u << 8) | decodeByte();
  out = static_cast<int>(u);
  return true;
}

bool BERDecoder::do_visit(Null& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  current += length;
  return true;
}

bool BERDecoder::do_visit(BOOLEAN& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  for (unsigned i = 0; i < length; ++i) v = decodeByte() != 0;
  return true;
}

bool BERDecoder::do_visit(INTEGER& v) {
  unsigned length;
  int value;
  if (!decodeHeader(v, length) || !decodeSigned(length, value)) return false;
  v.setValue(value);
  return true;
}

bool BERDecoder::do_visit(ENUMERATED& v) {
  // Written in two's complement, so read back sign-extended: -1 stays -1.
  unsigned length;
  int value;
  if (!decodeHeader(v, length) || !decodeSigned(length, value)) return false;
  v.setFromInt(value);
  return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  bool ok = v.decodeCommon(current, length);
  current += length;
  return ok;
}

bool BERDecoder::do_visit(OCTET_STRING& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  v.assign(current, current + length);
  current += length;
  return true;
}

bool BERDecoder::do_visit(BIT_STRING& v) {
  unsigned length;
  if (!decodeHeader(v, length) || length == 0) return false;
  unsigned unused = decodeByte();
  // More than 7 unused bits, or unused bits without a data octet, would
  // make the size run below zero.
  if (unused > 7 || (length == 1 && unused != 0)) return false;
  v.resize(8 * (length - 1) - unused);
  decodeBlock(v.getData().data(), length - 1);
  return true;
}

bool BERDecoder::do_visit(AbstractString& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  v.std::string::assign(current, length);
  current += length;
  return true;
}

bool BERDecoder::do_visit(BMPString& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  std::wstring text;
  text.reserve(length / 2);
  for (unsigned i = 0; i + 1 < length; i += 2) {
    unsigned high = static_cast<unsigned char>(current[i]);
    unsigned low = static_cast<unsigned char>(current[i + 1]);
    text.push_back(static_cast<wchar_t>((high << 8) | low));
  }
  v.assign(text.data(), static_cast<unsigned>(text.size()));
  current += length;
  return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  std::string text(current, length);
  current += length;
  v.set(text.c_str());
  return true;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  v.clear();
  unsigned length;
  if (!decodeHeader(v, length)) return false;
  char const* contentsEnd = current + length;
  while (current < contentsEnd) {
    std::unique_ptr<AbstractData> element(v.createElement());
    if (element == nullptr || !element->accept(*this)) return false;
    v.push_back(element.release());
  }
  // An element that ran past the list's own length is malformed.
  if (current != contentsEnd) return false;
  return true;
}

bool BERDecoder::decodeChoicePreamle(CHOICE& value, char const*& altEnd) {
  char const* start = current;
  unsigned tag;
  bool primitive;
  unsigned length;
  if (!decodeHeader(tag, primitive, length)) return false;
  if (hasWrapper(value)) {
    bool implicit = implicitTags > 0;
    if (implicit) --implicitTags;
    char const* wrapperEnd = current + length;
    char const* altStart = current;
    if ((!implicit && tag != static_cast<unsigned>(value.getTag())) || !decodeHeader(tag, primitive, length) ||
        current + length > wrapperEnd) {
      current = start;
      return false;
    }
    altEnd = current + length;
    current = altStart;
  } else {
    altEnd = current + length;
    current = start;
  }
  // Automatically tagged alternatives carry context-specific tags only.
  if (value.info()->tags == nullptr && (tag >> 16) != ContextTagClass) return false;
  if (!value.setID(tag & TagNumberMask, tag >> 16)) return false;
  if (value.currentSelection() >= 0 && value.getSelectionTag() != 0) implicitTags = 1;
  return true;
}

bool BERDecoder::do_visit(CHOICE& v) {
  char const* altEnd = nullptr;
  if (!decodeChoicePreamle(v, altEnd)) return false;
  if (!v.isUnknownSelection()) {
    AbstractData* selection = v.getSelection();
    if (selection == nullptr || !selection->accept(*this) || current > altEnd) return false;
  }
  // An alternative this type does not know is skipped whole.
  implicitTags = 0;
  current = altEnd;
  return true;
}

bool BERDecoder::do_visit(OpenData& v) {
  char const* start = current;
  unsigned tag;
  bool primitive;
  unsigned length;
  if (!decodeHeader(tag, primitive, length)) return false;
  bool wrapped = hasWrapper(v);
  bool implicit = implicitTags > 0;
  implicitTags = 0;
  if (wrapped && !implicit && tag != static_cast<unsigned>(v.getTag())) {
    current = start;
    return false;
  }
  // Without a header of its own the held octets are the inner value's
  // complete encoding; with one, they are that header's contents.
  char const* from = wrapped ? current : start;
  if (!v.has_buf()) v.grab(new std::vector<char>());
  v.get_buf().assign(from, current + length);
  current += length;
  return true;
}

bool BERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  std::vector<char> const& octets = v.get_buf();
  BERDecoder inner(octets.data(), octets.data() + octets.size(), get_env());
  return v.get_data().accept(inner);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v) {
  if (!v.has_data()) return false;
  if (!hasWrapper(v)) return v.get_data().accept(*this);
  char const* start = current;
  unsigned tag;
  bool primitive;
  unsigned length;
  if (!decodeHeader(tag, primitive, length)) return false;
  bool implicit = implicitTags > 0;
  implicitTags = 0;
  if (!implicit && tag != static_cast<unsigned>(v.getTag())) {
    current = start;
    return false;
  }
  char const* wrapperEnd = current + length;
  if (!v.get_data().accept(*this) || current > wrapperEnd) return false;
  current = wrapperEnd;
  return true;
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& v) {
  unsigned length;
  if (!decodeHeader(v, length)) return StepFail;
  sequenceEnds.push_back(current + length);
  return StepWithExtensions;
}

int BERDecoder::decodeField(SEQUENCE& v, int index, int optionalIndex) {
  bool optional = optionalIndex != -1;
  unsigned optIndex = static_cast<unsigned>(optionalIndex);
  char const* seqEnd = sequenceEnds.back();
  if (current > seqEnd) return StepFail;
  if (atEnd() || current == seqEnd) {
    if (!optional) return StepFail;
    v.removeOptionalField(optIndex);
    return StepWithExtensions;
  }

  unsigned fieldTag = v.getFieldTag(index);
  char const* start = current;
  unsigned tag;
  bool primitive;
  unsigned length;
  if (!decodeHeader(tag, primitive, length)) return StepFail;
  current = start;
  if (fieldTag != 0 && tag != fieldTag) {
    if (optional) v.removeOptionalField(optIndex);
    return StepWithExtensions;
  }

  if (optional) v.includeOptionalField(optIndex, static_cast<unsigned>(index));
  AbstractData* field = v.getField(static_cast<unsigned>(index));
  if (field == nullptr) return optional ? StepWithExtensions : StepFail;

  std::size_t depth = sequenceEnds.size();
  // Under a tag of the SEQUENCE's choosing the field's header carries that
  // tag in place of the type's own; a 0 in a tag table leaves it untagged.
  implicitTags = v.tagMode() != 2 && fieldTag != 0 ? 1 : 0;
  bool ok = field->accept(*this);
  implicitTags = 0;
  if (ok) return StepWithExtensions;
  if (!optional) return StepFail;
  v.removeOptionalField(optIndex);
  if (fieldTag != 0) return StepFail;
  // An untagged optional field that does not decode is taken as absent.
  sequenceEnds.resize(depth);
  current = start;
  return StepWithExtensions;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalIndex) {
  return decodeField(v, index, optionalIndex);
}

int BERDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalIndex) {
  return decodeField(v, index, optionalIndex);
}

bool BERDecoder::visitUnknownExtensions(SEQUENCE&) {
  char const* seqEnd = sequenceEnds.back();
  sequenceEnds.pop_back();
  // Whatever follows the known fields inside the SEQUENCE is skipped; a
  // field that ran past the SEQUENCE's own length is malformed.
  if (current > seqEnd) return false;
  current = seqEnd;
  return true;
}

// ---- the environment's entry points for encoding rule 1

bool CoderEnv::encodeBER(AbstractData const& value, OutputIterator out) {
  std::vector<char> octets;
  BEREncoder encoder(octets);
  if (!value.accept(encoder)) return false;
  std::copy(octets.begin(), octets.end(), out);
  return true;
}

bool CoderEnv::decodeBER(char const* begin, char const* end, AbstractData& value, CoderEnv* env) {
  BERDecoder decoder(begin, end, env);
  return value.accept(decoder);
}

}  // namespace ASN1
