// The data holder's files under "/var/monitoring/": names, contents and
// modes, what a restart keeps, the controller directories with their
// "self" link, SET commands whose names try to leave the tree, and the two
// parsers (framer status text, interface samples).
#include "monitoring/DataHolder.h"
#include "control/ControlTestUtil.h"
#include "MonTestUtil.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace mon_test;

namespace {

LGCP::DisplayParams display(const std::string& text) { return avn<LGCP::DisplayParams>(text); }

mode_t modeOf(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

}  // namespace

TEST(MonitoringFiles, EachValueHasItsFileAndContent) {
  RootDir root;
  ctl_test::Capture cap;
  MonitoringDataHolder h;
  // Readable by the board's other programs.
  EXPECT_EQ(modeOf(root.mon("")), 0755u);
  EXPECT_EQ(modeOf(root.mon("term_cnts")), 0755u);

  EXPECT_TRUE(h.setDipValue(5));
  EXPECT_FALSE(h.setDipValue(5));
  EXPECT_EQ(slurp(root.mon("dip")), "5");
  for (auto p : {std::make_pair(LGCP::POWERStatus::main, "2"), std::make_pair(LGCP::POWERStatus::standby, "1"),
                 std::make_pair(LGCP::POWERStatus::both, "3"), std::make_pair(LGCP::POWERStatus::unknown, "0")}) {
    EXPECT_TRUE(h.setPowerStatus(LGCP::POWERStatus(p.first)));
    EXPECT_EQ(slurp(root.mon("powerstatus")), p.second);
  }
  EXPECT_TRUE(h.setConfigVersion(0xAB, 0x1234));
  EXPECT_FALSE(h.setConfigVersion(0xAB, 0x1234));
  EXPECT_TRUE(h.setConfigVersion(0xAB, 0xFEDCBA9876543210ull));
  EXPECT_EQ(slurp(root.mon("config_version")), "000000ab-fedcba9876543210");

  h.setDisplayStatus(display("board : boardStatus : { position 3, version '76312E32'H, status waitBoard, type ffe }"));
  EXPECT_EQ(slurp(root.mon("board3")), "2\nv1.2\n3\n");
  h.setDisplayStatus(display("board : boardStatus : { position 3, version '7632'H, status ready, type isdn }"));
  EXPECT_EQ(slurp(root.mon("board3")), "3\nv2\n1\n");
  ASSERT_EQ(h.GetBoardStatus().size(), 1u);
  EXPECT_EQ(h.GetBoardStatus().front().get_status().asInt(), 3);

  h.setDisplayStatus(display(
      "emPhone : phoneStatus : { id 0, panelSV '41'H, ctrlSV '42'H, fpgaSV '43'H, status ready, "
      "powerStatus both, mode sleep, hookStatus connected, baseStatus disconnected }"));
  EXPECT_EQ(slurp(root.mon("emphone0")), "A\nB\nC\n2\n3\n2\n1\n2\n");

  h.setDisplayStatus(display("termCounter : { owner router, cnt 12 }"));
  h.setDisplayStatus(display("termCounter : { owner extBoard, ownerId 5, cnt 7 }"));
  h.setDisplayStatus(display("termCounter : { owner extBoard, cnt 9 }"));
  h.setDisplayStatus(display("termCounter : { owner router, cnt 13 }"));
  EXPECT_EQ(slurp(root.mon("term_cnts/router")), "13");
  EXPECT_EQ(slurp(root.mon("term_cnts/board5")), "7");
  EXPECT_EQ(h.GetTermCounters().size(), 3u) << "the router's count was replaced, the id-less one kept";

  h.setDisplayStatus(display("snmpTrapReceivers : { \"10.1.1.1\", \"10.1.1.2\" }"));
  h.setDisplayStatus(display("snmpTrapReceivers : { \"10.1.1.3\" }"));
  EXPECT_EQ(h.GetTrapHosts(), std::list<std::string>{"10.1.1.3"});
  EXPECT_EQ(cap.log(), "") << "no line while the files can be written";
}

TEST(MonitoringFiles, ControllerDirectoriesAndTheSelfLink) {
  RootDir root;
  ctl_test::Capture cap;
  MonitoringDataHolder h;
  const std::string self = h.getSelfHostAddress().GetStrAddr();
  auto report = [&](const std::string& addr, const std::string& status) {
    return display("controller : { host { iaddr \"" + addr + "\", port 20001 }, status " + status + " }")
        .get_controller();
  };
  EXPECT_TRUE(h.setControllerStatus(report(self, "active")));
  EXPECT_EQ(slurp(root.mon("controller/" + self + "/status")), "2");
  char target[512] = {};
  ASSERT_GT(::readlink(root.mon("controller/self").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), root.mon("controller/" + self));
  EXPECT_EQ(modeOf(root.mon("controller/" + self)), 0755u);
  EXPECT_FALSE(h.setControllerStatus(report(self, "active")));
  EXPECT_TRUE(h.setControllerStatus(report(self, "standby")));
  EXPECT_EQ(h.getSelfControllerStatus().asInt(), 3);

  // Another controller: its file, no change of our own status.
  EXPECT_FALSE(h.setControllerStatus(report("192.0.2.7", "ok")));
  EXPECT_EQ(slurp(root.mon("controller/192.0.2.7/status")), "1");
  EXPECT_EQ(h.getSelfControllerStatus().asInt(), 3);
  EXPECT_EQ(cap.log(), "");
}

TEST(MonitoringFiles, SetCommandsWriteInsideTheTreeOnly) {
  RootDir root;
  ctl_test::Capture cap;
  MonitoringDataHolder h;
  h.setDisplayStatus(display(
      "snmp-set : { commands { "
      "{ uniq 1, id name : { section \"net\", name \"mask\", index 2 }, value \"255.0.0.0\" }, "
      "{ uniq 2, id oid : \"1.3.6.1.4.1.1.1\", value \"x\" } } }"));
  EXPECT_EQ(slurp(root.mon("net/2/mask")), "255.0.0.0");
  EXPECT_EQ(modeOf(root.mon("net")), 0755u);
  EXPECT_EQ(modeOf(root.mon("net/2")), 0755u);

  // Names that would climb out of the tree, or stay at a directory: no
  // file, no directory, one line each; the commands are still kept.
  h.setDisplayStatus(display(
      "snmp-set : { commands { "
      "{ uniq 3, id name : { section \"..\", name \"escaped\", index 0 }, value \"a\" }, "
      "{ uniq 4, id name : { section \"net\", name \"../../../escaped\", index 0 }, value \"b\" }, "
      "{ uniq 5, id name : { section \"\", name \"n\", index 0 }, value \"c\" }, "
      "{ uniq 6, id name : { section \"a/b\", name \"n\", index 0 }, value \"d\" }, "
      "{ uniq 7, id name : { section \"net\", name \".\", index 1 }, value \"e\" }, "
      "{ uniq 8, id name : { section \"net\", name \"mask\", index 2 }, value \"255.255.0.0\" }, "
      "{ uniq 9, id oid : \"1.3.6.1.4.1.1.1\", value \"y\" } } }"));
  EXPECT_FALSE(exists(root.path("/var/escaped")));
  EXPECT_FALSE(exists(root.path("/var/monitoring/0")));
  EXPECT_FALSE(exists(root.path("/escaped")));
  EXPECT_FALSE(exists(root.mon("a")));
  EXPECT_FALSE(exists(root.mon("net/1")));
  EXPECT_EQ(slurp(root.mon("net/2/mask")), "255.255.0.0");
  std::istringstream lines(cap.log());
  std::string line;
  int refused = 0;
  while (std::getline(lines, line)) {
    EXPECT_NE(line.find("names no file inside the monitoring catalog: nothing written"), std::string::npos) << line;
    ++refused;
  }
  EXPECT_EQ(refused, 5);
  // The oid and the repeated name replaced their values: 2 + 5 new.
  const auto& stored = h.GetSnmpCommands().get_commands();
  ASSERT_EQ(stored.size(), 7u);
  EXPECT_EQ(static_cast<const std::string&>(stored[0].get_value()), "255.255.0.0");
  EXPECT_EQ(static_cast<const std::string&>(stored[1].get_value()), "y");
}

TEST(MonitoringFiles, ARestartKeepsCountersAndControllersAndRemovesTheRest) {
  RootDir root;
  ctl_test::Capture cap;
  {
    MonitoringDataHolder h;
    h.setDipValue(1);
    h.setPowerStatus(LGCP::POWERStatus(LGCP::POWERStatus::main));
    h.setConfigVersion(1, 1);
    h.setDisplayStatus(display("board : boardStatus : { position 0, version ''H, status ready, type e0 }"));
    h.setDisplayStatus(display("emPhone : phoneStatus : { id 1, panelSV ''H, ctrlSV ''H, fpgaSV ''H, status ready, "
                               "powerStatus both, mode sleep, hookStatus connected, baseStatus disconnected }"));
    h.setDisplayStatus(display("termCounter : { owner server, cnt 4 }"));
    h.setDisplayStatus(display("controller : { host { iaddr \"192.0.2.9\", port 1 }, status ok }"));
    // The controller going away forgets the boards only.
    h.ClearControllerFiles();
    EXPECT_FALSE(exists(root.mon("board0")));
    EXPECT_TRUE(h.GetBoardStatus().empty());
    EXPECT_TRUE(exists(root.mon("emphone1")));
  }
  MonitoringDataHolder again;
  for (const char* gone : {"dip", "powerstatus", "config_version", "emphone1"}) EXPECT_FALSE(exists(root.mon(gone))) << gone;
  EXPECT_EQ(slurp(root.mon("term_cnts/server")), "4");
  EXPECT_EQ(slurp(root.mon("controller/192.0.2.9/status")), "1");
}

TEST(MonitoringFiles, AFileThatCannotBeWrittenIsLoggedAndTheValueKept) {
  RootDir root;
  ctl_test::Capture cap;
  MonitoringDataHolder h;
  std::filesystem::create_directories(root.mon("dip"));  // a directory in the file's place
  EXPECT_TRUE(h.setDipValue(9));
  EXPECT_EQ(h.getDipValue(), 9);
  EXPECT_EQ(cap.log(), "FAIL create temporary file <" + root.mon("dip") + "> with code=21\n");
}

TEST(FramerStatus, LabelsAnywhereInALineAndTheirRules) {
  FramerDataHolder f(2, "/x");
  std::string text =
      "peb22554 framer 1\n"
      "  Current state           : No Carrier\n"
      "Loss of Signal          : yes\n"
      "Loss of Frame Alignment : no\n"
      "Receive Slip Negative   : 12 slips\n"
      "Receive Slip Positive   : many\n";
  std::vector<unsigned char> b(text.begin(), text.end());
  EXPECT_TRUE(f.setFramerStatus(b));
  EXPECT_FALSE(f.connected());
  EXPECT_EQ(f.state(), "No Carrier");
  EXPECT_TRUE(f.lossOfSignal());
  EXPECT_FALSE(f.lossOfFrameAlignment());
  EXPECT_EQ(f.negativeSlips(), 12);
  EXPECT_EQ(f.positiveSlips(), 0);
  EXPECT_FALSE(f.setFramerStatus(b)) << "the same text again";

  // Text after a NUL is not read.
  text = std::string("Current state           : Multiframe\n") + '\0' + "Receive Slip Positive   : 3\n";
  b.assign(text.begin(), text.end());
  EXPECT_TRUE(f.setFramerStatus(b));
  EXPECT_TRUE(f.connected());
  EXPECT_EQ(f.positiveSlips(), 0);
}

TEST(NetIfStatus, TwoRunningSamplesOfTheLastThreeMakeItUp) {
  NetIfDataHolder n(2, "eth0");
  EXPECT_EQ(n.state(), -1);
  // running, running, stopped, stopped, running
  EXPECT_TRUE(n.addSample(1));
  EXPECT_EQ(n.state(), 0);
  EXPECT_EQ(n.operStatus(), 2);
  EXPECT_TRUE(n.addSample(1));
  EXPECT_EQ(n.state(), 1);
  EXPECT_EQ(n.operStatus(), 1);
  EXPECT_EQ(n.adminStatus(), 1);
  EXPECT_FALSE(n.addSample(0));
  EXPECT_TRUE(n.addSample(0));
  EXPECT_EQ(n.state(), 0);
  EXPECT_FALSE(n.addSample(1)) << "1 of the last 3: still down";
}
