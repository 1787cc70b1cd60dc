// The accessor semantics callers rely on, on real protocol types: presence
// and the kept value object, extension additions, selection, alternatives
// sharing one type, enumerations with explicit, repeated and negative
// values, deep copies, and the names that must not clash in C++.
#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <string>
#include <type_traits>
#include <vector>

#include "protocol/ACP/ACP.h"
#include "protocol/HSP/HSP.h"
#include "protocol/LEMZGW/LEMZGW.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/MON/MON.h"
#include "protocol/TERM/TERM.h"

TEST(Sequence, NewMessageHasNothingPresentAndNothingSelected) {
  LGCP::Message m;
  EXPECT_FALSE(m.seq_isPresent());
  EXPECT_FALSE(m.slot_isPresent());
  EXPECT_EQ(-1, m.get_pdu().currentSelection());
  LGCP::AtsQsigBParams b;
  EXPECT_EQ(0u, b.get_subslot().getValue());  // outside 1..3: not encodable
}

TEST(Sequence, OmitKeepsTheValueObjectAndSetReusesIt) {
  LGCP::Message m;
  m.set_slot(10);
  ASN1::AbstractData const* object = &m.get_slot();
  m.omit_slot();
  EXPECT_FALSE(m.slot_isPresent());
  EXPECT_EQ(object, &m.get_slot());
  EXPECT_EQ(10u, m.get_slot().getValue());
  m.set_slot(11);
  EXPECT_TRUE(m.slot_isPresent());
  EXPECT_EQ(object, &m.get_slot());
  EXPECT_EQ(11u, m.get_slot().getValue());
  // The no-argument setter marks the field present and hands it out.
  m.omit_slot();
  m.set_slot() = 12u;
  EXPECT_TRUE(m.slot_isPresent());
  EXPECT_EQ(12u, m.get_slot().getValue());
}

TEST(Sequence, ExtensionAdditionsUseTheSecondPresenceMap) {
  TERM::TermParams p;
  EXPECT_EQ(6u, p.optionalMap().size());
  EXPECT_EQ(0u, p.extensionMap().size());
  p.set_traceLevel(3);
  EXPECT_TRUE(p.traceLevel_isPresent());
  EXPECT_EQ(1u, p.extensionMap().size());
  EXPECT_FALSE(p.echo_isPresent());
  p.set_radio_command().select_vad_params();
  EXPECT_TRUE(p.radio_command_isPresent());
  EXPECT_EQ(13u, p.extensionMap().size());
  p.omit_traceLevel();
  EXPECT_FALSE(p.traceLevel_isPresent());
  EXPECT_TRUE(p.radio_command_isPresent());
  EXPECT_EQ(3, p.get_traceLevel().getValue());

  TERM::ISDN_NumberType n;
  n.set_type(TERM::ISDN_NumberType_type::national);
  n.set_screeningInd(TERM::ISDN_NumberType_screeningInd::verified_passed);
  EXPECT_TRUE(n.screeningInd_isPresent());
  EXPECT_EQ(TERM::ISDN_NumberType_screeningInd::verified_passed, n.get_screeningInd());
}

TEST(Sequence, ListsAppendCopies) {
  MON::SnmpSetCommands cmds;
  MON::SnmpSetCommand c;
  c.set_uniq(1);
  cmds.ref_commands().push_back(c);
  c.set_uniq(2);
  cmds.ref_commands().push_back(c);
  ASSERT_EQ(2u, cmds.get_commands().size());
  EXPECT_EQ(1, cmds.get_commands()[0].get_uniq().getValue());
  EXPECT_EQ(2, cmds.get_commands()[1].get_uniq().getValue());

  LGCP::Resources r;
  r.ref_echoBus().push_back(ASN1::INTEGER(7, &ASN1::INTEGER::theInfo));
  EXPECT_EQ(7, r.get_echoBus()[0].getValue());
}

TEST(Choice, SelectReplacesTheSelection) {
  LGCP::Signal s(LGCP::Signal::abort::id, 256);
  EXPECT_TRUE(s.abort_isSelected());
  EXPECT_EQ(256, s.get_abort().getValue());
  s.select_receiver().select_active(200);
  EXPECT_FALSE(s.abort_isSelected());
  EXPECT_TRUE(s.receiver_isSelected());
  EXPECT_EQ(LGCP::Signal::receiver::id, s.currentSelection());
  EXPECT_EQ(200, s.get_receiver().get_active().getValue());
  s.select_deactivated(LGCP::DeactivateCause::otherError);
  EXPECT_EQ(LGCP::DeactivateCause::otherError, s.get_deactivated());

  LGCP::Response r;
  r.select_error(LGCP::ErrorCause::unexpectedMsgType);
  EXPECT_TRUE(r.error_isSelected());
  EXPECT_EQ(4, r.get_error().asInt());
}

