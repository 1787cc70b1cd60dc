// The signalling slots in this process under the slot service, with a
// loopback controller and the stand-in board: what they ask of the board,
// what they put on the line (captured frames, worked out by hand), and
// what the controller hears.
#include <algorithm>

#include "board/DspData.h"
#include "board/Hal.h"
#include "board/Mcc.h"
#include "board/Record.h"
#include "protocol/ACP/ACP.h"
#include "signalling/HdlcSlot.h"
#include "signalling/IsdnSlot.h"
#include "signalling/PstnSlot.h"
#include "signalling/SLC.h"
#include "slots/SlotsTestUtil.h"

using namespace slots_test;

namespace {

class SignallingSlots : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    PstnFactory::instance();
    IsdnFactory::instance();
    HdlcSlotFactory::instance();
  }
  // Time moves only when a test moves it: the links' timers stay put.
  void SetUp() override {
    SlotsTest::SetUp();
    clock_.reset();
    clock_.reset(new Mux::TestClock(Mux::TestClock::Manual));
  }
  // The newest controller channel and what the daemon sent on it, as
  // upper-case hexadecimal.
  uint32_t lastChannel() {
    auto all = board().mcc().allocations();
    return all.empty() ? 0 : std::max_element(all.begin(), all.end(), [](const auto& a, const auto& b) {
                               return a.session < b.session;
                             })->channel;
  }
  std::vector<std::string> sent(uint32_t ch) {
    std::vector<std::string> out;
    for (const std::string& f : board().mcc().captured(ch, true)) out.push_back(Board::hexText(f));
    return out;
  }
  void inject(uint32_t ch, const std::string& hex) {
    std::string bytes;
    ASSERT_TRUE(Board::parseHex(hex, bytes));
    ASSERT_TRUE(board().mcc().inject(ch, bytes));
  }
  static LGCP::Signal trunkStatus(int trunk, ACP::TrunkState::NamedNumber state,
                                  ACP::TrunkType::NamedNumber type = ACP::TrunkType::e1) {
    LGCP::Signal s;
    ACP::TrunkStatus& t = s.select_trunkStatus();
    t.set_trunk(trunk);
    t.set_state(state);
    t.set_type(type);
    return s;
  }
};

TEST_F(SignallingSlots, Ss7SlotOnATrunkTimeSlot) {
  send(trunk(1, 1, 16));  // switch channel 48
  send("{ seq 2, slot 10, pdu command : create : pstn : ss7 : { trunk 2, slc 3, dpc 7, opc 9, emergency FALSE } }");
  EXPECT_EQ(having(send(cmd(1, "connect : 10", 3)), "pdu response"), std::vector<std::string>{ok(1, 3)});
  const uint32_t ch = lastChannel();
  // An SS7 channel, switched both ways to trunk 1 time-slot 16.
  auto alloc = board().mcc().allocations();
  EXPECT_EQ(alloc.back().params.type, Board::Mcc::Ss7);
  EXPECT_EQ(board().hal().channel(48).source, ch);
  EXPECT_EQ(board().hal().channel(ch).source, 48u);
  auto* pstn = dynamic_cast<PstnSlot*>(slot(10));
  ASSERT_NE(pstn, nullptr);
  EXPECT_EQ(pstn->slc()->get_state_id(), SS7::SLC::NotAligned);
  EXPECT_EQ(sent(ch), std::vector<std::string>{"FFFF0100"});  // SIO
  // The report, 3000 ms after creation: the channel's counters (the SIO
  // written), then the link's.
  clock_->advance(3000);
  EXPECT_EQ(having(collect(0), "slot 10"),
            (std::vector<std::string>{"{ slot 10, pdu signal : ioctl : hdlcLinkInfo : { txSU 1, txDiscard 0, "
                                      "txError 0, txOverflow 0, rxSU 0 } }",
                                      "{ slot 10, pdu signal : ioctl : ss7LinkInfo : { msuTxCount 0, msuRxCount 0, "
                                      "octetsTx 0, octetsRx 0, speedRx 0, speedTx 0, overflowCntr 0, rtbSize 0, "
                                      "repeatCntr 0, badSeqCntr 0, ss7state not-aligned } }"}));

  // The BSN it sends, before the answer; the log switches all at once.
  EXPECT_EQ(send(cmd(10, "ioctl : ss7RqBSN : NULL", 4)),
            (std::vector<std::string>{"{ slot 10, pdu signal : ioctl : ss7BSN : 127 }", ok(10, 4)}));
  send(cmd(10, "ioctl : ss7Log : { state TRUE, raw-receive TRUE, raw-transmit TRUE, mtp-transmit TRUE, "
               "mtp-receive TRUE, mtp-activate TRUE, timers TRUE, msu-processing TRUE }", 5));
  const SS7::SLC::Trace& t = pstn->slc()->trace();
  EXPECT_TRUE(t.state && t.rawReceive && t.rawTransmit && t.mtpTransmit && t.mtpReceive && t.mtpActivate &&
              t.timers && t.msuProcessing);

  // Trunk statuses: another trunk, the BRI framer of the same number, then
  // this one's first change, then the same state again.
  PstnFactory::instance().SelfSignal(trunkStatus(2, ACP::TrunkState::lossCarrier));
  EXPECT_EQ(pstn->slc()->get_state_id(), SS7::SLC::NotAligned);
  PstnFactory::instance().SelfSignal(trunkStatus(1, ACP::TrunkState::lossCarrier, ACP::TrunkType::bri));
  EXPECT_EQ(pstn->slc()->get_state_id(), SS7::SLC::NotAligned);
  PstnFactory::instance().SelfSignal(trunkStatus(1, ACP::TrunkState::lossCarrier));
  EXPECT_EQ(pstn->slc()->get_state_id(), SS7::SLC::Idle);
  EXPECT_EQ(sent(ch), std::vector<std::string>{"FFFF0103"});  // SIOS
  std::vector<std::string> got = having(collect(0), "slot 10");
  ASSERT_GE(got.size(), 2u);
  EXPECT_NE(got[got.size() - 2].find("ss7state idle"), std::string::npos) << got[got.size() - 2];
  EXPECT_EQ(got.back(), "{ slot 10, pdu signal : deactivated : networkError }");
  send(cmd(10, "activate : empty : NULL", 6));
  EXPECT_EQ(sent(lastChannel()), std::vector<std::string>{"FFFF0100"});
  PstnFactory::instance().SelfSignal(trunkStatus(1, ACP::TrunkState::lossCarrier));
  EXPECT_EQ(pstn->slc()->get_state_id(), SS7::SLC::NotAligned);
  leave();
}

