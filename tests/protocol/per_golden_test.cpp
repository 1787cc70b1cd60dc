// Messages against octet strings worked out by hand from the aligned PER
// rules, in both directions, and what the coders refuse.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Coding.h"
#include "protocol/ACP/ACP.h"
#include "protocol/BASE/BASE.h"
#include "protocol/HSP/HSP.h"
#include "protocol/LEMZGW/LEMZGW.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/MON/MON.h"
#include "protocol/Registry.h"
#include "protocol/TERM/TERM.h"

using ProtocolTest::decodePER;
using ProtocolTest::encodePER;
using ProtocolTest::hex;
using ProtocolTest::octets;

namespace {

struct Golden {
  char const* what;
  char const* type;  // registry name of the value's type
  std::function<ASN1::AbstractData*()> make;
  char const* octets;
};

LGCP::Message* message(int seq, int slot) {
  LGCP::Message* m = new LGCP::Message;
  if (seq >= 0) m->set_seq(seq);
  if (slot >= 0) m->set_slot(static_cast<unsigned>(slot));
  return m;
}

LGCP::Message* command(int seq, int slot, std::function<void(LGCP::Command&)> f) {
  LGCP::Message* m = message(seq, slot);
  f(m->set_pdu().select_command());
  return m;
}

LGCP::Message* signal(int slot, std::function<void(LGCP::Signal&)> f) {
  LGCP::Message* m = message(-1, slot);
  f(m->set_pdu().select_signal());
  return m;
}

MON::Message* monCommand(std::function<void(MON::Command&)> f) {
  MON::Message* m = new MON::Message;
  f(m->set_pdu().select_command());
  return m;
}

template <class T>
std::function<ASN1::AbstractData*()> value(std::function<void(T&)> f) {
  return [f]() {
    T* v = new T;
    f(*v);
    return v;
  };
}

std::vector<Golden> const& goldens() {
  static std::vector<Golden> const table = {
      {"ping command, seq 1", "LGCP::Message",
       [] { return command(1, -1, [](LGCP::Command& c) { c.select_ping(); }); }, "80 01 01 18"},
      {"success, seq 1", "LGCP::Message",
       [] {
         LGCP::Message* m = message(1, -1);
         m->set_pdu().select_response().select_success();
         return m;
       },
       "80 01 01 40"},
      {"error unexpectedMsgType, seq 1", "LGCP::Message",
       [] {
         LGCP::Message* m = message(1, -1);
         m->set_pdu().select_response().select_error(LGCP::ErrorCause::unexpectedMsgType);
         return m;
       },
       "80 01 01 64"},
      {"activated, slot 5", "LGCP::Message",
       [] { return signal(5, [](LGCP::Signal& s) { s.select_activated(); }); }, "40 00 05 85"},
      {"create trunk, seq 7, slot 10", "LGCP::Message",
       [] {
         return command(7, 10, [](LGCP::Command& c) {
           LGCP::TrunkParams& t = c.select_create().select_trunk();
           t.set_trunk(1);
           t.set_timeslot(5);
         });
       },
       "C0 01 07 00 0A 08 38 01 28"},
      {"error insufficientResources, seq 7, slot 10", "LGCP::Message",
       [] {
         LGCP::Message* m = message(7, 10);
         m->set_pdu().select_response().select_error(LGCP::ErrorCause::insufficientResources);
         return m;
       },
       "C0 01 07 00 0A 61"},
      {"trunkStatus of trunk 0", "LGCP::Message",
       [] {
         return signal(-1, [](LGCP::Signal& s) {
           ACP::TrunkStatus& t = s.select_trunkStatus();
           t.set_state(ACP::TrunkState::normal);
           t.set_clockMaster(false);
           t.set_type(ACP::TrunkType::e1);
         });
       },
       "22 C0 01 00 00 01 00 01 00 01 00 01 00 01 00 00 00"},
      {"query signal of fresh resources with mux", "LGCP::Message",
       [] { return signal(-1, [](LGCP::Signal& s) { s.select_query().set_mux(true); }); },
       "20 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 00 80 01 00 01 00 01 00 00 01 00 01 00 01 00 01 00"},
      {"tonec dtmf 5, slot 3", "LGCP::Message",
       [] {
         return signal(3, [](LGCP::Signal& s) {
           LGCP::TonecEvent& t = s.select_tonec();
           t.set_timestamp(1000);
           t.set_event().select_dtmf(5);
         });
       },
       "40 00 03 81 02 03 E8 00 A0"},
      {"tonec dtmfDone, an extension alternative", "LGCP::Message",
       [] {
         return signal(-1, [](LGCP::Signal& s) {
           LGCP::TonecEvent& t = s.select_tonec();
           t.set_timestamp(1000);
           t.set_event().select_dtmfDone();
         });
       },
       "20 40 02 03 E8 80 01 00"},
      {"receiver active 200, slot 3", "LGCP::Message",
       [] { return signal(3, [](LGCP::Signal& s) { s.select_receiver().select_active(200); }); },
       "40 00 03 89 80 02 00 C8"},
      {"deactivated otherError, slot 1", "LGCP::Message",
       [] { return signal(1, [](LGCP::Signal& s) { s.select_deactivated(LGCP::DeactivateCause::otherError); }); },
       "40 00 01 86 40"},
      {"abort 256, slot 1", "LGCP::Message",
       [] { return signal(1, [](LGCP::Signal& s) { s.select_abort(256); }); }, "40 00 01 87 02 01 00"},
      {"ioctl hdlcPackages, seq 3, slot 12", "LGCP::Message",
       [] {
         return command(3, 12, [](LGCP::Command& c) {
           LGCP::HdlcPackage p;
           p.set_body(std::vector<char>{'\x7e', '\x01'});
           c.select_ioctl().select_hdlcPackages().push_back(p);
         });
       },
       "C0 01 03 00 0C 12 50 01 02 7E 01"},
      {"display snmpTrapReceivers, seq 2", "LGCP::Message",
       [] {
         return command(2, -1, [](LGCP::Command& c) {
           c.select_display().select_snmpTrapReceivers().push_back(ASN1::IA5String("h"));
         });
       },
       "80 01 02 1A 20 01 01 68"},
      {"MON ping", "MON::Message", [] { return monCommand([](MON::Command& c) { c.select_ping(); }); }, "18"},
      {"MON snmp-trapsink-set", "MON::Message",
       [] {
         return monCommand([](MON::Command& c) {
           MON::SnmpTrapsink s;
           s.set_host("10.0.0.1");
           c.select_snmp_trapsink_set().ref_trapsinks().push_back(s);
         });
       },
       "08 01 00 08 31 30 2E 30 2E 30 2E 31"},
      {"MON snmp-set", "MON::Message",
       [] {
         return monCommand([](MON::Command& c) {
           MON::SnmpSetCommand s;
           s.set_uniq(1);
           s.set_id().select_oid("1.3");
           s.set_value("x");
           c.select_snmp_set().ref_commands().push_back(s);
         });
       },
       "00 01 00 01 01 00 03 31 2E 33 01 78"},
      {"StandbyState active", "HSP::StandbyState",
       value<HSP::StandbyState>([](HSP::StandbyState& v) { v.set_active(); }), "40"},
      {"Payload ptR2S", "TERM::Payload", value<TERM::Payload>([](TERM::Payload& v) { v = TERM::Payload::ptR2S; }),
       "F6"},
      {"IpQoSDSCP ef", "TERM::IpQoSDSCP", value<TERM::IpQoSDSCP>([](TERM::IpQoSDSCP& v) { v.set_ef(); }), "B8"},
      {"ED137CauseCode 2099", "TERM::ED137CauseCode",
       value<TERM::ED137CauseCode>([](TERM::ED137CauseCode& v) { v.set_radio_no_permissions(); }), "00 08 33"},
      {"ProtoLemzMsgID gw-get-id", "LEMZGW::ProtoLemzMsgID",
       value<LEMZGW::ProtoLemzMsgID>([](LEMZGW::ProtoLemzMsgID& v) { v.set_gw_get_id(); }), "00 10 01"},
      {"INTEGER64Bits 2^32", "BASE::INTEGER64Bits",
       value<BASE::INTEGER64Bits>([](BASE::INTEGER64Bits& v) {
         v.set_low(0);
         v.set_high(1);
       }),
       "01 00 01 01"},
      // A lone extension addition: the extension bit, a map of one bit and
      // the addition as an open type.
      {"TermParams traceLevel 3", "TERM::TermParams",
       value<TERM::TermParams>([](TERM::TermParams& v) { v.set_traceLevel(3); }), "80 02 02 01 03"},
      // A range with a negative lower bound.
      {"bss-quality -128", "TERM::ED137RadioRecorderParams",
       value<TERM::ED137RadioRecorderParams>(
           [](TERM::ED137RadioRecorderParams& v) { v.set_bss_quality(static_cast<unsigned>(-128)); }),
       "04 00"},
      {"bss-quality -1", "TERM::ED137RadioRecorderParams",
       value<TERM::ED137RadioRecorderParams>(
           [](TERM::ED137RadioRecorderParams& v) { v.set_bss_quality(static_cast<unsigned>(-1)); }),
       "04 7F"},
      {"bss-quality 0", "TERM::ED137RadioRecorderParams",
       value<TERM::ED137RadioRecorderParams>([](TERM::ED137RadioRecorderParams& v) { v.set_bss_quality(0); }),
       "04 80"},
      {"bss-quality 127", "TERM::ED137RadioRecorderParams",
       value<TERM::ED137RadioRecorderParams>([](TERM::ED137RadioRecorderParams& v) { v.set_bss_quality(127); }),
       "04 FF"},
  };
  return table;
}

class GoldenOctets : public ::testing::TestWithParam<std::size_t> {};

}  // namespace

