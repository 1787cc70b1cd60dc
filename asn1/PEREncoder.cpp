#include "asn1/PEREncoder.h"

#include <climits>
#include <cstring>
#include <string>

#include "asn1/CoderEnv.h"
#include "asn1/Constructed.h"
#include "asn1/PERCommon.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"

namespace ASN1 {

PEREncoder::PEREncoder(std::vector<char>& out, bool aligned) : out_(out), freeBits_(8), aligned_(aligned) {
  out_.clear();
  out_.reserve(256);
}

PEREncoder::PEREncoder(std::vector<char>& out, bool aligned, Append) : out_(out), freeBits_(8), aligned_(aligned) {}

void PEREncoder::byteAlign() { freeBits_ = 8; }

void PEREncoder::encodeSingleBit(bool bit) { encodeMultiBit(bit ? 1u : 0u, 1); }

// The bits already in the partly filled octet and the new ones are put
// together in one word and stored as whole octets in one step.
void PEREncoder::encodeMultiBit(unsigned value, unsigned bits) {
  if (bits == 0) return;
  if (bits < 32) value &= (1u << bits) - 1u;
  if (freeBits_ != 8 && bits < freeBits_) {
    freeBits_ = static_cast<uint16_t>(freeBits_ - bits);
    out_.back() = static_cast<char>(out_.back() | (value << freeBits_));
    return;
  }
  uint64_t acc = value;
  unsigned total = bits;
  if (freeBits_ != 8) {
    acc |= static_cast<uint64_t>(static_cast<unsigned char>(out_.back()) >> freeBits_) << bits;
    total += 8u - freeBits_;
    out_.pop_back();
  }
  unsigned octets = (total + 7) / 8;
  unsigned pad = octets * 8 - total;
  acc <<= pad;
  freeBits_ = static_cast<uint16_t>(pad == 0 ? 8 : pad);
  for (unsigned i = octets; i-- > 0;) out_.push_back(static_cast<char>(acc >> (8 * i)));
}

void PEREncoder::appendOctets(unsigned value, unsigned n) {
  freeBits_ = 8;
  for (unsigned i = n; i-- > 0;) out_.push_back(static_cast<char>(value >> (8 * i)));
}

void PEREncoder::encodeBitMap(char const* map, unsigned bits) {
  unsigned whole = bits / 8;
  for (unsigned i = 0; i < whole; ++i) encodeMultiBit(static_cast<unsigned char>(map[i]), 8);
  unsigned rest = bits % 8;
  if (rest != 0) encodeMultiBit(static_cast<unsigned char>(map[whole]) >> (8 - rest), rest);
}

void PEREncoder::encodeBlock(char const* data, unsigned n) {
  if (n == 0) return;
  byteAlign();
  out_.insert(out_.end(), data, data + n);
}

bool PEREncoder::encodeUnsigned(unsigned value, unsigned lower, unsigned upper) {
  return encodeWhole(value, lower, upper);
}

// Every bound is carried in 64 bits, so that a range such as -128..127 or
// 0..4294967295 is neither negative nor wrapped.
bool PEREncoder::encodeWhole(int64_t value, int64_t lower, int64_t upper) {
  if (value < lower || value > upper) return false;
  if (lower == upper) return true;
  uint64_t range = static_cast<uint64_t>(upper - lower) + 1;
  unsigned nb = countBits64(range);
  uint64_t x = static_cast<uint64_t>(value - lower);
  if (x > UINT32_MAX) return false;
  if (!aligned_ || range < 256) {
    if (nb > 32) return false;
    encodeMultiBit(static_cast<unsigned>(x), nb);
    return true;
  }
  if (nb > 16) {
    unsigned k = (countBits64(x + 1) + 7) / 8;
    if (k == 0) k = 1;
    if (!encodeLength(k, 1, (nb + 7) / 8)) return false;
    appendOctets(static_cast<unsigned>(x), k);
    return true;
  }
  appendOctets(static_cast<unsigned>(x), nb > 8 ? 2 : 1);
  return true;
}

bool PEREncoder::encodeLength(unsigned length, unsigned lower, unsigned upper) {
  if (length < lower || length > upper) return false;
  if (!aligned_ && upper != kNoUpperBound) {
    encodeMultiBit(length - lower, countBits64(uint64_t{upper} - lower + 1));
    return true;
  }
  if (upper <= 65535) return encodeWhole(length, lower, upper);
  // No fragments: a longer length could not be read back by any peer.
  if (length >= 16384) return false;
  if (length <= 127)
    appendOctets(length, 1);
  else
    appendOctets(0x8000u | length, 2);
  return true;
}

void PEREncoder::encodeSmallUnsigned(unsigned n) {
  if (n <= 63) {
    encodeMultiBit(n, 7);
    return;
  }
  encodeSingleBit(true);
  unsigned k = n < 256u ? 1 : n < 65536u ? 2 : n < 16777216u ? 3 : 4;
  encodeLength(k, 0, kNoUpperBound);
  byteAlign();
  encodeMultiBit(n, 8 * k);
}

bool PEREncoder::encodeConstraint(ConstrainedObject const& c, int64_t value) {
  if (!c.extendable()) return c.getConstraintType() != FixedConstraint;
  int64_t lower, upper;
  valueBounds(c, lower, upper);
  bool outside = value < lower || value > upper;
  encodeSingleBit(outside);
  return outside;
}

bool PEREncoder::encodeConstrainedLength(ConstrainedObject const& c, unsigned length) {
  if (encodeConstraint(c, length)) return encodeLength(length, 0, kNoUpperBound);
  return encodeLength(length, static_cast<unsigned>(c.getLowerLimit()), c.getUpperLimit());
}

bool PEREncoder::encodeRawOpenType(char const* data, unsigned n) {
  if (!encodeLength(n, 0, kNoUpperBound)) return false;
  encodeBlock(data, n);
  return true;
}

// The value is written in place after the current octet and its length
// slid in before it afterwards, so no second buffer is needed.
bool PEREncoder::encodeAnyType(AbstractData const* value) {
  byteAlign();
  std::size_t start = out_.size();
  if (value != nullptr) {
    PEREncoder nested(out_, true, Append());
    if (!value->accept(nested)) {
      out_.resize(start);
      return false;
    }
  }
  // An empty encoding travels as one zero octet.
  if (out_.size() == start) out_.push_back(0);
  std::size_t n = out_.size() - start;
  // No fragments (see encodeLength).
  if (n >= 16384) {
    out_.resize(start);
    return false;
  }
  char length[2];
  std::size_t k = 1;
  if (n <= 127) {
    length[0] = static_cast<char>(n);
  } else {
    length[0] = static_cast<char>(0x80 | (n >> 8));
    length[1] = static_cast<char>(n & 0xFF);
    k = 2;
  }
  out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(start), length, length + k);
  byteAlign();
  return true;
}