TEST_F(SignallingSlots, PstnSlotRefusesWhatItCannotServe) {
  send(probe(1, 5, 5));  // no trunk
  send("{ seq 2, slot 10, pdu command : create : pstn : ss7 : { trunk 1, slc 0, dpc 0, opc 0, emergency TRUE } }");
  send("{ seq 3, slot 11, pdu command : create : pstn : isdn : { type pri, trunk 1, log 0, side user : NULL } }");
  EXPECT_EQ(having(send(cmd(1, "connect : 10", 4)), "pdu response"),
            std::vector<std::string>{err(1, "connectFail", 4)});
  // Not connected: an activate waits for the connection.
  EXPECT_EQ(send(cmd(10, "activate : empty : NULL", 5)), std::vector<std::string>{ok(10, 5)});
  EXPECT_TRUE(board().mcc().allocations().empty());
  EXPECT_EQ(send(cmd(11, "ioctl : ss7RqBSN : NULL", 6)), std::vector<std::string>{err(11, "unsupported", 6)});
  EXPECT_EQ(send(cmd(11, "ioctl : ss7Log : { state TRUE, raw-receive TRUE, raw-transmit TRUE, mtp-transmit TRUE, "
                         "mtp-receive TRUE, mtp-activate TRUE, timers TRUE, msu-processing TRUE }",
                     7)),
            std::vector<std::string>{err(11, "unsupported", 7)});
  send("{ seq 8, slot 12, pdu command : create : pstn : cas : { trunk 1 } }");
  EXPECT_EQ(send(cmd(12, "userData : '0102'H", 9)), std::vector<std::string>{ok(12, 9)});
  leave();
}

