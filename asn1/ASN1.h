// Everything of the ASN.1 value runtime in one include.
#ifndef QV_ASN1_ASN1_H
#define QV_ASN1_ASN1_H

#include "asn1/AVNDecoder.h"
#include "asn1/AVNEncoder.h"
#include "asn1/BERCoder.h"
#include "asn1/AbstractData.h"
#include "asn1/Checkers.h"
#include "asn1/CoderEnv.h"
#include "asn1/Constructed.h"
#include "asn1/PERDecoder.h"
#include "asn1/PEREncoder.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"
#include "asn1/Visitor.h"

#endif
