// The ED-137 gateway control on the stand-in: controller states written as
// R2S rx packets, received push-to-talk reported, and the keep-alive and
// its loss on the test clock. Packets are worked out by hand: header byte 0
// = PTT type << 5 | SQU << 4 | PTT id >> 2; byte 1 = (PTT id & 3) << 6 |
// PM << 5 | PTTS << 4 | SCT << 3 | X; SQI = 0x11, quality << 3 | method.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "rtp/ED137RadioControl.h"
#include "tests/rtp/RadioTestUtil.h"

namespace {

using namespace radiotest;
using RTPSignalling::ED137RadioGWControl;
using RTPSignalling::ED137RadioParams;
using RTPSignalling::ED137RadioState;

// The slot's init record with the default timing: keep-alive count
// 200 / (2 * 10) * 1 = 10, sigtime 1.
rtp_ext_init_params ed137Init(uint32_t count = 10, uint32_t sigtime = 1) {
  return rtp_ext_init_params{RTPSignalling::ETYPE_ED137, 0, {1, 123, count, sigtime}};
}

std::string header(const char* ptt, const char* squ, int id = 0) {
  return std::string("header { ptt ") + ptt + ", squ " + squ + ", ptt-id " + std::to_string(id) +
         ", ptt-mute FALSE, ptt-summation FALSE, sct FALSE }";
}

TERM::RadioStatus status(const std::string& text) {
  TERM::RadioStatus s;
  EXPECT_TRUE(s.setFromValueNotation("ed-137 : { " + text + " }")) << text;
  return s;
}

TERM::RadioModifier modifier(const std::string& params) {
  TERM::RadioModifier m;
  std::string text = "ed-137 : { addr { session-addr \"10.0.0.5\", session-ssrc 55 }, params " + params + " }";
  EXPECT_TRUE(m.setFromValueNotation(text)) << text;
  return m;
}

// Value notation on one line.
std::string flat(ASN1::AbstractData const& v) {
  std::string out;
  for (char c : v.asValueNotation()) {
    if (c == '\n') c = ' ';
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

const TERM::RadioStatus kSquOnAgc20 = status(header("ptt-off", "squ-on") + ", sqi { bss-method agc, bss-quality 20 }");

class ED137Test : public RadioTest {
 protected:
  void make(rtp_ext_init_params init = ed137Init(), ED137RadioParams params = {}) {
    control.reset(new ED137RadioGWControl(4, {rtpFd, -1}, init));
    control->SetParams(params);
    control->Bind(&reports);
    control->SetTimerInterval(params.keepAlivePeriod * params.keepAliveMultiplier / 2);
    control->SetTimerEnable(true);
  }
  void TearDown() override {
    control.reset();
    RadioTest::TearDown();
  }
  TERM::ED137RadioModifier const& reported(size_t i) { return reports.got.at(i).get_request().get_ed_137(); }

  Reports reports;
  std::unique_ptr<ED137RadioGWControl> control;
};

TEST_F(ED137Test, ControllerStatesAreWrittenAsRxPackets) {
  make();
  EXPECT_TRUE(control->SendASNToChan(kSquOnAgc20));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x10, 0x01, 0x11, 0xA1}}));
  EXPECT_TRUE(control->GetSQU());
  // Unchanged: the driver repeats it (count 10 and sigtime 1 are positive).
  EXPECT_TRUE(control->SendASNToChan(kSquOnAgc20));
  EXPECT_TRUE(sent().empty());

  // A modifier's rx command without sqi sends none: priority PTT (3) with
  // id 45: 011 0 1011 = 6B, 01 000 00 0 = 40.
  TERM::RadioModifier rx = modifier("rx : { " + header("priority-ptt-on", "squ-off", 45) + " }");
  EXPECT_TRUE(control->SendASNToChan(rx));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x6B, 0x40, 0x00, 0x00}}));
  EXPECT_FALSE(control->GetSQU());
  // PTT on points the source filter at the modifier's session.
  auto sessions = ext().sessions();
  ASSERT_FALSE(sessions.empty());
  EXPECT_TRUE(sessions.back().filter);
  EXPECT_EQ(sessions.back().filterAddr, ip("10.0.0.5"));

  // Another protocol's values are not this control's.
  TERM::RadioStatus lemz;
  lemz.select_lemz();
  EXPECT_FALSE(control->SendASNToChan(lemz));
  EXPECT_TRUE(sent().empty());
}

TEST_F(ED137Test, WithoutDriverRepeatsEveryStateIsWritten) {
  // A packet factor of 3 and a period of 20 give a keep-alive count of 0.
  make(ed137Init(0, 1));
  control->SendASNToChan(kSquOnAgc20);
  control->SendASNToChan(kSquOnAgc20);
  EXPECT_EQ(sent().size(), 2u);
}