TEST_P(GoldenOctets, EncodeAndDecode) {
  Golden const& g = goldens()[GetParam()];
  SCOPED_TRACE(g.what);
  std::unique_ptr<ASN1::AbstractData> v(g.make());
  std::vector<char> out;
  ASSERT_TRUE(encodePER(*v, out));
  EXPECT_EQ(g.octets, hex(out));

  std::unique_ptr<ASN1::AbstractData> back(Protocol::Registry::create(g.type));
  ASSERT_NE(nullptr, back);
  ASSERT_TRUE(decodePER(octets(g.octets), *back));
  EXPECT_TRUE(*back == *v) << *back;
  std::vector<char> again;
  ASSERT_TRUE(encodePER(*back, again));
  EXPECT_EQ(g.octets, hex(again));
}

// Every proper prefix of a golden string is refused, without a crash.
TEST_P(GoldenOctets, PrefixesDoNotDecode) {
  Golden const& g = goldens()[GetParam()];
  std::vector<char> full = octets(g.octets);
  for (std::size_t n = 0; n < full.size(); ++n) {
    std::unique_ptr<ASN1::AbstractData> v(Protocol::Registry::create(g.type));
    std::vector<char> prefix(full.begin(), full.begin() + n);
    EXPECT_FALSE(decodePER(prefix, *v)) << g.what << ": " << n << " octets";
  }
}