TEST(Choice, AlternativesSharingATypeKeepTheirOwnIndex) {
  TERM::RadioCommandGWSetFlags flags;
  TERM::LemzRadioModifierParams ptt(TERM::LemzRadioModifierParams::gw_set_ptt::id, flags);
  TERM::LemzRadioModifierParams rv(TERM::LemzRadioModifierParams::gw_set_rv::id, flags);
  EXPECT_EQ(2, ptt.currentSelection());
  EXPECT_EQ(6, rv.currentSelection());
  EXPECT_TRUE(ptt != rv);
  rv.select_gw_set_ptt(flags);
  EXPECT_TRUE(ptt == rv);
  // Distinct tag types make distinct constructors.
  EXPECT_FALSE((std::is_same<TERM::LemzRadioModifierParams::gw_set_ptt::Id,
                             TERM::LemzRadioModifierParams::gw_set_rv::Id>::value));

  LGCP::CreateParams bri(LGCP::CreateParams::trunk_bri::id, LGCP::TrunkParams());
  EXPECT_EQ(8, bri.currentSelection());
  EXPECT_TRUE(bri.trunk_bri_isSelected());
  EXPECT_FALSE(bri.trunk_isSelected());
}

TEST(Choice, NamesThatHideBaseMembers) {
  // `create` and `info` alternatives, and an alternative called `id`.
  LGCP::Command c(LGCP::Command::create::id, LGCP::CreateParams());
  EXPECT_EQ(4, c.currentSelection());
  EXPECT_EQ(&LGCP::Command::theInfo, c.ASN1::AbstractData::info());
  TERM::TermSignal s;
  s.select_info();
  EXPECT_TRUE(s.info_isSelected());
  ACP::ExtResourceID r;
  r.select_id();
  EXPECT_TRUE(r.id_isSelected());
  EXPECT_EQ(r.currentSelection(), ACP::ExtResourceID::id::id_);
  // `major` and `minor` next to the glibc macros of the same names.
  ACP::BoardVersion v;
  v.set_major(2);
  v.set_minor(7);
  EXPECT_EQ(2, v.get_major().getValue());
  EXPECT_EQ(7, v.get_minor().getValue());
  EXPECT_EQ(1u, major(makedev(1, 2)));
}

TEST(Choice, NullAlternativesAndExtensionAlternatives) {
  LGCP::PDU pdu(LGCP::PDU::command::id, LGCP::Command(LGCP::Command::ping::id));
  EXPECT_TRUE(pdu.get_command().ping_isSelected());
  LGCP::TonecCode done(LGCP::TonecCode::dtmfDone::id);
  EXPECT_EQ(6, done.currentSelection());
  EXPECT_EQ(6u, done.getNumChoices());
  EXPECT_EQ(7u, done.getTotalChoices());
}

TEST(Enumeration, ExplicitRepeatedAndNegativeValues) {
  HSP::StandbyState s;
  EXPECT_EQ(HSP::StandbyState::initial, s);
  s.set_active();
  EXPECT_EQ(16, s.asInt());
  EXPECT_TRUE(s.is_active());
  EXPECT_EQ(16, s.getMaximum());

  LEMZGW::ProtoLemzAnalogGainIDV1 g(LEMZGW::ProtoLemzAnalogGainIDV1::min);
  EXPECT_TRUE(g.is_rtx1());
  EXPECT_TRUE(g.is_min());
  EXPECT_EQ(255, g.getMaximum());
  std::string name;
  ASSERT_TRUE(g.getIdentifier(name));
  EXPECT_EQ("rtx1", name);
  g = LEMZGW::ProtoLemzAnalogGainIDV1::max;
  ASSERT_TRUE(g.getIdentifier(name));
  EXPECT_EQ("rsh", name);
  g = LEMZGW::ProtoLemzAnalogGainIDV1::mux;
  EXPECT_EQ(11, g.asInt());

  TERM::RadioStandby r(TERM::RadioStandby::not_use);
  EXPECT_EQ(-1, r.asInt());
  EXPECT_TRUE(r.is_not_use());
  ASSERT_TRUE(r.getIdentifier(name));
  EXPECT_EQ("not-use", name);
  EXPECT_EQ(1, r.getMaximum());
}

