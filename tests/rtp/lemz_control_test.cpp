// The LEMZ gateway control on the stand-in: runs of received packets, the
// access rule with the driver's source filter, the status cycle on the test
// clock, and the conversions to and from the controller's values.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "asn1/ASN1.h"
#include "rtp/LemzRadioControl.h"
#include "tests/rtp/RadioTestUtil.h"
#include "tests/rtp/RadioValues.h"

namespace {

using namespace radiotest;
using RTPSignalling::LemzRadioGWControl;
using RTPSignalling::LemzRadioState;

bool encodes(ASN1::AbstractData const& v) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  return ASN1::encode(v, &env, std::back_inserter(out));
}

TERM::RadioModifier modifier(const std::string& addr, const std::string& params) {
  TERM::RadioModifier m;
  std::string text = "lemz : { addr { session-addr \"" + addr + "\", session-ssrc 77 }, params " + params + " }";
  EXPECT_TRUE(m.setFromValueNotation(text)) << text;
  return m;
}

TERM::RadioStatus status() {
  TERM::RadioStatus s;
  EXPECT_TRUE(s.setFromValueNotation(lemzStatus()));
  return s;
}

class LemzTest : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    control.reset(new LemzRadioGWControl(3, {rtpFd, int(getpid())}, lemzInit()));
    control->Bind(&reports);
  }
  void TearDown() override {
    control.reset();
    RadioTest::TearDown();
  }
  std::string reported(size_t i) {
    return reports.got.at(i).get_request().get_lemz().get_params().asValueNotation();
  }
  Reports reports;
  std::unique_ptr<LemzRadioGWControl> control;
};

TEST_F(LemzTest, OnlyTheLastPacketOfARunIsReported) {
  // GW_FLAG_PTT with PTT, priorities 1, 2, 3 (byte 1 = prio << 4 | 0x04),
  // a GW_SEL_CALL whose length byte promises more than follows and a type
  // that does not exist (both dropped), then GW_ADJUST_CHAN id 5 at 145.5.
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x03, 0x14, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x03, 0x24, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x09, 0x00, 0, 0, 200, 'A', 'B', 'C'}));
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x0E, 0x00, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x03, 0x34, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x02, 0x00, 0, 0, 0, 0, 0, 5, 0x43, 0x11, 0x80, 0x00}));
  pass();
  ASSERT_EQ(reports.got.size(), 2u);
  EXPECT_TRUE(reports.got[0].get_request().get_lemz().get_params().gw_set_ptt_isSelected());
  EXPECT_EQ(reports.got[0].get_request().get_lemz().get_params().get_gw_set_ptt().get_flags().get_prio().getValue(), 3);
  auto const& addr = reports.got[0].get_request().get_lemz().get_addr();
  EXPECT_EQ(std::string(addr.get_session_addr()), "10.0.0.9");
  EXPECT_EQ(addr.get_session_ssrc().getValue(), 0x99u);
  EXPECT_NE(reported(1).find("channel 5"), std::string::npos) << reported(1);
  EXPECT_NE(reported(1).find("frequency \"145.500000\""), std::string::npos) << reported(1);
  for (auto const& r : reports.got) EXPECT_TRUE(encodes(r)) << r.asValueNotation();

  // Another sender breaks a run.
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x03, 0x14, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.8", 0x98, {0x03, 0x14, 0, 0}));
  pass();
  EXPECT_EQ(reports.got.size(), 4u);
}

