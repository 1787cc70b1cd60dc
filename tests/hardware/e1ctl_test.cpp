// The E1 trunk and CAS service as the controller sees it, against the
// stand-in "/dev/maintenance" and "/dev/e1-cas", with the status cycle on
// the test clock.
#include "HwTestUtil.h"
#include "ServiceLink.h"
#include "board/E1Cas.h"
#include "board/Maintenance.h"
#include "board/StandInFixture.h"
#include "hardware/E1Ctl.h"

using Board::E1Cas;
using Board::Maintenance;
using hwtest::having;
using hwtest::ServiceLink;
using V = std::vector<std::string>;

namespace {

class E1CtlTest : public testboard::StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    for (unsigned t = 0; t < Maintenance::kTrunks; ++t) maint().setStatus(t, {});
  }
  Maintenance& maint() { return *dynamic_cast<Maintenance*>(board().model("maintenance")); }
  E1Cas& cas() { return *dynamic_cast<E1Cas*>(board().model("cas")); }
  size_t statusReads() { return board().logEntries({Maintenance::kStatus}).size(); }

  Mux::TestClock clock{Mux::TestClock::Manual};
};

std::string status(int trunk, const char* state, int slips = 0, int bf = 0, int carrier = 0, int ais = 0,
                   int rai = 0) {
  return "{ pdu signal : trunkStatus : { trunk " + std::to_string(trunk) + ", state " + state + ", slips " +
         std::to_string(slips) + ", lossBF " + std::to_string(bf) + ", lossCarrier " + std::to_string(carrier) +
         ", lossAIS " + std::to_string(ais) + ", lossRAI " + std::to_string(rai) +
         ", name \"\", clockMaster FALSE, type e1 } }";
}

std::string casSignal(int trunk, int ts, int rx, int tx) {
  return "{ pdu signal : cas : { channel { path " + std::to_string(trunk) + ", timeslot " + std::to_string(ts) +
         " }, rx " + std::to_string(rx) + ", tx " + std::to_string(tx) + " } }";
}

std::string casCommand(int seq, int trunk, int ts, const std::string& cmd) {
  return "{ seq " + std::to_string(seq) + ", pdu command : ioctl : cas : { channel { path " +
         std::to_string(trunk) + ", timeslot " + std::to_string(ts) + " }, cmd " + cmd + " } }";
}

std::string success(int seq) { return "{ seq " + std::to_string(seq) + ", pdu response : success : NULL }"; }

}  // namespace

TEST_F(E1CtlTest, StatusOfEveryTrunkAtConnectionThenEverySecondForGood) {
  Maintenance::Status s;
  s.state = 3;
  s.slips = 2;
  s.lossAIS = 7;
  s.lossRAI = 1;
  maint().setStatus(2, s);
  // A state word the controller's enumeration does not know.
  s = {};
  s.state = 9;
  maint().setStatus(1, s);
  s = {};
  s.error = EIO;
  maint().setStatus(3, s);

  ctl_test::Capture cap;
  E1Ctl e1;
  ServiceLink link({&e1});
  ASSERT_TRUE(link.connect());
  EXPECT_EQ(link.messages(), (V{status(0, "normal"), status(1, "unknown"), status(2, "ais", 2, 0, 0, 7, 1)}));
  EXPECT_NE(cap.err().find("synchronization status read fail, trunk = 3 cause = Input/output error\n"),
            std::string::npos);

  s = {};
  s.state = 1;
  s.lossBF = 4;
  maint().setStatus(0, s);
  maint().setStatus(3, {});
  clock.advance(999);
  EXPECT_TRUE(link.messages().empty());
  clock.advance(1);
  EXPECT_EQ(link.messages(), (V{status(0, "lossBF", 0, 4), status(1, "unknown"), status(2, "ais", 2, 0, 0, 7, 1),
                                status(3, "normal")}));

  // The cycle goes on without a controller.
  link.disconnect();
  const size_t before = statusReads();
  clock.advance(1000);
  link.messages();
  EXPECT_EQ(statusReads(), before + 4);
}

