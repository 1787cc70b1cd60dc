// The value-notation reader: turns the text the printer writes back into a
// value tree, walking the target value and pulling tokens from a stream as
// it goes. Bad text is a false result (failbit through the stream
// operator); the reader never throws on its own and always stops at the end
// of its input. After a failure the reader tells where it stopped and what
// would have fitted there, for messages to the person who wrote the text.
#ifndef QV_ASN1_AVNDECODER_H
#define QV_ASN1_AVNDECODER_H

#include <istream>
#include <string>
#include <vector>

#include "asn1/AVNEncoder.h"
#include "asn1/AbstractData.h"
#include "asn1/Visitor.h"

namespace ASN1 {

class AVNDecoder : public Visitor {
 public:
  explicit AVNDecoder(std::istream& is, CoderEnv* env = nullptr) : Visitor(env), input(is) {}

  // After a failed reading: the offset in the input of the text that did
  // not fit (-1 when the stream cannot tell offsets), and what would have
  // fitted there, such as "a number for timeslot" or "slot or pdu".
  std::streamoff stoppedAt() const { return stopped ? stopOffset : marked; }
  std::string const& expected() const { return stopText; }

 protected:
  bool do_visit(Null& v) override;
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(IntegerWithNamedNumber& v) override;
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
  // A field name read by a SEQUENCE being read, where it stands, and the
  // optional fields passed over while looking for it.
  struct Name {
    std::string word;
    std::streamoff at;
    std::vector<std::string> passed;
  };

  int readField(SEQUENCE& v, int index, int optionalIndex);
  bool closeEarly(SEQUENCE& v, int index, std::streamoff at);
  // Skips blanks and remembers where the next text begins.
  std::streamoff mark();
  // Records the first (innermost) failure; false, for returning.
  bool stopAt(std::streamoff at, std::string const& what);
  bool stop(std::string const& what) { return stopAt(marked, what); }
  // `what`, for the field or alternative being read if there is one.
  std::string forField(std::string const& what) const;

  std::istream& input;
  std::vector<Name> nameStack;
  // The names of the fields and alternatives being read, outermost first.
  std::vector<std::string> fieldPath;
  std::streamoff marked = -1;
  bool stopped = false;
  std::streamoff stopOffset = -1;
  std::string stopText;
};

template <class CharT, class Traits, class Value>
class ExtractorWrapper : public IOWrapper<CharT, Traits> {
 public:
  ExtractorWrapper(std::basic_istream<CharT, Traits>& is, Value& v) : is(is), value(v) {}

 protected:
  std::ios_base::iostate do_real_io() override {
    typename std::basic_istream<CharT, Traits>::sentry ready(is);
    if (!ready) return std::ios_base::goodbit;
    return value.get_from(is) == 0 ? std::ios_base::goodbit : std::ios_base::failbit;
  }

 private:
  std::basic_istream<CharT, Traits>& is;
  Value& value;
};

template <class CharT, class Traits, class Value>
std::basic_istream<CharT, Traits>& g_extractor(std::basic_istream<CharT, Traits>& is, Value& value) {
  if (!is.good()) return is;
  ExtractorWrapper<CharT, Traits, Value> extractor(is, value);
  extractor.do_it(is);
  return is;
}

// Reads a value in value notation; failbit when the text does not read.
std::istream& operator>>(std::istream& is, AbstractData& value);

// Neither failbit nor badbit (end of input alone is success).
bool input_success(std::istream& is);
// A text between double quotes, taken as it stands (no escapes).
bool get_string(std::istream& is, std::string& out);
// A bstring ('0101'B) or hstring ('0A 1B'H) into octets; `count` receives
// the number of bits the digits stand for.
bool get_value_from(std::istream& is, std::vector<char>& octets, unsigned int& count);
// Converts digits of `base` (blanks and line feeds ignored) into octets, 8
// binary or 2 hexadecimal digits an octet, the last group completed with
// zeros; `count` receives the number of digits. False on any character
// that is not a digit of the base.
bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned int& count, int base);
inline bool get_from_hstring(std::string& digits, std::vector<char>& octets, unsigned int& count) {
  return get_from_string(digits, octets, count, 16);
}
inline bool get_from_bstring(std::string& digits, std::vector<char>& octets, unsigned int& count) {
  return get_from_string(digits, octets, count, 2);
}
// Exact, case-sensitive search among the first `count` names.
bool get_id(char const* const* names, unsigned int count, std::string const& name, int& index);

struct is_space_or_newline {
  bool operator()(char c) const { return c == ' ' || c == '\n'; }
};

}  // namespace ASN1

#endif
