#include "asn1/AVNDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "asn1/CoderEnv.h"
#include "asn1/Constructed.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"

namespace ASN1 {

namespace {

typedef std::istream::traits_type Traits;
const int Eof = Traits::eof();

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
// Characters that end a word even without a blank: the printer writes a
// comma right after an enumeration's name, a brace may follow a name.
bool isDelimiter(int c) { return c == ',' || c == '{' || c == '}'; }

// The next character without taking it; Eof at the end of the input or on a
// stream that is no longer good (peek sets only eofbit at the end).
int peekRaw(std::istream& is) {
  if (!is.good()) return Eof;
  return is.peek();
}

bool getRaw(std::istream& is, char& c) {
  int x = peekRaw(is);
  if (x == Eof) return false;
  is.get();
  c = Traits::to_char_type(x);
  return true;
}

// The next character after white space, not taken.
int peekChar(std::istream& is) {
  int c;
  while ((c = peekRaw(is)) != Eof && isBlank(c)) is.get();
  return c;
}

bool getChar(std::istream& is, char& c) {
  if (peekChar(is) == Eof) return false;
  return getRaw(is, c);
}

bool expect(std::istream& is, char wanted) {
  char c;
  return getChar(is, c) && c == wanted;
}

// A name: a run of characters up to white space or a delimiter; a
// delimiter standing alone is a word of its own.
bool readWord(std::istream& is, std::string& out) {
  out.clear();
  int c = peekChar(is);
  if (c == Eof) return false;
  if (isDelimiter(c)) {
    out.push_back(Traits::to_char_type(c));
    is.get();
    return true;
  }
  while ((c = peekRaw(is)) != Eof && !isBlank(c) && !isDelimiter(c)) {
    out.push_back(Traits::to_char_type(c));
    is.get();
  }
  return true;
}

bool readLetters(std::istream& is, std::string& out) {
  out.clear();
  int c = peekChar(is);
  while (c != Eof && isLetter(c)) {
    out.push_back(Traits::to_char_type(c));
    is.get();
    c = peekRaw(is);
  }
  return !out.empty();
}

// A decimal number, signed or not; refuses what does not fit 32 bits.
bool readNumber(std::istream& is, bool allowSign, long long min, long long max, long long& out) {
  int c = peekChar(is);
  bool negative = false;
  if (c == '-' && allowSign) {
    negative = true;
    is.get();
    c = peekRaw(is);
  }
  if (c == Eof || !isDigit(c)) return false;
  long long v = 0;
  while (c != Eof && isDigit(c)) {
    v = v * 10 + (c - '0');
    if (v > max + 1) return false;
    is.get();
    c = peekRaw(is);
  }
  if (negative) v = -v;
  if (v < min || v > max) return false;
  out = v;
  return true;
}

bool readInteger(std::istream& is, INTEGER& v) {
  long long n;
  if (v.getConstraintType() != Unconstrained && v.getLowerLimit() >= 0) {
    if (!readNumber(is, false, 0, 0xFFFFFFFFll, n)) return false;
    v.setValue(static_cast<int>(static_cast<unsigned>(n)));
  } else {
    if (!readNumber(is, true, INT32_MIN, INT32_MAX, n)) return false;
    v.setValue(static_cast<int>(n));
  }
  return true;
}

// Leading decimal digits of text[pos..] as an arc; false without a digit or
// when the number does not fit 32 bits.
bool arcAt(std::string const& text, std::size_t& pos, unsigned& arc) {
  if (pos >= text.size() || !isDigit(static_cast<unsigned char>(text[pos]))) return false;
  unsigned long long v = 0;
  while (pos < text.size() && isDigit(static_cast<unsigned char>(text[pos]))) {
    v = v * 10 + static_cast<unsigned>(text[pos] - '0');
    if (v > 0xFFFFFFFFull) return false;
    ++pos;
  }
  arc = static_cast<unsigned>(v);
  return true;
}

void skipBlanks(std::string const& text, std::size_t& pos) {
  while (pos < text.size() && isBlank(static_cast<unsigned char>(text[pos]))) ++pos;
}

// The component list of an object identifier: numbers, "name(number)",
// "name (number)", or a name alone, which adds no arc.
bool readArcs(std::string const& list, OBJECT_IDENTIFIER& v) {
  std::size_t pos = 0;
  for (;;) {
    skipBlanks(list, pos);
    if (pos == list.size()) return true;
    std::size_t wordEnd = pos;
    while (wordEnd < list.size() && !isBlank(static_cast<unsigned char>(list[wordEnd]))) ++wordEnd;
    unsigned arc;
    if (isDigit(static_cast<unsigned char>(list[pos]))) {
      // Characters after the number are ignored ("3)" gives 3).
      if (!arcAt(list, pos, arc)) return false;
      v.append(arc);
      pos = wordEnd;
      continue;
    }
    if (!isLetter(static_cast<unsigned char>(list[pos]))) return false;
    std::size_t paren = list.find('(', pos);
    if (paren < wordEnd) {
      std::size_t at = paren + 1;
      if (!arcAt(list, at, arc)) return false;
      v.append(arc);
      pos = wordEnd;
      continue;
    }
    pos = wordEnd;
    skipBlanks(list, pos);
    if (pos < list.size() && list[pos] == '(') {
      ++pos;
      skipBlanks(list, pos);
      if (!arcAt(list, pos, arc)) return false;
      skipBlanks(list, pos);
      if (pos == list.size() || list[pos] != ')') return false;
      ++pos;
      v.append(arc);
    }
  }
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

bool input_success(std::istream& is) { return (is.rdstate() & (std::ios_base::failbit | std::ios_base::badbit)) == 0; }

bool get_string(std::istream& is, std::string& out) {
  if (!expect(is, '"')) return false;
  std::string text;
  char c;
  for (;;) {
    if (!getRaw(is, c)) return false;  // no closing quote
    if (c == '"') break;
    text.push_back(c);
  }
  out.swap(text);
  return true;
}

bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned int& count, int base) {
  if (base < 2 || base > 36) return false;
  std::size_t width = base == 16 ? 2 : 8;
  std::string kept;
  kept.reserve(digits.size());
  is_space_or_newline blank;
  for (char c : digits) {
    if (!blank(c)) kept.push_back(c);
  }
  digits.swap(kept);
  count = static_cast<unsigned>(digits.size());
  if (digits.size() % width != 0) digits.append(width - digits.size() % width, '0');
  octets.clear();
  octets.reserve(digits.size() / width);
  for (std::size_t g = 0; g < digits.size(); g += width) {
    unsigned long long v = 0;
    for (std::size_t k = g; k < g + width; ++k) {
      int d = digitValue(digits[k]);
      if (d >= base) return false;
      v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    octets.push_back(static_cast<char>(v & 0xFF));
  }
  return true;
}

bool get_value_from(std::istream& is, std::vector<char>& octets, unsigned int& count) {
  if (!expect(is, '\'')) return false;
  std::string digits;
  char c;
  for (;;) {
    if (!getRaw(is, c)) return false;
    if (c == '\'') break;
    digits.push_back(c);
  }
  char form;
  if (!getChar(is, form) || (form != 'B' && form != 'H')) return false;
  int base = form == 'B' ? 2 : 16;
  unsigned digitCount = 0;
  if (!get_from_string(digits, octets, digitCount, base)) return false;
  count = base == 2 ? digitCount : 4 * digitCount;
  return true;
}

bool get_id(char const* const* names, unsigned int count, std::string const& name, int& index) {
  for (unsigned i = 0; i < count; ++i) {
    if (names[i] != nullptr && name == names[i]) {
      index = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

// ---- AVNDecoder

namespace {

// "a", "a or b", "a, b or c".
std::string either(std::vector<std::string> const& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " or " : ", ";
    out += names[i];
  }
  return out;
}

std::vector<std::string> choiceNames(CHOICE const& v) {
  std::vector<std::string> names;
  for (unsigned i = 0; i < v.getTotalChoices(); ++i)
    if (v.info()->selectionNames[i] != nullptr) names.push_back(v.info()->selectionNames[i]);
  return names;
}

std::vector<std::string> enumNames(ENUMERATED const& v) {
  std::vector<std::string> names;
  ENUMERATED::forEachName(v.info(), [&](char const* entry, unsigned len, int) {
    names.push_back(std::string(entry, len));
    return false;
  });
  return names;
}

}  // namespace

std::streamoff AVNDecoder::mark() {
  peekChar(input);
  std::streambuf* buf = input.rdbuf();
  // Asking for the offset moves nothing; a stream without offsets says -1.
  marked = buf == nullptr ? -1 : static_cast<std::streamoff>(buf->pubseekoff(0, std::ios_base::cur, std::ios_base::in));
  return marked;
}

bool AVNDecoder::stopAt(std::streamoff at, std::string const& what) {
  // A failure is seen first where it happens; the fields around it fail
  // only because it did.
  if (!stopped) {
    stopped = true;
    stopOffset = at;
    stopText = what;
  }
  return false;
}

std::string AVNDecoder::forField(std::string const& what) const {
  return fieldPath.empty() ? what : what + " for " + fieldPath.back();
}

bool AVNDecoder::do_visit(Null&) {
  mark();
  std::string word;
  return (readLetters(input, word) && word == "NULL") || stop(forField("NULL"));
}

bool AVNDecoder::do_visit(BOOLEAN& v) {
  mark();
  std::string word;
  if (!readLetters(input, word)) return stop(forField("TRUE or FALSE"));
  if (word == "TRUE")
    v = true;
  else if (word == "FALSE")
    v = false;
  else
    return stop(forField("TRUE or FALSE"));
  return true;
}

bool AVNDecoder::do_visit(INTEGER& v) {
  mark();
  return readInteger(input, v) || stop(forField("a number"));
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v) {
  mark();
  std::vector<std::string> names{"a number"};
  for (unsigned k = 0; k < v.info()->entryCount; ++k) names.push_back(v.info()->nameEntries[k].name);
  int c = peekChar(input);
  if (c == Eof) return stop(forField(either(names)));
  if (isDigit(c) || c == '-') return readInteger(input, v) || stop(forField(either(names)));
  std::string name;
  return (readWord(input, name) && v.setFromName(name)) || stop(forField(either(names)));
}

bool AVNDecoder::do_visit(ENUMERATED& v) {
  mark();
  std::string name;
  return (readWord(input, name) && v.setFromName(name)) || stop(forField(either(enumNames(v))));
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  mark();
  if (!expect(input, '{')) return stop(forField("an object identifier"));
  std::string list;
  char c;
  for (;;) {
    if (!getRaw(input, c)) return stop(forField("an object identifier"));  // no closing brace
    if (c == '}') break;
    list.push_back(c);
  }
  OBJECT_IDENTIFIER arcs(v.info());
  if (!readArcs(list, arcs)) return stop(forField("an object identifier"));
  v = arcs;
  return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& v) {
  mark();
  std::vector<char> octets;
  unsigned bits = 0;
  if (!get_value_from(input, octets, bits)) return stop(forField("'...'H or '...'B"));
  v = octets;
  return true;
}

bool AVNDecoder::do_visit(BIT_STRING& v) {
  mark();
  std::vector<char> octets;
  unsigned bits = 0;
  if (!get_value_from(input, octets, bits)) return stop(forField("'...'B or '...'H"));
  v.resize(bits);
  std::copy(octets.begin(), octets.begin() + static_cast<std::ptrdiff_t>(v.getData().size()), v.getData().begin());
  // Digits beyond the size (the zeros that completed the last octet) are
  // not part of the value.
  if (bits % 8 != 0) v.getData().back() = static_cast<char>(v.getData().back() & (0xFF00 >> (bits % 8)));
  return true;
}

bool AVNDecoder::do_visit(AbstractString& v) {
  mark();
  std::string text;
  if (!get_string(input, text)) return stop(forField("a quoted text"));
  v.std::string::assign(text);
  return true;
}

bool AVNDecoder::do_visit(BMPString& v) {
  mark();
  std::string text;
  if (!get_string(input, text)) return stop(forField("a quoted text"));
  std::vector<wchar_t> wide(text.size() + 1);
  std::size_t n = std::mbstowcs(wide.data(), text.c_str(), wide.size());
  if (n == static_cast<std::size_t>(-1)) return stop(forField("a quoted text"));
  v.assign(wide.data(), static_cast<unsigned>(n));
  return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& v) {
  mark();
  std::string text;
  if (!get_string(input, text)) return stop(forField("a quoted time"));
  v.set(text.c_str());
  return true;
}

bool AVNDecoder::do_visit(CHOICE& v) {
  mark();
  std::string name;
  int id;
  if (!readWord(input, name) || !get_id(v.info()->selectionNames, v.getTotalChoices(), name, id))
    return stop(forField(either(choiceNames(v))));
  mark();
  if (!expect(input, ':')) return stop("':' after " + name);
  if (!v.select(id) || v.getSelection() == nullptr) return stop(forField(either(choiceNames(v))));
  fieldPath.push_back(name);
  const bool ok = v.getSelection()->accept(*this);
  fieldPath.pop_back();
  return ok;
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v) {
  mark();
  if (!expect(input, '{')) return stop(forField("'{'"));
  mark();
  int next = peekChar(input);
  if (next == Eof) return stop("'}'");
  v.clear();
  if (next == '}') {
    input.get();
    return true;
  }
  for (;;) {
    std::unique_ptr<AbstractData> element(v.createElement());
    if (element == nullptr) return stop(forField("a value"));
    if (!element->accept(*this)) return false;
    mark();
    char c;
    if (!getChar(input, c) || (c != ',' && c != '}')) return stop("',' or '}'");
    v.push_back(element.release());
    if (c == '}') return true;
  }
}

bool AVNDecoder::do_visit(OpenData&) { return stop(forField("a value of a known type")); }

bool AVNDecoder::do_revisit(OpenData&) { return stop(forField("a value of a known type")); }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v) {
  return v.has_data() ? v.get_data().accept(*this) : stop(forField("a value of a known type"));
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE& v) {
  mark();
  if (!expect(input, '{')) {
    stop(forField("'{'"));
    return StepFail;
  }
  const std::streamoff at = mark();
  int next = peekChar(input);
  if (next == Eof) {
    stop("a field name or '}'");
    return StepFail;
  }
  if (next == '}') {
    input.get();
    return closeEarly(v, -1, at) ? StepFinished : StepFail;
  }
  std::string name;
  if (!readWord(input, name)) {
    stop("a field name or '}'");
    return StepFail;
  }
  nameStack.push_back(Name{name, at, {}});
  return StepWithExtensions;
}

// The SEQUENCE ended after field `index` (-1: before any), at the brace at
// `at`: the fields after it are absent, which a mandatory field cannot be.
bool AVNDecoder::closeEarly(SEQUENCE& v, int index, std::streamoff at) {
  SEQUENCE::InfoType const* info = v.info();
  unsigned first = static_cast<unsigned>(index + 1);
  for (unsigned i = first; i < info->numFields; ++i) {
    if (info->fieldIds[i] == -1) return stopAt(at, info->fieldNames[i]);
  }
  for (unsigned i = first; i < info->numFields; ++i) v.removeOptionalField(static_cast<unsigned>(info->fieldIds[i]));
  for (unsigned i = std::max(first, info->numFields); i < v.fieldCount(); ++i)
    v.removeOptionalField(info->numOptional + (i - info->numFields));
  return true;
}

int AVNDecoder::readField(SEQUENCE& v, int index, int optionalIndex) {
  if (nameStack.empty()) return StepFail;
  if (nameStack.back().word != v.getFieldName(index)) {
    Name& name = nameStack.back();
    name.passed.push_back(v.getFieldName(index));
    if (optionalIndex == -1) {
      stopAt(name.at, either(name.passed));
      return StepFail;
    }
    v.removeOptionalField(static_cast<unsigned>(optionalIndex));
    return StepWithExtensions;
  }
  if (optionalIndex != -1) v.includeOptionalField(static_cast<unsigned>(optionalIndex), static_cast<unsigned>(index));
  AbstractData* field = v.getField(static_cast<unsigned>(index));
  if (field == nullptr) {
    stopAt(nameStack.back().at, "a known field");
    return StepFail;
  }
  fieldPath.push_back(v.getFieldName(index));
  const bool ok = field->accept(*this);
  fieldPath.pop_back();
  if (!ok) return StepFail;
  const std::streamoff at = mark();
  char c;
  if (!getChar(input, c) || (c != ',' && c != '}')) {
    stop("',' or '}' after " + std::string(v.getFieldName(index)));
    return StepFail;
  }
  if (c == ',') {
    const std::streamoff nameAt = mark();
    std::string name;
    if (!readWord(input, name)) {
      stop("a field name or '}'");
      return StepFail;
    }
    nameStack.back() = Name{name, nameAt, {}};
    return StepWithExtensions;
  }
  if (!closeEarly(v, index, at)) return StepFail;
  nameStack.pop_back();
  return StepFinished;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& v, int index, int optionalIndex) {
  return readField(v, index, optionalIndex);
}

int AVNDecoder::visitKnownExtension(SEQUENCE& v, int index, int optionalIndex) {
  return readField(v, index, optionalIndex);
}

bool AVNDecoder::visitUnknownExtensions(SEQUENCE&) {
  // Every field has been offered: only the brace after a trailing comma may
  // be left; any other name matched no field or came out of order.
  if (nameStack.empty()) return false;
  Name& name = nameStack.back();
  if (name.word != "}") {
    name.passed.push_back("'}'");
    return stopAt(name.at, either(name.passed));
  }
  nameStack.pop_back();
  return true;
}

// ---- entry points

std::istream& operator>>(std::istream& is, AbstractData& value) {
  return g_extractor<char, std::char_traits<char>, AbstractData>(is, value);
}

bool AbstractData::setFromValueNotation(std::string const& text) {
  std::istringstream is(text);
  AVNDecoder decoder(is);
  return accept(decoder);
}

int AbstractData::get_from(std::istream& is) {
  if (!is.good()) return static_cast<int>(std::ios_base::failbit);
  AVNDecoder decoder(is);
  return accept(decoder) ? 0 : static_cast<int>(std::ios_base::failbit);
}

bool CoderEnv::decodeAVN(char const* begin, char const* end, AbstractData& value) {
  if (begin == nullptr || end < begin) return value.setFromValueNotation(std::string());
  return value.setFromValueNotation(std::string(begin, end));
}

}  // namespace ASN1
