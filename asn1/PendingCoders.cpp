// The coder of encoding rule 2 (aligned PER) is not part of this library
// yet. Until it is, the environment answers false for it here, and only
// here: the PER coder replaces its pair of functions below with the real one
// (`PEREncoder` / `PERDecoder` over [begin, end) in aligned mode) and removes
// it from this file.
#include "asn1/CoderEnv.h"

namespace ASN1 {

bool CoderEnv::encodePER(AbstractData const&, OutputIterator) { return false; }

bool CoderEnv::decodePER(char const*, char const*, AbstractData&, CoderEnv*) { return false; }

}  // namespace ASN1
