#include "asn1/PERDecoder.h"

#include <climits>
#include <cstring>
#include <string>

#include "asn1/CoderEnv.h"
#include "asn1/PERCommon.h"
#include "asn1/PEREncoder.h"

namespace ASN1 {

PERDecoder::PERDecoder(char const* begin, char const* end, CoderEnv* env, bool aligned)
    : Visitor(env), pos_(begin), end_(end), unread_(8), aligned_(aligned) {}


unsigned PERDecoder::getBitsLeft() const {
  uint64_t n = bitsLeft();
  return n > UINT_MAX ? UINT_MAX : static_cast<unsigned>(n);
}

void PERDecoder::setPosition(char const* position) {
  pos_ = position < end_ ? position : end_;
  unread_ = 8;
}

void PERDecoder::rollback(memento_type m) {
  if (m.position == nullptr) return;
  pos_ = m.position < end_ ? m.position : end_;
  unread_ = static_cast<uint16_t>(m.bits);
}

// A bit field of 1..8 bits, the form of presence maps, CHOICE indexes and
// small constrained numbers: it ends in the octet at hand or the next one.
inline __attribute__((always_inline)) bool PERDecoder::decodeShortBits(unsigned bits, unsigned& value) {
  unsigned char const* p = reinterpret_cast<unsigned char const*>(pos_);
  if (bits < unread_) {
    if (pos_ >= end_) return false;
    unread_ = static_cast<uint16_t>(unread_ - bits);
    value = (p[0] >> unread_) & ((1u << bits) - 1u);
    return true;
  }
  // Bits of the next octet left unread (8: none of it is read).
  unsigned shift = unread_ + 8 - bits;
  std::ptrdiff_t avail = end_ - pos_;
  if (avail < (shift < 8 ? 2 : 1)) return false;
  unsigned window = unsigned{p[0]} << 8;
  if (shift < 8) window |= p[1];
  value = (window >> shift) & ((1u << bits) - 1u);
  ++pos_;
  unread_ = static_cast<uint16_t>(shift);
  return true;
}

bool PERDecoder::decodeMultiBitAcross(unsigned bits, unsigned& value) {
  if (bits == 0) {
    value = 0;
    return true;
  }
  if (bits > 32 || pos_ >= end_) return false;
  // The octets after the one at hand that the read reaches into; all of
  // them must be there.
  unsigned extra = bits <= unread_ ? 0 : (bits - unread_ + 7) / 8;
  if (extra >= static_cast<uint64_t>(end_ - pos_)) return false;
  uint64_t v = static_cast<unsigned char>(*pos_) & ((1u << unread_) - 1u);
  for (unsigned i = 1; i <= extra; ++i) v = (v << 8) | static_cast<unsigned char>(pos_[i]);
  unsigned shift = unread_ + 8 * extra - bits;
  value = static_cast<unsigned>(v >> shift);
  if (shift == 0) {
    pos_ += extra + 1;
    unread_ = 8;
  } else {
    pos_ += extra;
    unread_ = static_cast<uint16_t>(shift);
  }
  return true;
}

bool PERDecoder::decodeBitMap(char* map, std::size_t size, unsigned bits) {
  if (size < (uint64_t{bits} + 7) / 8) return false;
  unsigned whole = bits / 8;
  unsigned v = 0;
  for (unsigned i = 0; i < whole; ++i) {
    if (!decodeMultiBit(8, v)) return false;
    map[i] = static_cast<char>(v);
  }
  unsigned rest = bits % 8;
  if (rest != 0) {
    if (!decodeMultiBit(rest, v)) return false;
    map[whole] = static_cast<char>(v << (8 - rest));
  }
  return true;
}

unsigned PERDecoder::decodeBlock(char* dst, unsigned n) {
  if (n == 0) return 0;
  byteAlign();
  uint64_t avail = octetsLeft();
  unsigned m = avail < n ? static_cast<unsigned>(avail) : n;
  if (m != 0) std::memcpy(dst, pos_, m);
  pos_ += m;
  return m;
}

// The constrained numbers of the messages span less than 16 bits: a bit
// field up to 254, one or two aligned octets up to 65535. Wider spans and
// the unaligned variant take decodeOffsetWide.
inline __attribute__((always_inline)) bool PERDecoder::decodeOffset(uint64_t span, unsigned& x) {
  if (span < 255) {
    if (!decodeShortBits(64u - static_cast<unsigned>(__builtin_clzll(span)), x)) return false;
  } else if (aligned_ && span <= 65535) {
    byteAlign();
    uint64_t avail = octetsLeft();
    unsigned char const* p = reinterpret_cast<unsigned char const*>(pos_);
    if (span == 255) {
      if (avail < 1) return false;
      x = p[0];
      pos_ += 1;
    } else {
      if (avail < 2) return false;
      x = (unsigned{p[0]} << 8) | p[1];
      pos_ += 2;
    }
  } else {
    return decodeOffsetWide(span, x);
  }
  // A number above the span (a slot 0..1023 arrives in 16 bits) is refused.
  return x <= span;
}

bool PERDecoder::decodeOffsetWide(uint64_t span, unsigned& x) {
  if (atEnd()) return false;
  unsigned nb = countBits64(span + 1);
  if (aligned_ && span >= 255) {
    if (nb > 16) {
      unsigned k = 0;
      if (decodeLength(1, (nb + 7) / 8, k) < 0) return false;
      nb = 8 * k;
    } else if (nb > 8) {
      nb = 16;
    }
    byteAlign();
  }
  return decodeMultiBit(nb, x) && x <= span;
}

int PERDecoder::decodeUnsigned(unsigned lower, unsigned upper, unsigned& value) {
  int64_t v = 0;
  if (decodeWhole(lower, upper, v) < 0) return -1;
  value = static_cast<unsigned>(v);
  return 0;
}

int PERDecoder::decodeWhole(int64_t lower, int64_t upper, int64_t& value) {
  if (lower == upper) {
    value = lower;
    return 0;
  }
  unsigned x = 0;
  if (upper < lower || !decodeOffset(static_cast<uint64_t>(upper - lower), x)) return -1;
  value = lower + x;
  return 0;
}

int PERDecoder::decodeLength(unsigned lower, unsigned upper, unsigned& length) {
  unsigned n = 0;
  if (!aligned_ && upper != kNoUpperBound) {
    if (upper < lower || !decodeMultiBit(countBits64(uint64_t{upper} - lower + 1), n)) return -1;
    if (n > upper - lower) return -1;
    length = lower + n;
    return 0;
  }
  if (upper <= 65535) return decodeUnsigned(lower, upper, length);
  byteAlign();
  if (atEnd()) return -1;
  unsigned first = static_cast<unsigned char>(*pos_++);
  if ((first & 0x80) == 0) {
    n = first;
  } else if ((first & 0x40) == 0) {
    if (atEnd()) return -1;
    n = ((first & 0x3F) << 8) | static_cast<unsigned char>(*pos_++);
  } else {
    return -1;  // fragments are never written
  }
  if (n < lower || n > upper) return -1;
  length = n;
  return 0;
}

// Strings and lists without a size constraint are the common case, and
// their lengths are mostly under 128: one aligned octet, read here.
inline __attribute__((always_inline)) int PERDecoder::decodeSizeOf(ConstrainedObject& c, unsigned& length) {
  ConstraintType type = c.getConstraintType();
  if (type == Unconstrained || type == PartiallyConstrained) {
    char const* p = pos_ + (unread_ != 8);
    if (p < end_ && (static_cast<unsigned char>(*p) & 0x80) == 0) {
      length = static_cast<unsigned char>(*p);
      pos_ = p + 1;
      unread_ = 8;
      return 0;
    }
  }
  return decodeConstrainedLength(c, length);
}

int PERDecoder::decodeConstrainedLength(ConstrainedObject& c, unsigned& length) {
  switch (c.getConstraintType()) {
    case ExtendableConstraint:
      if (atEnd()) return -1;
      if (decodeSingleBit()) return decodeLength(0, kNoUpperBound, length);
      return decodeLength(static_cast<unsigned>(c.getLowerLimit()), c.getUpperLimit(), length);
    case FixedConstraint:
      return decodeLength(static_cast<unsigned>(c.getLowerLimit()), c.getUpperLimit(), length);
    default:
      // The encoder writes these lengths without bounds.
      return decodeLength(0, kNoUpperBound, length);
  }
}

bool PERDecoder::decodeSmallUnsigned(unsigned& value) {
  if (atEnd()) return false;
  if (decodeSingleBit() == 0) return decodeMultiBit(6, value);
  unsigned k = 0;
  if (decodeLength(0, kNoUpperBound, k) < 0 || k > 4) return false;
  byteAlign();
  return decodeMultiBit(8 * k, value);
}

bool PERDecoder::openTypeEnd(char const*& openEnd) {
  unsigned k = 0;
  if (decodeLength(0, kNoUpperBound, k) < 0) return false;
  if (k > octetsLeft()) return false;
  openEnd = pos_ + k;
  return true;
}

bool PERDecoder::decodeWithin(AbstractData& value, char const* limit) {
  char const* outerEnd = end_;
  end_ = limit;
  bool ok = value.accept(*this);
  end_ = outerEnd;
  setPosition(limit);
  return ok;
}

// ---- values

bool PERDecoder::do_visit(Null&) { return true; }

bool PERDecoder::do_visit(BOOLEAN& v) {
  if (atEnd()) return false;
  v = decodeSingleBit() != 0;
  return true;
}

// Most INTEGERs of the messages are unconstrained and small: an aligned
// count octet of 1..4 and that many octets of two's complement, read here
// in one go; most constrained ones span less than 16 bits. Every other form
// (a longer or empty count, a partial or extensible constraint) and every
// shortage of data goes to decodeIntegerGeneral, which starts over.
inline __attribute__((always_inline)) bool PERDecoder::decodeInteger(INTEGER& v) {
  ConstrainedObject::InfoType const* c = v.info();
  if (c->type == Unconstrained) {
    unsigned char const* p = reinterpret_cast<unsigned char const*>(pos_ + (unread_ != 8));
    std::ptrdiff_t avail = end_ - reinterpret_cast<char const*>(p);
    if (avail > 1) {
      unsigned k = p[0];
      if (k - 1 < 4 && k < static_cast<uint64_t>(avail)) {
        uint32_t bits = p[1];
        for (unsigned i = 2; i <= k; ++i) bits = (bits << 8) | p[i];
        unsigned shift = 32 - 8 * k;
        v.setValue(static_cast<int32_t>(bits << shift) >> shift);
        pos_ = reinterpret_cast<char const*>(p + 1 + k);
        unread_ = 8;
        return true;
      }
    }
  } else if (c->type == FixedConstraint) {
    int64_t lower, upper;
    valueBounds(v, lower, upper);
    if (lower < upper) {
      unsigned x = 0;
      if (!decodeOffset(static_cast<uint64_t>(upper - lower), x)) return false;
      v.setValue(static_cast<int>(static_cast<uint32_t>(lower + x)));
      return true;
    }
  }
  return decodeIntegerGeneral(v);
}

bool PERDecoder::do_visit(INTEGER& v) { return decodeInteger(v); }

bool PERDecoder::decodeIntegerGeneral(INTEGER& v) {
  ConstraintType type = v.getConstraintType();
  bool unbounded = type == Unconstrained || type == PartiallyConstrained;
  if (type == ExtendableConstraint) {
    if (atEnd()) return false;
    unbounded = decodeSingleBit() != 0;
  }
  if (!unbounded) {
    int64_t lower, upper, x = 0;
    valueBounds(v, lower, upper);
    if (decodeWhole(lower, upper, x) < 0) return false;
    v.setValue(static_cast<int>(static_cast<uint32_t>(x)));
    return true;
  }
  // An aligned octet count, then the octets: the one-octet count is read
  // here, any other form by decodeLength.
  unsigned k = 0, bits = 0;
  byteAlign();
  if (pos_ < end_ && (static_cast<unsigned char>(*pos_) & 0x80) == 0)
    k = static_cast<unsigned char>(*pos_++);
  else if (decodeLength(0, kNoUpperBound, k) < 0)
    return false;
  if (k > 4 || k > octetsLeft()) return false;
  for (unsigned i = 0; i < k; ++i) bits = (bits << 8) | static_cast<unsigned char>(*pos_++);
  // The octets are the two's complement the encoder wrote. Only a
  // lower-bound-only type with a bound of 0 or more reads them unsigned.
  bool sign = type != PartiallyConstrained || v.getLowerLimit() < 0;
  if (sign && k > 0 && k < 4 && (bits >> (8 * k - 1)) != 0) bits |= ~((1u << (8 * k)) - 1u);
  v.setValue(static_cast<int>(bits));
  return true;
}

// A closed enumeration of 2..255 items, the common kind, is a bit field
// of its own.
inline __attribute__((always_inline)) bool PERDecoder::decodeEnumerated(ENUMERATED& v) {
  ENUMERATED::InfoType const* info = v.info();
  unsigned maximum = static_cast<unsigned>(info->maxEnumValue);
  if (info->extendable || maximum - 1 >= 254) return decodeEnumeratedGeneral(v);
  unsigned x = 0;
  if (!decodeShortBits(32u - static_cast<unsigned>(__builtin_clz(maximum)), x) || x > maximum) return false;
  v.setFromInt(static_cast<int>(x));
  return true;
}

bool PERDecoder::do_visit(ENUMERATED& v) { return decodeEnumerated(v); }

bool PERDecoder::decodeEnumeratedGeneral(ENUMERATED& v) {
  int64_t x = 0;
  if (v.extendable()) {
    if (atEnd()) return false;
    // A broken extension form (the small number unreadable or 0, or no
    // value after it) is not refused: peers expect the root form to be
    // read from wherever the reading stopped.
    unsigned n = 0;
    if (decodeSingleBit() && decodeSmallUnsigned(n) && n != 0 && decodeWhole(0, int64_t{n} - 1, x) == 0) {
      if (x > INT_MAX) return false;
      v.setFromInt(static_cast<int>(x));
      return true;
    }
  }
  if (decodeWhole(0, v.getMaximum(), x) < 0) return false;
  v.setFromInt(static_cast<int>(x));
  return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned k = 0;
  if (decodeLength(0, 255, k) < 0) return false;
  if (k > octetsLeft()) return false;
  char const* contents = pos_;
  pos_ += k;
  return v.decodeCommon(contents, k);
}

bool PERDecoder::do_visit(BIT_STRING& v) {
  unsigned bits = 0;
  if (decodeSizeOf(v, bits) < 0 || bits > MaximumStringSize) return false;
  if (bits > bitsLeft()) return false;
  v.resize(bits);
  if (bits == 0) return true;
  std::vector<char>& data = v.getData();
  if (bits > 16 && aligned_) {
    unsigned n = (bits + 7) / 8;
    if (decodeBlock(data.data(), n) != n) return false;
    // Padding bits of the last octet are not part of the value.
    if (bits % 8 != 0) data[n - 1] = static_cast<char>(data[n - 1] & (0xFF00u >> (bits % 8)));
    return true;
  }
  return decodeBitMap(data.data(), data.size(), bits);
}

bool PERDecoder::do_visit(OCTET_STRING& v) {
  unsigned n = 0;
  if (decodeSizeOf(v, n) < 0 || n > MaximumStringSize) return false;
  if (n <= 2) {
    if (uint64_t{n} * 8 > bitsLeft()) return false;
    v.resize(n);
    for (unsigned i = 0; i < n; ++i) {
      unsigned octet = 0;
      decodeMultiBit(8, octet);
      v[i] = static_cast<char>(octet);
    }
    return true;
  }
  byteAlign();
  if (n > octetsLeft()) return false;
  v.assign(pos_, pos_ + n);
  pos_ += n;
  return true;
}

bool PERDecoder::do_visit(AbstractString& v) {
  unsigned n = 0;
  if (decodeSizeOf(v, n) < 0 || n > MaximumStringSize) return false;
  unsigned nb = v.getNumBits(aligned_);
  if (!isShortString(v, nb)) {
    if (nb == 8) {
      if (n == 0) {
        v.clear();
        return true;
      }
      byteAlign();
      if (n > octetsLeft()) {
        v.clear();
        return false;
      }
      v.resize(n);
      decodeBlock(&v[0], n);
      return true;
    }
    if (aligned_) byteAlign();
  }
  if (uint64_t{n} * nb > bitsLeft()) return false;
  unsigned canonical = v.getCanonicalSetBits();
  bool asCode = canonical <= nb && canonical > 4;
  char const* set = v.getCharacterSet();
  unsigned setSize = v.getCharacterSetSize();
  v.resize(n);
  for (unsigned i = 0; i < n; ++i) {
    unsigned x = 0;
    if (!decodeMultiBit(nb, x)) return false;
    if (asCode) {
      if (x > 255) return false;
      v[i] = static_cast<char>(x);
    } else {
      // A position beyond the alphabet names no character.
      if (set == nullptr || x >= setSize) return false;
      v[i] = set[x];
    }
  }
  return true;
}

bool PERDecoder::do_visit(BMPString& v) {
  unsigned n = 0;
  if (decodeSizeOf(v, n) < 0 || n > MaximumStringSize) return false;
  unsigned nb = v.getNumBits(aligned_);
  if (aligned_ && (v.getConstraintType() == Unconstrained || uint64_t{v.getUpperLimit()} * nb >= 17)) byteAlign();
  if (uint64_t{n} * nb > bitsLeft()) return false;
  v.resize(n);
  for (unsigned i = 0; i < n; ++i) {
    unsigned x = 0;
    if (!decodeMultiBit(nb, x)) return false;
    v[i] = static_cast<wchar_t>(static_cast<int64_t>(v.getFirstChar()) + x);
  }
  return true;
}

bool PERDecoder::decodeChoicePreamle(CHOICE& v, memento_type& m) {
  m.position = nullptr;
  m.bits = 8;
  if (atEnd()) return false;
  unsigned roots = v.getNumChoices();
  uint64_t index = 0;
  if (v.extendable() && decodeSingleBit()) {
    unsigned i = 0;
    char const* openEnd = nullptr;
    if (!decodeSmallUnsigned(i) || !openTypeEnd(openEnd)) return false;
    index = uint64_t{i} + roots;
    m.position = openEnd;
  } else {
    if (roots == 0) return false;
    unsigned i = 0;
    if (roots > 1 && decodeUnsigned(0, roots - 1, i) < 0) return false;
    index = i;
  }
  if (index >= v.getTotalChoices() || index > INT_MAX) {
    // An alternative added after this type: skipped, never selected.
    v.setSelection(CHOICE::unknownSelection_, nullptr);
    return true;
  }
  return selectKnown(v, static_cast<int>(index));
}

bool PERDecoder::selectKnown(CHOICE& v, int index) {
  return v.select(index) && (v.getSelection() != nullptr || v.createSelection());
}

bool PERDecoder::do_visit(CHOICE& v) {
  CHOICE::InfoType const* info = v.info();
  unsigned roots = info->numChoices;
  // A root alternative of up to 128: its index, after the extension bit,
  // is one bit field of at most 8 bits. Other forms take the preamble.
  if (roots - 1 < 128 && pos_ < end_ &&
      !(info->extendable && ((static_cast<unsigned char>(*pos_) >> (unread_ - 1)) & 1) != 0)) {
    unsigned nb = roots > 1 ? 32u - static_cast<unsigned>(__builtin_clz(roots - 1)) : 0;
    unsigned head = nb + (info->extendable ? 1 : 0);
    unsigned i = 0;
    if (head != 0 && !decodeShortBits(head, i)) return false;
    if (i >= roots || !selectKnown(v, static_cast<int>(i))) return false;
    return v.getSelection()->accept(*this);
  }
  memento_type m;
  if (!decodeChoicePreamle(v, m)) return false;
  if (v.isUnknownSelection()) {
    rollback(m);
    return true;
  }
  if (m.position != nullptr) return decodeWithin(*v.getSelection(), m.position);
  return v.getSelection()->accept(*this);
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  unsigned n = 0;
  if (decodeSizeOf(v, n) < 0 || n > MaximumArraySize) return false;
  v.reserve(n);
  unsigned held = v.size();
  for (unsigned i = 0; i < n; ++i) {
    AbstractData* element;
    if (i < held) {
      element = *(v.begin() + i);
    } else {
      element = v.createElement();
      if (element == nullptr) return false;
      v.push_back(element);
    }
    if (!element->accept(*this)) {
      v.erase(v.begin() + i, v.end());
      return false;
    }
  }
  if (v.size() > n) v.erase(v.begin() + n, v.end());
  return true;
}

bool PERDecoder::do_visit(OpenData& v) {
  unsigned n = 0;
  if (decodeLength(0, kNoUpperBound, n) < 0 || n > MaximumStringSize) return false;
  if (n > octetsLeft()) return false;
  std::vector<char> octets(pos_, pos_ + n);
  pos_ += n;
  if (!v.has_buf()) v.grab(new std::vector<char>());
  v.get_buf().swap(octets);
  return true;
}

bool PERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  std::vector<char> const& octets = v.get_buf();
  PERDecoder nested(octets.data(), octets.data() + octets.size(), get_env(), true);
  return v.get_data().accept(nested);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& v) {
  char const* openEnd = nullptr;
  if (!openTypeEnd(openEnd) || !v.has_data()) return false;
  return decodeWithin(v.get_data(), openEnd);
}