// ---- values

bool PEREncoder::do_visit(Null const&) { return true; }

bool PEREncoder::do_visit(BOOLEAN const& v) {
  encodeSingleBit(static_cast<bool>(v));
  return true;
}

bool PEREncoder::do_visit(INTEGER const& v) {
  int64_t value = integerValue(v);
  if (encodeConstraint(v, value)) {
    // A value below a lower-bound-only constraint would come back as
    // another number (that form is read without a sign); refuse it.
    if (v.getConstraintType() == PartiallyConstrained && static_cast<int64_t>(v.getValue()) < v.getLowerLimit())
      return false;
    // The fewest octets of the two's complement, after their count.
    int s = v.getValue();
    unsigned k = s >= -128 && s <= 127 ? 1 : s >= -32768 && s <= 32767 ? 2 : s >= -8388608 && s <= 8388607 ? 3 : 4;
    appendOctets(k, 1);
    appendOctets(static_cast<unsigned>(s), k);
    return true;
  }
  int64_t lower, upper;
  valueBounds(v, lower, upper);
  return encodeWhole(value, lower, upper);
}

bool PEREncoder::do_visit(ENUMERATED const& v) {
  int value = v.asInt();
  if (v.extendable()) {
    bool outside = value > v.getMaximum();
    encodeSingleBit(outside);
    if (outside) {
      encodeSmallUnsigned(static_cast<unsigned>(value) + 1u);
      return encodeWhole(value, 0, value);
    }
  }
  return encodeWhole(value, 0, v.getMaximum());
}

bool PEREncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  std::vector<char> contents;
  if (!v.encodeCommon(contents) || contents.size() > 255) return false;
  unsigned k = static_cast<unsigned>(contents.size());
  if (!encodeLength(k, 0, 255)) return false;
  encodeBlock(contents.data(), k);
  return true;
}

bool PEREncoder::do_visit(BIT_STRING const& v) {
  unsigned bits = v.size();
  if (!encodeConstrainedLength(v, bits)) return false;
  if (bits == 0) return true;
  if (bits > 16 && aligned_)
    encodeBlock(v.getData().data(), (bits + 7) / 8);
  else
    encodeBitMap(v.getData().data(), bits);
  return true;
}

bool PEREncoder::do_visit(OCTET_STRING const& v) {
  if (v.size() > UINT32_MAX) return false;
  unsigned n = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, n)) return false;
  if (n == 0) return true;
  if (n <= 2) {
    for (unsigned i = 0; i < n; ++i) encodeMultiBit(static_cast<unsigned char>(v[i]), 8);
    return true;
  }
  encodeBlock(v.data(), n);
  return true;
}

bool PEREncoder::do_visit(AbstractString const& v) {
  if (v.size() > UINT32_MAX) return false;
  unsigned n = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, n)) return false;
  unsigned nb = v.getNumBits(aligned_);
  if (!isShortString(v, nb)) {
    if (nb == 8) {
      encodeBlock(v.data(), n);
      return true;
    }
    if (aligned_) byteAlign();
  }
  unsigned canonical = v.getCanonicalSetBits();
  bool asCode = canonical <= nb && canonical > 4;
  char const* set = v.getCharacterSet();
  unsigned setSize = v.getCharacterSetSize();
  for (unsigned i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(v[i]);
    if (asCode) {
      if (nb < 8 && (c >> nb) != 0) return false;
      encodeMultiBit(c, nb);
      continue;
    }
    void const* at = set != nullptr ? std::memchr(set, c, setSize) : nullptr;
    if (at == nullptr) return false;
    encodeMultiBit(static_cast<unsigned>(static_cast<char const*>(at) - set), nb);
  }
  return true;
}