// A link takes no time-slot that no connection of its own gives it: the
// time-slot may carry a later connection by then, which must stand. A
// link whose connection went waits for a new one, as a link never
// connected does.
TEST_F(SignallingSlots, ALinkActivatedAfterItsConnectionWentWaitsForANewOne) {
  const auto listening = [&](uint32_t ch) {
    const Board::Hal::Channel c = board().hal().channel(ch);
    return c.kind == Board::Hal::Channel::Listening ? int(c.source) : -1;
  };
  // E1: the trunk-to-link connection wires the time-slot (16) both ways,
  // and an activate keeps it so; trunk slot 2, connected to feed it, keeps
  // it through an activate; the link-to-trunk connection, taken down and
  // made again, stops and restores the link's path. Then the trunk-to-link
  // connection goes.
  for (const std::string kind : {"ss7 : { trunk 1, slc 1, dpc 1, opc 2, emergency TRUE }",
                                 "isdn : { type pri, trunk 1, log 0, side user : NULL }"}) {
    SCOPED_TRACE(kind);
    send(trunk(1, 0, 16));
    send(trunk(2, 0, 17));
    send(cmd(10, "create : pstn : " + kind));
    send(cmd(1, "connect : 10", 2));
    EXPECT_EQ(listening(lastChannel()), 16);
    EXPECT_EQ(listening(16), int(lastChannel()));
    EXPECT_EQ(having(send(cmd(10, "activate : empty : NULL", 2)), "pdu response"), std::vector<std::string>{ok(10, 2)});
    const uint32_t first = lastChannel();
    EXPECT_EQ(listening(first), 16);
    EXPECT_EQ(listening(16), int(first));
    send(cmd(10, "connect : 1", 2));
    EXPECT_EQ(listening(16), int(first));
    send(cmd(1, "disconnect : NULL", 2));
    EXPECT_EQ(listening(16), -1);
    send(cmd(10, "connect : 1", 2));
    EXPECT_EQ(listening(16), int(first));
    send(cmd(1, "disconnect : NULL", 2));
    send(cmd(2, "connect : 1", 2));
    ASSERT_EQ(listening(16), 17);
    EXPECT_EQ(having(send(cmd(10, "activate : empty : NULL", 2)), "pdu response"), std::vector<std::string>{ok(10, 2)});
    EXPECT_EQ(listening(lastChannel()), 16);
    EXPECT_EQ(listening(16), 17);
    send(cmd(10, "connect : 1", 2));
    EXPECT_EQ(listening(16), int(lastChannel()));
    send(cmd(2, "connect : 1", 2));
    EXPECT_EQ(having(send(cmd(10, "activate : empty : NULL", 2)), "pdu response"), std::vector<std::string>{ok(10, 2)});
    EXPECT_EQ(listening(16), 17);

    EXPECT_EQ(having(send(cmd(10, "disconnect : NULL", 3)), "pdu response"), std::vector<std::string>{ok(10, 3)});
    ASSERT_EQ(listening(16), 17);
    EXPECT_EQ(having(send(cmd(10, "activate : empty : NULL", 5)), "pdu response"), std::vector<std::string>{ok(10, 5)});
    EXPECT_FALSE(static_cast<PstnSlot*>(slot(10))->hdlc().is_open());
    EXPECT_EQ(listening(16), 17);
    send(cmd(10, "destroy : NULL", 6));
    EXPECT_EQ(listening(16), 17);
    for (unsigned n : {1, 2}) send(cmd(n, "destroy : NULL", 7));
  }

  // A raw HDLC pipe: either connection alone wires the time-slot both
  // ways, unless trunk slot 2 feeds it. Once the connection went, an
  // activate takes nothing; the pipe-to-trunk connection gone, the
  // trunk-to-pipe one left, an activate takes what it hears only. A
  // connection made again starts the channel again.
  const struct {
    const char* name;
    std::vector<std::string> connect;
    std::string drop;  // empty: 2 -> 1 replaces 10 -> 1
  } pipes[] = {{"trunk to pipe", {cmd(1, "connect : 10", 2)}, cmd(10, "disconnect : NULL", 2)},
               {"pipe to trunk", {cmd(10, "connect : 1", 2)}, cmd(1, "disconnect : NULL", 2)},
               {"both ways", {cmd(1, "connect : 10", 2), cmd(10, "connect : 1", 2)}, ""}};
  for (const auto& way : pipes) {
    SCOPED_TRACE(way.name);
    const bool trunkToPipeOnly = way.connect.size() == 1 && way.connect[0] == cmd(1, "connect : 10", 2);
    send(trunk(1, 0, 16));
    send(trunk(2, 0, 17));
    send(cmd(10, "create : hdlcParams : { trunk 1, log 0, address 1 }"));
    auto* pipe = static_cast<HdlcSlot*>(slot(10));
    for (const std::string& c : way.connect) send(c);
    EXPECT_EQ(listening(16), int(lastChannel()));
    if (!way.drop.empty()) send(way.drop);
    send(cmd(2, "connect : 1", 2));
    ASSERT_EQ(listening(16), 17);
    EXPECT_EQ(having(send(cmd(10, "activate : empty : NULL", 2)), "pdu response"), std::vector<std::string>{ok(10, 2)});
    EXPECT_EQ(pipe->hdlc().is_open(), way.drop.empty());
    if (way.drop.empty()) {
      EXPECT_EQ(listening(lastChannel()), 16);
    }
    EXPECT_EQ(listening(16), 17);
    for (const std::string& c : way.connect)
      EXPECT_EQ(having(send(c), "pdu response"), std::vector<std::string>{ok(c == cmd(1, "connect : 10", 2) ? 1 : 10, 2)});
    EXPECT_TRUE(pipe->hdlc().is_open());
    EXPECT_EQ(listening(lastChannel()), 16);
    EXPECT_EQ(listening(16), trunkToPipeOnly ? 17 : int(lastChannel()));
    for (unsigned n : {10, 1, 2}) send(cmd(n, "destroy : NULL", 7));
  }

  // BRI: the link-to-trunk connection goes, and trunk slot 2 then feeds
  // channel 0; making the connection again starts the link once more.
  send(cmd(1, "create : trunk_bri : { trunk 0, timeslot 0 }"));
  send(cmd(2, "create : trunk_bri : { trunk 0, timeslot 1 }"));
  send(cmd(10, "create : pstn : isdn : { type bri, trunk 1, log 0, side user : NULL }"));
  send(cmd(1, "connect : 10", 2));
  send(cmd(10, "connect : 1", 3));
  EXPECT_EQ(listening(0), int(lastChannel()));
  send(cmd(1, "disconnect : NULL", 4));
  send(cmd(2, "connect : 1", 5));
  ASSERT_EQ(listening(0), 1);
  EXPECT_EQ(having(send(cmd(10, "activate : empty : NULL", 6)), "pdu response"), std::vector<std::string>{ok(10, 6)});
  auto* bri = static_cast<PstnSlot*>(slot(10));
  EXPECT_FALSE(bri->hdlc().is_open());
  EXPECT_EQ(listening(0), 1);
  EXPECT_EQ(having(send(cmd(10, "connect : 1", 7)), "pdu response"), std::vector<std::string>{ok(10, 7)});
  EXPECT_TRUE(bri->hdlc().is_open());
  EXPECT_EQ(listening(0), int(lastChannel()));
  EXPECT_EQ(listening(lastChannel()), 0);
  leave();
}

