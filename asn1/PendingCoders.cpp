// The coders of encoding rules 1 (BER) and 2 (aligned PER), and the reader
// of value notation (decoding under rule 0), are not part of this library
// yet. Until they are, the environment answers false for them here, and only
// here: each coder replaces its pair of functions below with the real one
// (`PEREncoder` / `PERDecoder` over [begin, end) in aligned mode,
// `BEREncoder` / `BERDecoder`, `AVNDecoder` over an input string stream
// without environment) and removes it from this file.
#include "asn1/CoderEnv.h"

namespace ASN1 {

bool CoderEnv::encodePER(AbstractData const&, OutputIterator) { return false; }

bool CoderEnv::decodePER(char const*, char const*, AbstractData&, CoderEnv*) { return false; }

bool CoderEnv::encodeBER(AbstractData const&, OutputIterator) { return false; }

bool CoderEnv::decodeBER(char const*, char const*, AbstractData&, CoderEnv*) { return false; }

bool CoderEnv::decodeAVN(char const*, char const*, AbstractData&) { return false; }

}  // namespace ASN1