TEST_F(ED137Test, ReceivedPushToTalkIsReportedOncePerSenderRun) {
  make();
  control->SendASNToChan(kSquOnAgc20);
  sent();
  // Tx headers: normal PTT id 1 (20 40), id 2 (20 80), id 3 (20 C0) from A;
  // coupling PTT id 4 (41 00) and emergency id 5 with PM (81 60) from B.
  // The SQU and SCT positions (10, 08) mean nothing in tx.
  ASSERT_TRUE(inject("10.0.0.1", 11, {0x20, 0x40, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.1", 11, {0x20, 0x80, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.1", 11, {0x30, 0xC8, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.2", 22, {0x41, 0x00, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.2", 22, {0x81, 0x60, 0, 0}));
  ASSERT_TRUE(inject("10.0.0.2", 22, {0x81, 0x61, 0x11}));  // feature cut short: dropped
  pass();
  ASSERT_EQ(reports.got.size(), 2u);
  EXPECT_EQ(flat(reported(0).get_addr()), "{ session-addr \"10.0.0.1\", session-ssrc 11 }");
  EXPECT_EQ(flat(reported(0).get_params()),
            "tx : { header { ptt normal-ptt-on, squ squ-off, ptt-id 3, ptt-mute FALSE, ptt-summation FALSE,"
            " sct FALSE } }");
  EXPECT_EQ(flat(reported(1).get_addr()), "{ session-addr \"10.0.0.2\", session-ssrc 22 }");
  EXPECT_EQ(flat(reported(1).get_params()),
            "tx : { header { ptt emergency-ptt-on, squ squ-off, ptt-id 5, ptt-mute TRUE, ptt-summation FALSE,"
            " sct FALSE } }");
  // The status is the controller's own last state, with its signal quality.
  EXPECT_EQ(flat(reports.got[1].get_status()),
            "ed-137 : { header { ptt ptt-off, squ squ-on, ptt-id 0, ptt-mute FALSE, ptt-summation FALSE,"
            " sct FALSE }, sqi { bss-method agc, bss-quality 20 } }");
  // Received packets do not move the squelch the slot's stream follows.
  EXPECT_TRUE(control->GetSQU());

  // The same state again within the timer interval is not reported; after
  // it, it is.
  after(400);
  ASSERT_TRUE(inject("10.0.0.2", 22, {0x81, 0x60, 0, 0}));
  pass();
  EXPECT_EQ(reports.got.size(), 2u);
  clock.advance(600);
  ASSERT_TRUE(inject("10.0.0.2", 22, {0x81, 0x60, 0, 0}));
  pass();
  EXPECT_EQ(reports.got.size(), 3u);
}

TEST_F(ED137Test, RadiosThatDoNotTransmitReportNoPushToTalk) {
  ED137RadioParams rxOnly;
  rxOnly.radioType = TERM::ED137RadioType::radio_rxonly;
  make(ed137Init(), rxOnly);
  ASSERT_TRUE(inject("10.0.0.1", 11, {0x20, 0x40, 0, 0}));
  pass();
  control.reset();

  ED137RadioParams rxMode;
  rxMode.txrxMode = TERM::ED137RadioTxRxMode::rx;
  make(ed137Init(), rxMode);
  ASSERT_TRUE(inject("10.0.0.1", 11, {0x20, 0x40, 0, 0}));
  pass();
  EXPECT_TRUE(reports.got.empty());
}

TEST_F(ED137Test, KeepAliveEveryIntervalAndLossAfterPeriodTimesMultiplier) {
  // Defaults: period 200 ms x multiplier 10: a tick every 1000 ms, loss
  // after 2000 ms without a packet.
  make();
  after(999);
  EXPECT_TRUE(sent().empty());
  after(1);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x00, 0x00, 0x00, 0x00}}));
  EXPECT_TRUE(reports.codes.empty());
  after(1000);
  EXPECT_EQ(sent().size(), 1u);
  EXPECT_EQ(reports.codes, (std::vector<int>{151}));
  after(1000);
  EXPECT_EQ(reports.codes, (std::vector<int>{151, 151}));
  EXPECT_EQ(sent().size(), 1u);

  // A packet from the peer (at 3300) ends the loss reports until it falls
  // silent again for 2000 ms.
  clock.advance(300);
  ASSERT_TRUE(inject("10.0.0.1", 11, {0x20, 0x40, 0, 0}));
  pass();
  // A controller state at 3300 is written and puts off the keep-alive: the
  // tick at 4000 finds 700 ms since, and comes back 10 ms after it falls due.
  control->SendASNToChan(kSquOnAgc20);
  EXPECT_EQ(sent().size(), 1u);
  after(700);
  EXPECT_TRUE(sent().empty());
  after(309);
  EXPECT_TRUE(sent().empty());
  after(1);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x10, 0x01, 0x11, 0xA1}}));
  EXPECT_EQ(reports.codes.size(), 2u);
  after(1000);  // 5310: 2010 ms of silence
  EXPECT_EQ(reports.codes.size(), 3u);
}

TEST_F(ED137Test, KeepAliveGoesOnAfterATxState) {
  make();
  // A tx command: normal PTT, id 5: 001 0 0001 = 21, 01 000 00 0 = 40.
  control->SendASNToChan(modifier("tx : { " + header("normal-ptt-on", "squ-off", 5) + " }"));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x21, 0x40, 0x00, 0x00}}));
  // A tx packet does not put off the keep-alive, which carries the state's
  // header as rx; the state stays what the controller set.
  after(1000);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x21, 0x40, 0x00, 0x00}}));
  after(1000);
  EXPECT_EQ(sent().size(), 1u);
  EXPECT_EQ(control->GetRadioState().word, uint32_t(ED137RadioState::TxHeader));
}

}  // namespace
