// Printed messages, to the character, as the daemon's log lines show them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "protocol/LEMZGW/LEMZGW.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"

namespace {

std::string print(ASN1::AbstractData const& v) {
  std::ostringstream os;
  os << v;
  EXPECT_TRUE(os.good());
  return os.str();
}

}  // namespace

TEST(PrintedText, PingCommand) {
  LGCP::Message m;
  m.set_seq(1);
  m.set_pdu().select_command().select_ping();
  EXPECT_EQ(
      "{\n"
      "  seq 1,\n"
      "  pdu command : ping : NULL\n"
      "}",
      print(m));
}

TEST(PrintedText, CreateTrunk) {
  LGCP::Message m;
  m.set_seq(7);
  m.set_slot(10);
  LGCP::TrunkParams& t = m.set_pdu().select_command().select_create().select_trunk();
  t.set_trunk(1);
  t.set_timeslot(5);
  EXPECT_EQ(
      "{\n"
      "  seq 7,\n"
      "  slot 10,\n"
      "  pdu command : create : trunk : {\n"
      "    trunk 1,\n"
      "    timeslot 5\n"
      "  }\n"
      "}",
      print(m));
}

TEST(PrintedText, NamesKeepTheirUnderscoresAndHyphens) {
  LGCP::CreateParams c(LGCP::CreateParams::trunk_bri::id, LGCP::TrunkParams());
  EXPECT_EQ(
      "trunk_bri : {\n"
      "  trunk 0,\n"
      "  timeslot 0\n"
      "}",
      print(c));
  LGCP::CreateParams q;
  q.select_ats_qsig_b().set_subslot(2);
  EXPECT_EQ(
      "ats-qsig-b : {\n"
      "  slot 0,\n"
      "  subslot 2\n"
      "}",
      print(q));
}

TEST(PrintedText, EnumerationValues) {
  // A value without a name prints as its number.
  TERM::ED137CallPriority p;
  EXPECT_EQ("0", print(p));
  p = TERM::ED137CallPriority::non_urgent;
  EXPECT_EQ("non-urgent", print(p));
  // A repeated value prints the first name that carries it.
  LEMZGW::ProtoLemzAnalogGainIDV1 g(LEMZGW::ProtoLemzAnalogGainIDV1::min);
  EXPECT_EQ("rtx1", print(g));
  g = LEMZGW::ProtoLemzAnalogGainIDV1::max;
  EXPECT_EQ("rsh", print(g));
  g = LEMZGW::ProtoLemzAnalogGainIDV1::fake;
  EXPECT_EQ("fake", print(g));
  TERM::RadioStandby r(TERM::RadioStandby::not_use);
  EXPECT_EQ("not-use", print(r));
}

TEST(PrintedText, OctetsAndEmptyLists) {
  LGCP::Signal s(LGCP::Signal::userData::id, std::vector<char>{'\x7e', '\xab', '\x01'});
  EXPECT_EQ("userData : '7e ab 01'H", print(s));

  LGCP::Resources r;
  EXPECT_EQ(
      "{\n"
      "  boardMajor 0,\n"
      "  boardMinor 0,\n"
      "  rtp-g729 0,\n"
      "  rtp-g723 0,\n"
      "  rtp-g711 0,\n"
      "  rtp-g711mcc 0,\n"
      "  modem 0,\n"
      "  mixer {\n"
      "  },\n"
      "  mux FALSE,\n"
      "  mcc-data 0,\n"
      "  mcc-bri 0,\n"
      "  mcc-trans 0,\n"
      "  echoBus {\n"
      "  },\n"
      "  t38-instances 0,\n"
      "  digital-modems 0,\n"
      "  lin16 0,\n"
      "  universal 0\n"
      "}",
      print(r));
}

TEST(PrintedText, SignalWithNestedChoice) {
  LGCP::Message m;
  m.set_slot(3);
  LGCP::TonecEvent& t = m.set_pdu().select_signal().select_tonec();
  t.set_timestamp(1000);
  t.set_event().select_dtmf(5);
  EXPECT_EQ(
      "{\n"
      "  slot 3,\n"
      "  pdu signal : tonec : {\n"
      "    timestamp 1000,\n"
      "    event dtmf : 5\n"
      "  }\n"
      "}",
      print(m));
}