TEST_F(E1CtlTest, TclkMaskFollowsTrunkCfgAndEveryConnectionClearsIt) {
  ctl_test::Capture cap;
  E1Ctl e1;
  ServiceLink link({&e1});
  ASSERT_TRUE(link.connect());
  link.messages();
  EXPECT_EQ(maint().tclk(), 0);
  EXPECT_EQ(cap.log().substr(cap.log().find('\n') + 1), "TCLT = 0x0\ncas interface opened!\n");

  cap.clear();
  EXPECT_EQ(link.command("{ seq 1, pdu command : trunkCfg : { trunk 2, mode slave } }"), V{success(1)});
  EXPECT_EQ(link.command("{ seq 2, pdu command : trunkCfg : { trunk 0, mode slave } }"), V{success(2)});
  EXPECT_EQ(link.command("{ seq 3, pdu command : trunkCfg : { trunk 2, mode master } }"), V{success(3)});
  EXPECT_EQ(cap.log(), "TCLT = 0x4\nTCLT = 0x5\nTCLT = 0x1\n");
  EXPECT_EQ(maint().tclk(), 1);

  // Trunks past bit 31 change no bit but the mask is set again; a negative
  // trunk changes nothing at all.
  const size_t settings = maint().tclkHistory().size();
  link.command("{ seq 4, pdu command : trunkCfg : { trunk 40, mode slave } }");
  EXPECT_EQ(maint().tclkHistory().size(), settings + 1);
  EXPECT_EQ(maint().tclk(), 1);
  link.command("{ seq 5, pdu command : trunkCfg : { trunk -1, mode slave } }");
  EXPECT_EQ(maint().tclkHistory().size(), settings + 1);

  cap.clear();
  board().failRequest(Maintenance::kSetTclk, EIO, true);
  EXPECT_EQ(link.command("{ seq 6, pdu command : trunkCfg : { trunk 3, mode slave } }"), V{success(6)});
  EXPECT_EQ(cap.err(), "fail to set TCLK [cause=Input/output error]\n");

  e1.select_source(2);
  EXPECT_EQ(maint().clockSource(), 2);

  link.disconnect();
  ASSERT_TRUE(link.connect());
  link.messages();
  EXPECT_EQ(maint().tclk(), 0);
}