TEST_F(LemzTest, AccessRuleAndFilterFollowThePttHolder) {
  // The controller gives PTT to session 10.0.0.1 at priority 5: one WM_TRANS
  // 0x82, prio 5 << 4 | PTT 0x04, the address octets reversed, SSRC 42.
  control->SendASNToChan(modifier("10.0.0.1", "wm-trans : { " + radioFlags(5, true) + ", ip \"10.0.0.1\", ssrc 42 }"));
  auto out = sent();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], (Bytes{0x82, 0x54, 0, 0, 0x01, 0, 0, 0x0A, 0, 0, 0, 42}));
  auto s = ext().sessions();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_TRUE(s[0].filter);
  EXPECT_EQ(s[0].filterAddr, ip("10.0.0.1"));

  LemzRadioState rx;
  rx.source_addr = ip("10.0.0.2");
  rx.command = GW_FLAG_PTT;
  rx.flag_p = 1;
  rx.priority = 3;
  EXPECT_TRUE(control->AccessFormChanToRadio(rx)) << "a higher priority takes over";
  rx.priority = 5;
  EXPECT_FALSE(control->AccessFormChanToRadio(rx)) << "an equal priority does not";
  rx.priority = 0;
  rx.command = GW_ADJUST_CHAN;
  EXPECT_FALSE(control->AccessFormChanToRadio(rx)) << "only PTT commands take over";
  rx.source_addr = ip("10.0.0.1");
  EXPECT_TRUE(control->AccessFormChanToRadio(rx)) << "the holder's own packets pass";

  // Clearing PTT opens the channel to everyone again.
  control->SendASNToChan(modifier("10.0.0.1", "gw-set-ptt : { " + radioFlags(5, false) + " }"));
  EXPECT_TRUE(sent().empty()) << "a gateway sends nothing for a gw-set-* change";
  EXPECT_FALSE(ext().sessions()[0].filter);
  ASSERT_TRUE(inject("10.0.0.2", 2, {0x02, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
  pass();
  EXPECT_EQ(reports.got.size(), 1u);
  EXPECT_EQ(control->GetToRadioState().chan_id, 1);
}

TEST_F(LemzTest, StatusCycleResendsEachGroupAfterASecond) {
  control->SetTimerEnable(true);
  ASSERT_TRUE(control->SendASNToChan(status()));
  EXPECT_TRUE(sent().empty()) << "a full status is only stored";
  EXPECT_TRUE(control->GetSQU() == false);

  // prio 2 -> header byte 1 0x20; WM_CHAN id 5, 145.5 = 43 11 80 00,
  // squelch on (2), rte n0n (1); remote no 1 ch 2; standby active (0),
  // group 3, receiver standby (1).
  const Bytes flag{0x81, 0x20, 0, 0};
  const Bytes chan{0x84, 0x20, 0, 0, 0, 0, 0, 5, 0x43, 0x11, 0x80, 0x00, 2, 1, 0, 0};
  const Bytes remote{0x86, 0x20, 0, 0, 1, 2, 0, 0};
  const Bytes standby{0x87, 0x20, 0, 0, 0, 3, 1, 0};
  after(999);
  EXPECT_TRUE(sent().empty());
  after(1);
  EXPECT_EQ(sent(), (std::vector<Bytes>{flag, chan, remote, standby}));

  // t = 1400: a wm-chan change goes out at once; the quality once and never again.
  after(400);
  control->SendASNToChan(modifier("10.0.0.1", "wm-chan : { freq { channel 6, frequency \"145.5\" }, squelshe off, rte a1b }"));
  control->SendASNToChan(modifier("10.0.0.1", "wm-quality : { bss-val \"0.5\" }"));
  const Bytes chan6{0x84, 0x20, 0, 0, 0, 0, 0, 6, 0x43, 0x11, 0x80, 0x00, 1, 2, 0, 0};
  EXPECT_EQ(sent(), (std::vector<Bytes>{chan6, {0x83, 0x20, 0, 0, 0x3F, 0, 0, 0}}));

  // t = 2000: the groups last sent at 1000; WM_CHAN (1400) is not due.
  after(600);
  EXPECT_EQ(sent(), (std::vector<Bytes>{flag, remote, standby}));
  // The next tick comes 10 ms after WM_CHAN falls due: 2000 + (1000 - 600) + 10.
  after(409);
  EXPECT_TRUE(sent().empty());
  after(1);
  EXPECT_EQ(sent(), (std::vector<Bytes>{chan6}));

  // Destroyed, the control leaves no session behind.
  control.reset();
  EXPECT_TRUE(ext().sessions().empty());
}

TEST_F(LemzTest, ControllerValuesIntoTheState) {
  LemzRadioState s;
  control->DecodeASN(modifier("10.0.0.1", "gw-set-freq : { freq { channel 9, frequency \"145.45\" } }").get_lemz(), s);
  EXPECT_EQ(s.command, 2);
  EXPECT_FLOAT_EQ(s.freq, 145.45f);
  EXPECT_EQ(s.source_addr, ip("10.0.0.1"));
  EXPECT_EQ(s.source_ssrc, 77u);
  TERM::RtpRadioRequest r;
  control->EncodeASN(s, s, r);
  EXPECT_EQ(std::string(r.get_request().get_lemz().get_params().get_gw_set_freq().get_freq().get_frequency()),
            "145.449997");

  // A session address that is not one gives all ones; a caller ID keeps 255 characters.
  LemzRadioState c;
  std::string cid(300, 'x');
  control->DecodeASN(
      modifier("nowhere", "wm-selcall : { " + radioFlags(1, true) + ", ip \"10.1.2.3\", ssrc 5, cid \"" + cid + "\" }").get_lemz(), c);
  EXPECT_EQ(c.source_addr, 0xFFFFFFFFu);
  EXPECT_EQ(std::strlen(c.callerID), 255u);

  // wm-quality touches the quality alone.
  LemzRadioState q = c;
  control->DecodeASN(modifier("10.0.0.1", "wm-quality : { bss-val \"0.25\" }").get_lemz(), q);
  EXPECT_FLOAT_EQ(q.radio_quality, 0.25f);
  EXPECT_EQ(q.flag_p, 1);
  EXPECT_EQ(q.priority, 1);

  // A status never touches the caller ID or the quality.
  control->DecodeASN(status().get_lemz(), q);
  EXPECT_EQ(q.command, 0);
  EXPECT_EQ(std::strlen(q.callerID), 255u);
  EXPECT_FLOAT_EQ(q.radio_quality, 0.25f);
  EXPECT_EQ(q.standby_receiver_state, 1);
}

// Each of the twenty commands: the report built for it decodes back to the
// same command, and every report encodes.
TEST_F(LemzTest, EveryCommandReportsAndDecodesBack) {
  const int commands[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};
  for (int cmd : commands) {
    LemzRadioState rx;
    rx.command = cmd;
    rx.squelsh = 2;
    rx.rte = 7;
    rx.standby_state = rx.standby_receiver_state = 1;
    rx.standby_group = 255;
    TERM::RtpRadioRequest r;
    control->EncodeASN(control->GetToChanState(), rx, r);
    EXPECT_TRUE(encodes(r)) << cmd << " " << r.asValueNotation();
    LemzRadioState back;
    control->DecodeASN(r.get_request().get_lemz(), back);
    EXPECT_EQ(back.command, cmd);
  }
  // The sh and rv commands stand in the other order than their alternatives.
  LemzRadioState rv;
  rv.command = GW_FLAG_RV;
  TERM::RtpRadioRequest r;
  control->EncodeASN(rv, rv, r);
  EXPECT_TRUE(r.get_request().get_lemz().get_params().gw_set_rv_isSelected());
}

// A radio's bytes that no enumeration names, the 0xFF of "not-use" (which
// the controller's coder cannot carry), and a state the controller never
// set: the report still reaches the controller, and the change is said.
TEST_F(LemzTest, ValuesOutsideTheControllersRangesStillReport) {
  testing::internal::CaptureStderr();
  ASSERT_TRUE(inject("10.0.0.9", 1, {0x0B, 0, 0, 0, 7, 0, 0, 0}));                // squelch 7
  ASSERT_TRUE(inject("10.0.0.9", 1, {0x87, 0, 0, 0, 0xFF, 9, 0xFF, 0}));          // WM_STANDBY not-use
  ASSERT_TRUE(inject("10.0.0.9", 1, {0x84, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 9, 200, 0, 0}));  // WM_CHAN
  pass();
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(reports.got.size(), 3u);
  for (auto const& r : reports.got) EXPECT_TRUE(encodes(r)) << r.asValueNotation();
  EXPECT_NE(reported(0).find("squelshe no-config"), std::string::npos) << reported(0);
  EXPECT_NE(reported(1).find("state-channel active"), std::string::npos) << reported(1);
  EXPECT_NE(reported(1).find("group 9"), std::string::npos) << reported(1);
  EXPECT_NE(reported(2).find("rte no-config"), std::string::npos) << reported(2);
  // One line for each report that had to change a radio's value, naming
  // each such value and what the controller was told instead.
  size_t lines = 0;
  for (size_t at = 0; (at = err.find("outside the controller's range", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 3u) << err;
  for (const char* said : {"command=0xb: value(s) outside the controller's range: squelshe 7 reported as no-config\n",
                           "command=0x87: value(s) outside the controller's range: state-channel 255 reported as "
                           "active, state-receiver 255 reported as active\n",
                           "command=0x84: value(s) outside the controller's range: squelshe 9 reported as "
                           "no-config, rte 200 reported as no-config\n"})
    EXPECT_NE(err.find(said), std::string::npos) << said << " in " << err;
  EXPECT_EQ(err.find("not configured"), std::string::npos) << err;
}

}  // namespace

namespace {

using namespace radiotest;

// The workstation side: commands out, status in, and no access rule.
TEST_F(RadioTest, WorkstationSendsCommandsAndTakesReports) {
  Reports reports;
  RTPSignalling::LemzRadioWSControl control(4, {rtpFd, int(getpid())}, lemzInit());
  control.SetRadioControlMode(RTPSignalling::RadioControl::Workstation);
  control.Bind(&reports);
  // GW_ADJUST_CHAN, the default priority 15 (0xF0), id 9,
  // 118.25 = 1.84765625 * 2^6: exponent 133, mantissa 0x6C8000 -> 42 EC 80 00.
  ASSERT_TRUE(control.SendASNToChan(modifier("10.0.0.1", "gw-set-freq : { freq { channel 9, frequency \"118.25\" } }")));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x02, 0xF0, 0, 0, 0, 0, 0, 9, 0x42, 0xEC, 0x80, 0x00}}));
  // A status report is no command of this side.
  ASSERT_TRUE(control.SendASNToChan(modifier("10.0.0.1", "wm-quality : { bss-val \"0.5\" }")));
  EXPECT_TRUE(sent().empty());

  // A call report from 10.0.0.9 naming session 10.1.2.3 (octets reversed),
  // SSRC 5 and caller "AB": the session in the body wins over the sender.
  ASSERT_TRUE(inject("10.0.0.9", 0x99, {0x85, 0, 0, 0, 0x03, 0x02, 0x01, 0x0A, 0, 0, 0, 5, 2, 'A', 'B', 0}));
  pass();
  ASSERT_EQ(reports.got.size(), 1u);
  EXPECT_EQ(control.GetToRadioState().session_addr, ip("10.1.2.3"));
  EXPECT_EQ(control.GetToRadioState().ssrc, 5u);
  auto const& call = reports.got[0].get_request().get_lemz().get_params().get_wm_selcall();
  EXPECT_EQ(std::string(call.get_cid()), "AB");
  EXPECT_EQ(std::string(call.get_ip()), "10.1.2.3");
}

}  // namespace