TEST_F(SignallingSlots, BriNetworkSideIsWiredToItsChannelBothWays) {
  send(probe(1, 5, 6));
  send("{ seq 2, slot 10, pdu command : create : pstn : isdn : { type bri, trunk 1, log 0, side network : NULL } }");
  send(cmd(1, "connect : 10", 3));
  EXPECT_TRUE(board().mcc().allocations().empty());  // one direction only
  send(cmd(10, "connect : 1", 4));
  const uint32_t ch = lastChannel();
  EXPECT_EQ(board().mcc().allocations().back().params.type, Board::Mcc::Bri);
  // Started: the network checks every TEI (type 4, Ri 0, Ai 127).
  EXPECT_EQ(sent(ch), std::vector<std::string>{"FEFF030F000004FF"});
  // A terminal asks for a TEI (Ri 0x1234): assigned TEI 64, then SABME.
  inject(ch, "FCFF030F123401FF");
  collect(0);
  EXPECT_EQ(sent(ch), (std::vector<std::string>{"FEFF030F12340281", "02817F"}));
  leave();
}

TEST_F(SignallingSlots, HdlcSlotNumbersItsFramesAndHoldsRuns) {
  send(trunk(1, 0, 5));
  send("{ seq 2, slot 10, pdu command : create : hdlcParams : { trunk 1, log 0, address 258 } }");
  send(cmd(1, "connect : 10", 3));
  const uint32_t ch = lastChannel();
  EXPECT_EQ(board().mcc().allocations().back().params.type, Board::Mcc::Data);
  EXPECT_EQ(board().hal().channel(5).source, ch);
  send(cmd(10, "ioctl : hdlcPackages : { { body 'AA'H }, { body 'BB'H } }", 4));
  EXPECT_EQ(sent(ch), (std::vector<std::string>{"010200AA", "010220BB"}));

  // Frame 5 from the peer; a second body octet without bit 7: at once.
  inject(ch, "0102A01122");
  EXPECT_EQ(having(collect(0), "hdlcPackages"),
            std::vector<std::string>{"{ slot 10, pdu signal : ioctl : hdlcPackages : { { body '11 22'H } } }"});
  send(cmd(10, "ioctl : hdlcPackages : { { body 'CC'H } }", 5));
  EXPECT_EQ(sent(ch), std::vector<std::string>{"010245CC"});  // number 2, echoing 5

  // A run: held while bit 7 is set; a frame for another address ends it
  // (and is not kept); a body too short to say ends a run too.
  inject(ch, "0102000180");
  inject(ch, "0999000200");
  inject(ch, "0102000381");
  inject(ch, "01020004");
  EXPECT_EQ(having(collect(0), "hdlcPackages"),
            (std::vector<std::string>{"{ slot 10, pdu signal : ioctl : hdlcPackages : { { body '01 80'H } } }",
                                      "{ slot 10, pdu signal : ioctl : hdlcPackages : { { body '03 81'H }, "
                                      "{ body '04'H } } }"}));
  // The ninth frame is numbered 0 again.
  std::string input;
  for (int i = 0; i < 5; ++i) input += "{ body 'DD'H }, ";
  send(cmd(10, "ioctl : hdlcPackages : { " + input + "{ body 'EE'H } }", 6));
  EXPECT_EQ(sent(ch).back(), "010200EE");
  leave();
}

