#include "asn1/CoderEnv.h"

namespace ASN1 {

bool CoderEnv::encode(AbstractData const& value, OutputIterator out) {
  switch (encodingRule) {
    case per_Aligned:
      return encodePER(value, out);
    case ber:
      return encodeBER(value, out);
    case avn:
      return encodeAVN(value, out);
  }
  return false;
}

bool CoderEnv::decode(char const* begin, char const* end, AbstractData& value, bool withoutEnv) {
  CoderEnv* env = withoutEnv ? nullptr : this;
  switch (encodingRule) {
    case per_Aligned:
      return decodePER(begin, end, value, env);
    case ber:
      return decodeBER(begin, end, value, env);
    case avn:
      return decodeAVN(begin, end, value);
  }
  return false;
}

bool encode(AbstractData const& value, CoderEnv* env, std::back_insert_iterator<std::vector<char> > out) {
  return env->encode(value, out);
}

bool decode(char const* begin, char const* end, CoderEnv* env, AbstractData& value, bool withoutEnv) {
  return env->decode(begin, end, value, withoutEnv);
}

}  // namespace ASN1