INSTANTIATE_TEST_SUITE_P(Protocol, GoldenOctets, ::testing::Range<std::size_t>(0, goldens().size()));

TEST(GoldenSingles, UnsignedRanges) {
  std::vector<char> out;
  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u> u(0u);
  ASSERT_TRUE(encodePER(u, out));
  EXPECT_EQ("00 00", hex(out));
  u = 4294967295u;
  ASSERT_TRUE(encodePER(u, out));
  EXPECT_EQ("C0 FF FF FF FF", hex(out));

  ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 112000, 399975u> fid(112000u);
  ASSERT_TRUE(encodePER(fid, out));
  EXPECT_EQ("00 00", hex(out));
  fid = 399975u;
  ASSERT_TRUE(encodePER(fid, out));
  EXPECT_EQ("80 04 64 E7", hex(out));
  ASSERT_TRUE(decodePER(octets("80 04 64 E7"), fid));
  EXPECT_EQ(399975u, fid.getValue());
}

TEST(Refused, ValuesOutsideTheirRangeDoNotEncode) {
  std::vector<char> out;
  TERM::ED137RadioRecorderParams r;
  r.set_bss_quality(128);
  EXPECT_FALSE(encodePER(r, out));
  r.set_bss_quality(static_cast<unsigned>(-129));
  EXPECT_FALSE(encodePER(r, out));

  // A new message: nothing selected in its PDU.
  LGCP::Message m;
  EXPECT_FALSE(encodePER(m, out));
  // subslot is 0 after construction, outside 1..3.
  LGCP::AtsQsigBParams b;
  EXPECT_FALSE(encodePER(b, out));
  b.set_subslot(3);
  EXPECT_TRUE(encodePER(b, out));
  // The one negative enumeration value.
  TERM::RadioStandby s(TERM::RadioStandby::not_use);
  EXPECT_FALSE(encodePER(s, out));
  // The size-constrained string: 1 to 64 characters.
  TERM::RtpParams p;
  p.set_dname("");
  EXPECT_FALSE(encodePER(p, out));
  p.set_dname(std::string(64, 'a'));
  EXPECT_TRUE(encodePER(p, out));
  p.set_dname(std::string(65, 'a'));
  EXPECT_FALSE(encodePER(p, out));
}

