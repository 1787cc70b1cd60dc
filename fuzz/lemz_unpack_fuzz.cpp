// Arbitrary octets as a LEMZ packet from a radio: what unpacks must pack
// again to a packet that unpacks to the same record, dump within its
// buffer, and become a controller report that encodes. Any other outcome
// is a fault and aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "asn1/ASN1.h"
#include "rtp/LemzProto.h"
#include "rtp/LemzRadioControl.h"

namespace {

// A gateway control without a channel: its session cannot be opened here,
// which it says once; the conversions need no channel.
class Probe : public RTPSignalling::LemzRadioGWControl {
 public:
  Probe() : LemzRadioGWControl(rtp_ext_init_params{RTPSignalling::ETYPE_LEMZ, 0, {0, 0, 0, 0}}) {}
  using LemzRadioControl::DecodeProto;
};

Probe& probe() {
  static std::ostringstream sink;
  static bool quiet = (std::cerr.rdbuf(sink.rdbuf()), true);
  (void)quiet;
  static Probe p;
  sink.str("");
  return p;
}

bool encodes(ASN1::AbstractData const& v) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  return ASN1::encode(v, &env, std::back_inserter(out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Probe& control = probe();
  // Exactly the input, never a null pointer (an empty vector may give one).
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(exact.get(), data, size);
  sig_proto p;
  sig_proto_init(&p);
  int rc = sig_proto_unpack(&p, exact.get(), int(size));
  if (rc != 0) {
    if (rc != SIG_PROTO_ESHORT && rc != SIG_PROTO_ETYPE) std::abort();
    return 0;
  }
  uint8_t wire[1024];
  int n = sig_proto_pack(&p, wire, sizeof wire);
  if (n < 4 || n % 4 != 0 || n > int(size) + 3) std::abort();
  sig_proto again;
  sig_proto_init(&again);
  if (sig_proto_unpack(&again, wire, n) != 0 || cmp_sig_proto(&p, &again) != 0) std::abort();

  char text[8192];
  int len = sprintf_sig_proto(text, sizeof text, &p, 3);
  if (len < 0 || len >= int(sizeof text) || std::strlen(text) != size_t(len)) std::abort();

  RTPSignalling::LemzRadioState rx;
  control.DecodeProto(p, rx);
  TERM::RtpRadioRequest report;
  control.EncodeASN(control.GetToChanState(), rx, report);
  if (!encodes(report)) std::abort();
  return 0;
}