TEST_F(E1CtlTest, CasOpenCloseGetFromSlotlessIoctls) {
  ctl_test::Capture cap;
  E1Ctl e1;
  ServiceLink link({&e1});
  ASSERT_TRUE(link.connect());
  link.messages();
  cap.clear();

  // open 5 on time-slot 3: the trunk opens first, then the bits read back.
  EXPECT_EQ(link.command(casCommand(1, 1, 3, "open : 5")),
            (V{casSignal(1, 0, 0, 0), casSignal(1, 3, 0, 5), success(1)}));
  EXPECT_EQ(cap.log(), "open cas signalling on trunk(1) - ok\n");
  EXPECT_TRUE(cas().slot(1, 3).enabled);
  // Only the low four bits are ABCD bits; set works as open.
  EXPECT_EQ(link.command(casCommand(2, 1, 4, "set : 26")),
            (V{casSignal(1, 0, 0, 0), casSignal(1, 4, 0, 10), success(2)}));
  // Time-slot 16 and 0 open the trunk only.
  EXPECT_EQ(link.command(casCommand(3, 1, 16, "open : 2")), (V{casSignal(1, 0, 0, 0), success(3)}));

  cas().setRx(1, 3, 6);
  link.messages();
  EXPECT_EQ(link.command(casCommand(4, 1, 3, "get : NULL")), (V{casSignal(1, 3, 6, 5), success(4)}));
  E1Ctl::cas_channel slot3;
  slot3.trunk = 1;
  slot3.timeslot = 3;
  e1.HandleCasSet(slot3, 0x1C);
  EXPECT_EQ(link.messages(), V{casSignal(1, 3, 6, 12)});
  LGCP::CasChannel named;
  E1Ctl::Assign(named, slot3);
  EXPECT_EQ(named.get_path().getValue(), 1);
  EXPECT_EQ(named.get_timeslot().getValue(), 3);

  EXPECT_EQ(link.command(casCommand(5, 1, 7, "close : NULL")), (V{casSignal(1, 7, -1, 1), success(5)}));
  EXPECT_EQ(link.command(casCommand(6, 1, 0, "close : NULL")), (V{casSignal(1, 0, 1, 0), success(6)}));
  EXPECT_FALSE(cas().isOpen(1));
  EXPECT_FALSE(e1.casOpen(1));
  // Closed: close and get send nothing; trunks past 3 are not there.
  EXPECT_EQ(link.command(casCommand(7, 1, 0, "close : NULL")), V{success(7)});
  EXPECT_EQ(link.command(casCommand(8, 1, 3, "get : NULL")), V{success(8)});
  EXPECT_EQ(link.command(casCommand(9, 4, 3, "open : 1")), V{success(9)});
  // Any other slot-less ioctl is answered and does nothing.
  EXPECT_EQ(link.command("{ seq 10, pdu command : ioctl : echoSuppressor : TRUE }"), V{success(10)});

  // Failures go to the controller as the request's return.
  cap.clear();
  board().failRequest(E1Cas::kOpen, EIO, true, "/dev/e1-cas");
  EXPECT_EQ(link.command(casCommand(11, 2, 5, "open : 3")), (V{casSignal(2, 0, -1, 0), success(11)}));
  EXPECT_EQ(cap.log(), "open cas signalling on trunk(2) - fail(-1)\n");
  EXPECT_FALSE(e1.casOpen(2));
  board().failRequest(E1Cas::kCtl, EBUSY, true, "/dev/e1-cas");
  EXPECT_EQ(link.command(casCommand(12, 2, 5, "open : 3")),
            (V{casSignal(2, 0, 0, 0), casSignal(2, 5, -1, 0), success(12)}));
  board().failRequest(E1Cas::kClose, EIO, true, "/dev/e1-cas");
  EXPECT_EQ(link.command(casCommand(13, 2, 0, "close : NULL")), (V{casSignal(2, 0, -1, 0), success(13)}));
  EXPECT_TRUE(e1.casOpen(2));
  link.command(casCommand(14, 2, 0, "close : NULL"));
  EXPECT_FALSE(cas().isOpen(2));
}

TEST_F(E1CtlTest, ReceivedBitsArriveAsCasSignalsAndAFailedDeviceIsOpenedAgain) {
  ctl_test::Capture cap;
  E1Ctl e1;
  ServiceLink link({&e1});
  ASSERT_TRUE(link.connect());
  link.messages();
  link.command(casCommand(1, 0, 3, "open : 5"));

  ASSERT_EQ(cas().setRx(0, 3, 9), 1);
  // {pdu signal : cas : {channel {path 0, timeslot 3}, rx 9, tx 5}}:
  // no seq, no slot (00), signal 2 of 3 (10), no extension (0), cas 14 of
  // 23 in five bits (01110), padded: 23 80. Then each unconstrained
  // INTEGER as a length octet and its value: 01 00, 01 03, 01 09, 01 05.
  EXPECT_EQ(ctl_test::hex(link.rawBytes()), "03 00 00 0E 23 80 01 00 01 03 01 09 01 05");

  // The driver fails the device: the service lets it go rather than spin
  // on it, and the next cycle opens it again.
  cap.clear();
  cas().sever();
  link.messages();
  EXPECT_NE(cap.err().find("cas interface read fail: "), std::string::npos) << cap.err();
  clock.advance(1000);
  link.messages();
  EXPECT_NE(cap.log().find("cas interface opened!\n"), std::string::npos);
  cas().setRx(0, 3, 2);
  EXPECT_EQ(having(link.messages(), "cas"), V{casSignal(0, 3, 2, 5)});
  link.command(casCommand(2, 0, 0, "close : NULL"));
}