// Numbers above a range's upper bound, which fit the bits the range takes,
// are refused by the decoder.
TEST(Refused, ValuesAboveTheUpperBoundDoNotDecode) {
  LGCP::Message m;
  EXPECT_TRUE(decodePER(octets("40 03 FF 85"), m));  // slot 1023, activated
  EXPECT_EQ(1023u, m.get_slot().getValue());
  EXPECT_FALSE(decodePER(octets("40 04 00 85"), m));  // slot 1024
  EXPECT_FALSE(decodePER(octets("40 FF FF 85"), m));  // slot 65535
  // ErrorCause 12 is its largest value; 13 to 15 fit its four bits.
  EXPECT_TRUE(decodePER(octets("80 01 01 6C"), m));
  EXPECT_FALSE(decodePER(octets("80 01 01 6D"), m));
  EXPECT_FALSE(decodePER(octets("80 01 01 6F"), m));
  // Signal index 23 to 31 (five bits for 23 root alternatives).
  EXPECT_FALSE(decodePER(octets("40 00 05 97"), m));
  // subslot (1..3) in two bits: 3 travels as 2, 4 as 3.
  LGCP::AtsQsigBParams b;
  EXPECT_TRUE(decodePER(octets("00 00 00 80"), b));
  EXPECT_EQ(3u, b.get_subslot().getValue());
  EXPECT_FALSE(decodePER(octets("00 00 00 C0"), b));
  // Payload 124..127 in its seven bits.
  TERM::Payload pt;
  EXPECT_TRUE(decodePER(octets("F6"), pt));
  EXPECT_FALSE(decodePER(octets("F8"), pt));
}

// A command alternative from a newer schema decodes as an unknown
// selection, so that the server can answer it; such a value neither prints
// nor encodes.
TEST(Refused, UnknownCommandAlternative) {
  LGCP::Message m;
  ASSERT_TRUE(decodePER(octets("80 01 01 20 00 01 00"), m));
  EXPECT_EQ(1, m.get_seq().getValue());
  ASSERT_TRUE(m.get_pdu().command_isSelected());
  EXPECT_EQ(-2, m.get_pdu().get_command().currentSelection());
  std::vector<char> out;
  EXPECT_FALSE(encodePER(m, out));
  std::string text;
  EXPECT_FALSE(ASN1::valueNotation(m, text));
}

TEST(Refused, ListsOfMoreThan128Elements) {
  for (unsigned n : {128u, 129u}) {
    LGCP::Message m;
    m.set_seq(3);
    m.set_slot(12);
    LGCP::HdlcPackage p;
    p.set_body(std::vector<char>{'\x7e'});
    ASN1::SEQUENCE_OF<LGCP::HdlcPackage>& list = m.set_pdu().select_command().select_ioctl().select_hdlcPackages();
    for (unsigned k = 0; k < n; ++k) list.push_back(p);
    std::vector<char> out;
    ASSERT_TRUE(encodePER(m, out));
    LGCP::Message back;
    EXPECT_EQ(n <= ASN1::MaximumArraySize, decodePER(out, back)) << n;
    if (n == 128) {
      EXPECT_TRUE(back == m);
    }
  }
}

// The radio gateway tree is only decoded and printed by the daemon.
TEST(Decoded, ProtoLemzCommandDecodesAndPrints) {
  LGCP::Message m;
  m.set_seq(9);
  LEMZGW::ProtoLemzPacket packet;
  packet.set_msgID(LEMZGW::ProtoLemzMsgID::gw_get_id);
  packet.set_payload().select_gw_get_id();
  m.set_pdu().select_command().select_protoLemz().ref_packets().push_back(packet);
  std::vector<char> out;
  ASSERT_TRUE(encodePER(m, out));
  LGCP::Message back;
  ASSERT_TRUE(decodePER(out, back));
  EXPECT_TRUE(back == m);
  std::string text;
  ASSERT_TRUE(ASN1::valueNotation(back, text));
  EXPECT_NE(std::string::npos, text.find("pdu command : protoLemz : {\n    packets {\n      {\n        msgLength 0,"))
      << text;
  EXPECT_NE(std::string::npos, text.find("msgID gw-get-id,")) << text;
  EXPECT_NE(std::string::npos, text.find("payload gw-get-id : NULL")) << text;
}