bool PEREncoder::do_visit(BMPString const& v) {
  if (v.size() > UINT32_MAX) return false;
  unsigned n = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, n)) return false;
  unsigned nb = v.getNumBits(aligned_);
  if (aligned_ && (v.getConstraintType() == Unconstrained || uint64_t{v.getUpperLimit()} * nb > 16)) byteAlign();
  for (unsigned i = 0; i < n; ++i) {
    // A character outside the permitted range would travel as another one.
    if (!v.legalCharacter(v[i])) return false;
    uint64_t code = static_cast<uint64_t>(static_cast<int64_t>(v[i]) - v.getFirstChar());
    if (nb < 32 && (code >> nb) != 0) return false;
    encodeMultiBit(static_cast<unsigned>(code), nb);
  }
  return true;
}

bool PEREncoder::do_visit(CHOICE const& v) {
  // Nothing selected, or an alternative this type does not know (its
  // contents were never kept): there is nothing to write.
  if (!v.hasKnownSelection()) return false;
  int id = v.currentSelection();
  unsigned roots = v.getNumChoices();
  if (v.extendable()) {
    bool addition = static_cast<unsigned>(id) >= roots;
    encodeSingleBit(addition);
    if (addition) {
      encodeSmallUnsigned(static_cast<unsigned>(id) - roots);
      return encodeAnyType(v.getSelection());
    }
  }
  if (roots > 1) {
    if (!encodeWhole(id, 0, int64_t{roots} - 1)) return false;
  } else if (static_cast<unsigned>(id) >= roots) {
    return false;
  }
  return v.getSelection()->accept(*this);
}

bool PEREncoder::do_visit(OpenData const& v) {
  if (v.has_data()) return encodeAnyType(&v.get_data());
  // Octets received and never decoded go out as they came.
  if (v.has_buf()) {
    if (v.get_buf().size() > UINT32_MAX) return false;
    return encodeRawOpenType(v.get_buf().data(), static_cast<unsigned>(v.get_buf().size()));
  }
  return encodeAnyType(nullptr);
}

bool PEREncoder::do_visit(GeneralizedTime const& v) {
  std::string text = v.get();
  unsigned n = static_cast<unsigned>(text.size());
  if (!encodeLength(n, 0, kNoUpperBound)) return false;
  encodeBlock(text.data(), n);
  return true;
}

bool PEREncoder::do_visit(SEQUENCE_OF_Base const& v) {
  if (!encodeConstrainedLength(v, v.size())) return false;
  for (AbstractData const* element : v) {
    if (!element->accept(*this)) return false;
  }
  return true;
}

// ---- SEQUENCE

bool PEREncoder::preVisitExtensionRoots(SEQUENCE const& v) {
  if (v.extendable()) encodeSingleBit(hasKnownExtension(v));
  unsigned optional = v.info()->numOptional;
  if (v.optionalMap().size() != optional) return false;
  encodeBitMap(v.optionalMap().bytes().data(), optional);
  return true;
}

bool PEREncoder::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  return field != nullptr && field->accept(*this);
}

// The presence map goes out as long as the value's own map. Bits of
// additions this type does not know (kept from a decode, their contents
// were not) are written as 0: the contents cannot be relayed.
bool PEREncoder::preVisitExtensions(SEQUENCE const& v) {
  if (!v.extendable() || !hasKnownExtension(v)) return true;
  SEQUENCE::BitMap const& map = v.extensionMap();
  unsigned known = v.info()->knownExtensions;
  encodeSmallUnsigned(map.size() - 1);
  if (map.size() <= known) {
    encodeBitMap(map.bytes().data(), map.size());
    return true;
  }
  std::vector<char> bits(map.bytes().begin(), map.bytes().end());
  for (unsigned j = known; j < map.size(); ++j) bits[j / 8] = static_cast<char>(bits[j / 8] & ~(0x80u >> (j % 8)));
  encodeBitMap(bits.data(), map.size());
  return true;
}

bool PEREncoder::visitKnownExtension(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  return field != nullptr && encodeAnyType(field);
}

// ---- entry point

namespace {
// The vector behind a back inserter, so that the encoder writes into the
// caller's buffer itself rather than into a copy.
struct InsertTarget : CoderEnv::OutputIterator {
  explicit InsertTarget(CoderEnv::OutputIterator it) : CoderEnv::OutputIterator(it) {}
  std::vector<char>& vector() const { return *container; }
};
}  // namespace

bool CoderEnv::encodePER(AbstractData const& value, OutputIterator out) {
  std::vector<char>& octets = InsertTarget(out).vector();
  std::size_t start = octets.size();
  PEREncoder encoder(octets, true, PEREncoder::Append());
  if (value.accept(encoder)) return true;
  octets.resize(start);
  return false;
}

}  // namespace ASN1
