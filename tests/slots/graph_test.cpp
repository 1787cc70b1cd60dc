// The media graph: stream signals, switch paths, re-connection (and its
// failure), priorities and refusals, seen on the wire and on the stand-in's
// switch.
#include <iomanip>

#include "SlotsTestUtil.h"
#include "board/Hal.h"
#include "hardware/HwTestUtil.h"

using namespace slots_test;
using Board::Hal;

namespace {

std::vector<std::string> calls() {
  std::vector<std::string> c = ProbeFactory::instance().calls;
  ProbeFactory::instance().calls.clear();
  return c;
}

// The switch requests since the log was cleared, as "connect dst<-src" and
// "drive ch=byte".
std::vector<std::string> switched(Board::StandIn& board) {
  std::vector<std::string> out;
  for (const hwtest::Req& r : hwtest::requests(board, {HwMux::kConnect, HwMux::kWrite})) {
    const std::string a = std::to_string(r.words.at(0)), b = std::to_string(r.words.at(1));
    out.push_back(r.word == HwMux::kConnect ? "connect " + a + "<-" + b : "drive " + a + "=" + b);
  }
  board.clearLog();
  return out;
}

using GraphTest = SlotsTest;

TEST_F(GraphTest, FirstLinkReportsBothStreamsThenSwitchesAndDisconnectIdlesTheSink) {
  send(probe(1, 1, 2) + "\n" + probe(2, 3, 4));
  calls();
  Capture cap;
  // The source's transmitter first, then the sink's receiver, then the
  // answer; the sink (equal priorities) makes the path.
  EXPECT_EQ(send(cmd(1, "connect : 2")),
            (std::vector<std::string>{stream(1, "transmitter", 8193), stream(2, "receiver", 8196), ok(1)}));
  EXPECT_EQ(switched(board()), std::vector<std::string>{"connect 8196<-8193"});
  EXPECT_EQ(calls(), std::vector<std::string>{"02:probe connect-rx"});
  EXPECT_EQ(cap.log(), "mux: slot 01:probe [8193] -> 02:probe [8196]\n");
  EXPECT_EQ(slot(2)->GetSource(), slot(1));
  EXPECT_EQ(slot(1)->GetSinks(), std::vector<Slot*>{slot(2)});

  // The same link again: nothing happens.
  EXPECT_EQ(send(cmd(1, "connect : 2")), std::vector<std::string>{ok(1)});
  EXPECT_TRUE(switched(board()).empty());

  // The source breaks the path; no stream signal; both release hooks.
  cap.clear();
  EXPECT_EQ(send(cmd(2, "disconnect : NULL")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(switched(board()), std::vector<std::string>{"drive 8196=213"});
  EXPECT_EQ(board().hal().channel(8196).kind, Hal::Channel::Driven);
  EXPECT_EQ(calls(), (std::vector<std::string>{"01:probe disconnect-tx", "02:probe input-release",
                                               "01:probe output-release"}));
  EXPECT_EQ(cap.log(), "mux: disconnect slot 02:probe [8196]\n");
  // Streams stay reported: a new link sends no signal. Nor does a
  // disconnect of a sink without source do anything.
  EXPECT_EQ(send(cmd(1, "connect : 2")), std::vector<std::string>{ok(1)});
  EXPECT_EQ(send(cmd(1, "disconnect : NULL")), std::vector<std::string>{ok(1)});
}

TEST_F(GraphTest, ReconnectionBreaksTheOldPathFirstAndAFailedOneNeverLeavesALinkWithoutPath) {
  send(probe(1, 1, -1) + "\n" + probe(2, 3, -1) + "\n" + probe(3, -1, 6));
  send(cmd(1, "connect : 3"));
  switched(board());
  calls();

  EXPECT_EQ(send(cmd(2, "connect : 3")), (std::vector<std::string>{stream(2, "transmitter", 8195), ok(2)}));
  EXPECT_EQ(switched(board()), (std::vector<std::string>{"drive 8198=213", "connect 8198<-8195"}));
  EXPECT_EQ(calls(), (std::vector<std::string>{"01:probe disconnect-tx", "03:probe connect-rx",
                                               "01:probe output-release"}));
  EXPECT_EQ(slot(3)->GetSource(), slot(2));
  EXPECT_TRUE(slot(1)->GetSinks().empty());

  // The new path fails: the old one is made again and the link stays.
  board().failRequest(HwMux::kConnect, EIO, true);
  EXPECT_EQ(send(cmd(1, "connect : 3")), std::vector<std::string>{err(1, "connectFail")});
  EXPECT_EQ(switched(board()), (std::vector<std::string>{"drive 8198=213", "connect 8198<-8193", "connect 8198<-8195"}));
  EXPECT_EQ(board().hal().channel(8198).source, 8195u);
  EXPECT_EQ(slot(3)->GetSource(), slot(2));
  EXPECT_EQ(calls().back(), "01:probe output-release");

  // Neither path can be made: the sink is left without source.
  board().failRequest(HwMux::kConnect, EIO, false);
  EXPECT_EQ(send(cmd(1, "connect : 3")), std::vector<std::string>{err(1, "connectFail")});
  board().clearFailures();
  EXPECT_EQ(slot(3)->GetSource(), nullptr);
  EXPECT_TRUE(slot(2)->GetSinks().empty());
  EXPECT_EQ(calls(), (std::vector<std::string>{"02:probe disconnect-tx", "03:probe connect-rx", "03:probe connect-rx",
                                               "03:probe input-release", "02:probe output-release",
                                               "01:probe output-release"}));
  // A later disconnect has nothing to break.
  switched(board());
  EXPECT_EQ(send(cmd(3, "disconnect : NULL")), std::vector<std::string>{ok(3)});
  EXPECT_TRUE(switched(board()).empty());
}

TEST_F(GraphTest, TheHigherPriorityMakesAndBreaksThePathInBothRoles) {
  ProbeFactory::instance().next.priority = 1;
  send(probe(1, 1, 2));
  ProbeFactory::instance().next.priority = 0;
  send(probe(2, 3, 4));
  calls();
  send(cmd(1, "connect : 2"));
  send(cmd(2, "disconnect : NULL"));
  send(cmd(2, "connect : 1"));
  send(cmd(1, "disconnect : NULL"));
  std::vector<std::string> hw;
  for (const std::string& c : calls())
    if (c.find("connect-") != std::string::npos) hw.push_back(c);
  EXPECT_EQ(hw, (std::vector<std::string>{"01:probe connect-tx", "01:probe disconnect-tx", "01:probe connect-rx",
                                          "01:probe disconnect-rx"}));
}

TEST_F(GraphTest, ASlotWithoutTheStreamIsRefusedAndTheSignalsSentStay) {
  send(probe(1, -1, 2) + "\n" + probe(2, 3, -1) + "\n" + probe(3, 5, 6));
  Capture cap;
  EXPECT_EQ(send(cmd(1, "connect : 3")), std::vector<std::string>{err(1, "connectFail")});
  EXPECT_EQ(cap.err(), "slot 01:probe don't have output stream to 03:probe\n");
  cap.clear();
  EXPECT_EQ(send(cmd(3, "connect : 2")),
            (std::vector<std::string>{stream(3, "transmitter", 8197), err(3, "connectFail")}));
  EXPECT_EQ(cap.err(), "slot 02:probe don't have input stream from 03:probe\n");
  EXPECT_TRUE(switched(board()).empty());
  EXPECT_TRUE(slot(3)->GetSinks().empty());
}

TEST_F(GraphTest, StreamsGoingOffTakeTheirLinksWithThem) {
  send(probe(1, 1, 2) + "\n" + probe(2, 3, 4) + "\n" + probe(3, 5, 6));
  send(cmd(1, "connect : 2") + "\n" + cmd(1, "connect : 3"), 2);
  switched(board());
  // Off twice: one signal.
  slot(1)->OnChangeOutputStream(false);
  slot(1)->OnChangeOutputStream(false);
  EXPECT_EQ(collect(0), std::vector<std::string>{stream(1, "transmitter", -1)});
  EXPECT_TRUE(slot(1)->GetSinks().empty());
  std::vector<std::string> sw = switched(board());
  std::sort(sw.begin(), sw.end());
  EXPECT_EQ(sw, (std::vector<std::string>{"drive 8196=213", "drive 8198=213"}));

  send(cmd(2, "connect : 3"));
  switched(board());
  slot(3)->OnChangeInputStream(false);
  EXPECT_EQ(collect(0), std::vector<std::string>{stream(3, "receiver", -1)});
  EXPECT_EQ(switched(board()), std::vector<std::string>{"drive 8198=213"});
  EXPECT_EQ(slot(3)->GetSource(), nullptr);
}

TEST_F(GraphTest, ASlotFedByItselfIsALoopThatDestroysCleanly) {
  send(probe(1, 1, 2));
  Capture cap;
  EXPECT_EQ(send(cmd(1, "connect : 1")),
            (std::vector<std::string>{stream(1, "transmitter", 8193), stream(1, "receiver", 8194), ok(1)}));
  EXPECT_EQ(switched(board()), std::vector<std::string>{"connect 8194<-8193"});
  EXPECT_EQ(slot(1)->GetSource(), slot(1));
  EXPECT_EQ(send(cmd(1, "destroy : NULL")), std::vector<std::string>{ok(1)});
  EXPECT_EQ(switched(board()), std::vector<std::string>{"drive 8194=213"});
  EXPECT_EQ(cap.err(), "");
}

TEST_F(GraphTest, EventSendersCarryTheSlotNumberInTheirAlternative) {
  send(probe(4, 1, 2));
  Slot& s = *slot(4);
  LGCP::TonecEvent tonec;
  tonec.set_timestamp(9);
  tonec.set_event().select_ced();
  s.OnTonecEvent(tonec);
  s.OnNumber("123");
  s.OnActivated();
  s.OnDeactivated();
  s.OnAbort(512);
  s.OnUserData({'\x01', '\x02'});
  LGCP::VADEvent vad;
  vad.set_vad_rx(true);
  s.OnVADEvent(vad);
  LGCP::SDEvent sd;
  sd.set_sd_rx(false);
  s.OnSDEvent(sd);
  LGCP::RtpEvent rtp;
  rtp.select_pd().set_value(3);
  s.OnRtpEvent(rtp);
  EXPECT_EQ(collect(0), (std::vector<std::string>{
                            "{ slot 4, pdu signal : tonec : { timestamp 9, event ced : NULL } }",
                            "{ slot 4, pdu signal : number : \"123\" }",
                            "{ slot 4, pdu signal : activated : NULL }",
                            "{ slot 4, pdu signal : deactivated : networkError }",
                            "{ slot 4, pdu signal : abort : 512 }",
                            "{ slot 4, pdu signal : userData : '01 02'H }",
                            "{ slot 4, pdu signal : vad : { vad-rx TRUE } }",
                            "{ slot 4, pdu signal : sd : { sd-rx FALSE } }",
                            "{ slot 4, pdu signal : rtp : pd : { value 3, timeout 0 } }",
                        }));
}

TEST_F(GraphTest, LogNames) {
  send(probe(7, 1, 2) + "\n" + probe(1023, 3, 4));
  std::ostringstream os;
  os << *slot(7) << ' ' << *slot(1023) << ' ';
  ProbeSlot unregistered(1, 2, ProbeSetup());
  os << unregistered << '|' << std::setw(3) << 5;
  EXPECT_EQ(os.str(), "07:probe 1023:probe na:probe|  5");
}

}  // namespace
