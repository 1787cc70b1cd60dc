// The coder environment and the two entry points through which the protocol
// layers encode and decode whole messages.
#ifndef QV_ASN1_CODERENV_H
#define QV_ASN1_CODERENV_H

#include <loki/AssocVector.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/AbstractData.h"

namespace ASN1 {

// Decoder limits: longer lists and strings make the whole decode fail.
const unsigned MaximumArraySize = 128;
const unsigned MaximumStringSize = 16384;

// Carried by the environment's module map; the daemon never fills the map.
class Module;

class CoderEnv {
 public:
  enum EncodingRules : int {
    avn = 0,         // value notation text
    ber = 1,
    per_Aligned = 2  // the wire form of both protocols
  };

  struct StringListeralCmp {
    typedef char const* first_argument_type;
    typedef char const* second_argument_type;
    typedef bool result_type;
    bool operator()(char const* a, char const* b) const { return std::strcmp(a, b) < 0; }
  };
  typedef Loki::AssocVector<char const*, Module*, StringListeralCmp> ModuleMap;
  typedef std::back_insert_iterator<std::vector<char> > OutputIterator;

  // No rule is chosen: every user sets one before coding (an environment
  // left without one codes nothing).
  CoderEnv() : encodingRule(static_cast<EncodingRules>(-1)) {}

  void set_encodingRule(int rule) { encodingRule = static_cast<EncodingRules>(rule); }
  EncodingRules get_encodingRule() const { return encodingRule; }
  ModuleMap const& modules() const { return moduleMap; }

  // Codes by the chosen rule; any other rule answers false and writes nothing.
  bool encode(AbstractData const& value, OutputIterator out);
  // `withoutEnv`: the decoder works without this environment.
  bool decode(char const* begin, char const* end, AbstractData& value, bool withoutEnv);

  // Rule 0: appends the value-notation text; writes nothing on failure.
  template <class OutIt>
  bool encodeAVN(AbstractData const& value, OutIt out);

  // The coders of the other rules: aligned PER in PEREncoder.cpp and
  // PERDecoder.cpp, the others in PendingCoders.cpp.
  bool encodePER(AbstractData const& value, OutputIterator out);
  bool encodeBER(AbstractData const& value, OutputIterator out);
  bool decodePER(char const* begin, char const* end, AbstractData& value, CoderEnv* env);
  bool decodeBER(char const* begin, char const* end, AbstractData& value, CoderEnv* env);
  bool decodeAVN(char const* begin, char const* end, AbstractData& value);

 private:
  EncodingRules encodingRule;
  ModuleMap moduleMap;
};

// The value-notation text of a value; false when it cannot be printed.
bool valueNotation(AbstractData const& value, std::string& out);

template <class OutIt>
bool CoderEnv::encodeAVN(AbstractData const& value, OutIt out) {
  std::string text;
  if (!valueNotation(value, text)) return false;
  std::copy(text.begin(), text.end(), out);
  return true;
}

// `env` must not be null.
bool encode(AbstractData const& value, CoderEnv* env, std::back_insert_iterator<std::vector<char> > out);
bool decode(char const* begin, char const* end, CoderEnv* env, AbstractData& value, bool withoutEnv);

}  // namespace ASN1

#endif
