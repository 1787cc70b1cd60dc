// The coder of encoding rule 1 (BER) and the reader of value notation
// (decoding under rule 0) are not part of this library yet. Until they are,
// the environment answers false for them here, and only here: each coder
// replaces its functions below with the real one (`BEREncoder` /
// `BERDecoder`, `AVNDecoder` over an input string stream without
// environment) and removes it from this file. The aligned PER pair lives in
// PEREncoder.cpp and PERDecoder.cpp.
#include "asn1/CoderEnv.h"

namespace ASN1 {

bool CoderEnv::encodeBER(AbstractData const&, OutputIterator) { return false; }

bool CoderEnv::decodeBER(char const*, char const*, AbstractData&, CoderEnv*) { return false; }

bool CoderEnv::decodeAVN(char const*, char const*, AbstractData&) { return false; }

}  // namespace ASN1