TEST_F(SignallingSlots, IsdnSlotOnAControllerChannelOfItsOwn) {
  send("{ seq 1, slot 20, pdu command : create : isdn : { type pri, trunk 3, log 0, side user : NULL } }");
  auto alloc = board().mcc().allocations();
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].params.type, Board::Mcc::Data);
  EXPECT_EQ(alloc[0].params.rxPacketSize, 512u);
  EXPECT_EQ(alloc[0].params.rxThreshold, 1u);
  EXPECT_EQ(alloc[0].params.txThreshold, 1u);
  EXPECT_EQ(slot(20)->GetTransmitChannel(), int(alloc[0].channel));
  EXPECT_EQ(send(cmd(20, "ioctl : ss7RqBSN : NULL", 2)), std::vector<std::string>{err(20, "unsupported", 2)});
  send(cmd(20, "activate : empty : NULL", 3));
  EXPECT_EQ(sent(alloc[0].channel), std::vector<std::string>{"00017F"});  // SABME P=1, TEI 0

  // The driver goes away: the slot stops watching a descriptor that would
  // stay readable for ever.
  auto* isdn = dynamic_cast<IsdnSlot*>(slot(20));
  ASSERT_NE(isdn, nullptr);
  ASSERT_TRUE(board().mcc().sever(alloc[0].channel));
  collect(0);
  EXPECT_FALSE(isdn->is_open());
  leave();
}

TEST_F(SignallingSlots, QsigSlotWithBChannels) {
  send("{ seq 1, slot 20, pdu command : create : ats-qsig : { side user : NULL } }");
  auto links = board().model("dspdata") ? static_cast<Board::DspData*>(board().model("dspdata"))->links()
                                         : std::vector<Board::DspData::Link>();
  ASSERT_EQ(links.size(), 1u);
  const uint32_t d = links[0].channel;
  EXPECT_EQ(send("{ seq 2, slot 21, pdu command : create : ats-qsig-b : { slot 20, subslot 2 } }").front(), ok(21, 2));
  EXPECT_EQ(slot(21)->GetTransmitChannel(), int(d + 2));
  EXPECT_EQ(send("{ seq 3, slot 22, pdu command : create : ats-qsig-b : { slot 21, subslot 1 } }"),
            std::vector<std::string>{err(22, "insufficientResources", 3)});
  EXPECT_EQ(send(cmd(20, "ioctl : ss7RqBSN : NULL", 4)), std::vector<std::string>{err(20, "unsupported", 4)});

  // The link starts on activate; layer 3 goes in I frames.
  auto* dsp = static_cast<Board::DspData*>(board().model("dspdata"));
  send(cmd(20, "activate : empty : NULL", 5));
  std::vector<std::string> frames;
  for (const std::string& f : dsp->captured(d, true)) frames.push_back(Board::hexText(f));
  EXPECT_EQ(frames, std::vector<std::string>{"00017F"});  // SABME P=1
  std::string ua;
  Board::parseHex("000173", ua);
  dsp->inject(d, ua);
  EXPECT_EQ(having(collect(0), "slot 20, pdu signal : activated").size(), 1u);

  send(cmd(20, "destroy : NULL", 6));
  send(cmd(21, "destroy : NULL", 7));
  EXPECT_EQ(dsp->journal(), std::vector<std::string>{"add " + std::to_string(d) + " 1"});
  leave();
}

}  // namespace