bool PERDecoder::do_visit(GeneralizedTime& v) {
  unsigned n = 0;
  if (decodeLength(0, kNoUpperBound, n) < 0 || n == 0) return false;
  if (n > octetsLeft()) return false;
  std::string text(pos_, pos_ + n);
  pos_ += n;
  v.set(text.c_str());
  return true;
}

// ---- SEQUENCE

int PERDecoder::preVisitExtensionRoots(SEQUENCE& v) {
  bool extensions = false;
  if (v.extendable()) {
    if (atEnd()) return StepFail;
    extensions = decodeSingleBit() != 0;
  }
  unsigned optional = v.info()->numOptional;
  SEQUENCE::BitMap& map = v.optionalMap();
  if (map.size() != optional) map.resize(optional);
  if (!decodeBitMap(map.bytes().data(), map.bytes().size(), optional)) return StepFail;
  return extensions ? StepWithExtensions : StepRootsOnly;
}

// The common kinds straight to their readers, the others through a visit.
inline __attribute__((always_inline)) bool PERDecoder::decodeField(AbstractData& field, unsigned kind) {
  switch (kind) {
    case FieldPlace::Integer:
      return decodeInteger(static_cast<INTEGER&>(field));
    case FieldPlace::Boolean:
      return PERDecoder::do_visit(static_cast<BOOLEAN&>(field));
    case FieldPlace::Enumerated:
      return decodeEnumerated(static_cast<ENUMERATED&>(field));
    case FieldPlace::Nothing:
      return true;
    case FieldPlace::Sequence:
      return PERDecoder::do_visit(static_cast<SEQUENCE&>(field));
    case FieldPlace::Choice:
      return PERDecoder::do_visit(static_cast<CHOICE&>(field));
    default:
      return field.accept(*this);
  }
}

