// Every coder of the environment is now in its own file: aligned PER in
// PEREncoder.cpp and PERDecoder.cpp, BER in BERCoder.cpp, the reader of
// value notation in AVNDecoder.cpp. Nothing is pending here any more.
#include "asn1/CoderEnv.h"

namespace ASN1 {}  // namespace ASN1