TEST(Enumeration, NamesTablesCarryOnlyTheValuesThatBreakTheCount) {
  EXPECT_STREQ("invalidParams", LGCP::ErrorCause_enum_names__[0]);
  EXPECT_STREQ("destroyInProgress", LGCP::ErrorCause_enum_names__[12]);
  EXPECT_EQ(13u, LGCP::ErrorCause::theInfo.numNames);
  EXPECT_STREQ("speak=4", HSP::StandbyState_enum_names__[3]);
  EXPECT_STREQ("fake=255", LEMZGW::ProtoLemzAnalogGainIDV1_enum_names__[11]);
  EXPECT_STREQ("min=0", LEMZGW::ProtoLemzAnalogGainIDV1_enum_names__[12]);
  EXPECT_STREQ("mux", LEMZGW::ProtoLemzAnalogGainIDV1_enum_names__[14]);
  EXPECT_STREQ("not-use=-1", TERM::RadioStandby_enum_names__[0]);
  EXPECT_STREQ("active", TERM::RadioStandby_enum_names__[1]);
  EXPECT_STREQ("emergency=1", TERM::ED137CallPriority_enum_names__[0]);
  EXPECT_STREQ("urgent", TERM::ED137CallPriority_enum_names__[1]);
}

TEST(Records, ShapeOfTheTables) {
  LGCP::BpcTestParams::InfoType const& b = LGCP::BpcTestParams::theInfo;
  EXPECT_EQ(16u, b.head.tag);
  EXPECT_FALSE(b.extendable);
  EXPECT_EQ(5u, b.numFields);
  EXPECT_EQ(0u, b.numOptional);
  EXPECT_STREQ("timeslot-start", b.fieldNames[3]);
  EXPECT_EQ(&LGCP::BpcTestMode::theInfo, b.fieldInfos[2]);

  TERM::TermParams::InfoType const& t = TERM::TermParams::theInfo;
  EXPECT_TRUE(t.extendable);
  EXPECT_EQ(6u, t.numFields);
  EXPECT_EQ(13u, t.knownExtensions);
  EXPECT_EQ(6u, t.numOptional);
  EXPECT_EQ(5, t.fieldIds[5]);
  EXPECT_EQ(0, t.fieldIds[6]);
  EXPECT_EQ(0, t.fieldIds[18]);
  EXPECT_STREQ("radio-command", t.fieldNames[18]);

  LGCP::Command::InfoType const& c = LGCP::Command::theInfo;
  EXPECT_EQ(0u, c.head.tag);
  EXPECT_TRUE(c.extendable);
  EXPECT_EQ(15u, c.numChoices);
  EXPECT_EQ(15u, c.totalChoices);
  EXPECT_STREQ("protoLemz", c.selectionNames[14]);

  EXPECT_EQ(10u, LGCP::ErrorCause::theInfo.head.tag);
  EXPECT_TRUE(LGCP::ErrorCause::theInfo.extendable);
  EXPECT_EQ(12, LGCP::ErrorCause::theInfo.maxEnumValue);

  // The one size-constrained string and a list record.
  typedef TERM::RtpParams::dname::value_type Dname;
  EXPECT_EQ(&Dname::theInfo, TERM::RtpParams::fieldInfos[3]);
  EXPECT_EQ(1, Dname::theInfo.constraint.lowerLimit);
  EXPECT_EQ(64u, Dname::theInfo.constraint.upperLimit);
  EXPECT_EQ(ASN1::IA5String::theInfo.characterSet, Dname::theInfo.characterSet);
  EXPECT_EQ(17u, ASN1::SET_OF<LGCP::TonecMask>::theInfo.constraint.head.tag);
}

TEST(Copies, AreDeep) {
  LGCP::Message m;
  m.set_seq(7);
  m.set_pdu().select_command().select_create().select_trunk().set_trunk(1);
  LGCP::Message copy(m);
  EXPECT_TRUE(copy == m);
  copy.ref_pdu().ref_command().ref_create().ref_trunk().set_timeslot(5);
  EXPECT_EQ(0u, m.get_pdu().get_command().get_create().get_trunk().get_timeslot().getValue());
  EXPECT_TRUE(copy != m);
  LGCP::Message assigned;
  assigned = copy;
  EXPECT_TRUE(assigned == copy);
  std::unique_ptr<LGCP::Message> cloned(copy.clone());
  EXPECT_TRUE(*cloned == copy);
}