// The hooks' walk with the root fields read in place: the hot path of every
// message, so no hook call per field.
bool PERDecoder::do_visit(SEQUENCE& v) {
  SEQUENCE::InfoType const* info = v.info();
  unsigned optional = info->numOptional;
  int r;
  if (optional + info->extendable <= 8) {
    // The extension bit and a presence map of up to 8 bits in one read.
    SEQUENCE::BitMap& map = v.optionalMap();
    if (map.size() != optional) map.resize(optional);
    unsigned head = optional + info->extendable;
    unsigned bits = 0;
    if (head != 0 && !decodeShortBits(head, bits)) return false;
    if (optional != 0) map.bytes()[0] = static_cast<char>(bits << (8 - optional));
    r = (bits >> optional) != 0 ? StepWithExtensions : StepRootsOnly;
  } else {
    r = PERDecoder::preVisitExtensionRoots(v);
    if (r == StepFail) return false;
  }
  int const* ids = info->fieldIds;
  FieldPlace const* places = info->fieldBlock != nullptr ? info->fieldBlock->places : nullptr;
  // The map was just sized to the optional root fields, which is what the
  // record's optional indexes count; the slots do not move while read.
  unsigned char const* present = reinterpret_cast<unsigned char const*>(v.optionalMap().bytes().data());
  AbstractData* const* slots = v.fieldSlots();
  int lastOptional = -1;
  for (unsigned i = 0; i < info->numFields; ++i) {
    int id = ids[i];
    if (id != -1) {
      lastOptional = id;
      unsigned bit = static_cast<unsigned>(id);
      if ((present[bit / 8] & (0x80u >> (bit % 8))) == 0) continue;
      if (slots[i] == nullptr) v.includeOptionalField(bit, i);
    }
    AbstractData* field = slots[i];
    if (field == nullptr || !decodeField(*field, places != nullptr ? places[i].kind : FieldPlace::Other)) return false;
  }
  if (r != StepWithExtensions) return true;
  if (PERDecoder::preVisitExtensions(v) != StepWithExtensions) return false;
  for (unsigned i = info->numFields; i < v.fieldCount(); ++i) {
    ++lastOptional;
    if (PERDecoder::visitKnownExtension(v, static_cast<int>(i), lastOptional) != StepWithExtensions) return false;
  }
  return PERDecoder::visitUnknownExtensions(v);
}

int PERDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalIndex) {
  unsigned slot = static_cast<unsigned>(index);
  if (optionalIndex != -1) {
    if (!v.hasOptionalField(static_cast<unsigned>(optionalIndex))) return StepWithExtensions;
    if (v.getField(slot) == nullptr) v.includeOptionalField(static_cast<unsigned>(optionalIndex), slot);
  }
  AbstractData* field = v.getField(slot);
  if (field == nullptr || !field->accept(*this)) return StepFail;
  return StepWithExtensions;
}

int PERDecoder::preVisitExtensions(SEQUENCE& v) {
  unsigned n = 0;
  if (!decodeSmallUnsigned(n)) return StepFail;
  uint64_t size = uint64_t{n} + 1;
  if (size > MaximumArraySize) return StepFail;
  SEQUENCE::BitMap& map = v.extensionMap();
  map.resize(static_cast<unsigned>(size));
  if (!decodeBitMap(map.bytes().data(), map.bytes().size(), map.size())) return StepFail;
  return StepWithExtensions;
}

int PERDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalIndex) {
  unsigned slot = static_cast<unsigned>(index);
  if (!v.hasOptionalField(static_cast<unsigned>(optionalIndex))) return StepWithExtensions;
  char const* openEnd = nullptr;
  if (!openTypeEnd(openEnd)) return StepFail;
  if (v.getField(slot) == nullptr) v.includeOptionalField(static_cast<unsigned>(optionalIndex), slot);
  AbstractData* field = v.getField(slot);
  if (field == nullptr || !decodeWithin(*field, openEnd)) return StepFail;
  return StepWithExtensions;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& v) {
  SEQUENCE::BitMap const& map = v.extensionMap();
  for (unsigned j = v.info()->knownExtensions; j < map.size(); ++j) {
    if (!map[j]) continue;
    char const* openEnd = nullptr;
    // An addition that ends exactly at the end of the data is complete.
    if (!openTypeEnd(openEnd)) return false;
    setPosition(openEnd);
  }
  return true;
}

// ---- entry point

bool CoderEnv::decodePER(char const* begin, char const* end, AbstractData& value, CoderEnv* env) {
  PERDecoder decoder(begin, end, env, true);
  return value.accept(decoder);
}

}  // namespace ASN1
