// Modem and T.38 slots end to end: the built daemon on the stand-in board,
// with the stand-in helper programs under its root, driven by qvctl over
// loopback; the bridge's fixed port lives in a network of the test's own.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "DaemonProcess.h"
#include "Messages.h"
#include "ProgramsTestUtil.h"
#include "control/ControlTestUtil.h"
#include "control/QvctlTestUtil.h"

using namespace slots_test;
using app_test::DaemonProcess;
using app_test::TestRoot;
using qvctl_test::QvctlSession;

namespace {

bool has(const std::vector<std::string>& got, const std::string& text) {
  return std::any_of(got.begin(), got.end(), [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// The log lines, without their pid, of the stand-in pppd started on
// `device`.
std::vector<std::string> pppdOn(const std::string& dir, const std::string& device) {
  std::vector<std::string> out;
  std::string pid;
  std::istringstream in(programLog(dir, "pppd"));
  for (std::string line; std::getline(in, line);) {
    const std::string who = line.substr(0, line.find(' '));
    const std::string what = line.substr(line.find(' ') + 1);
    if (what.rfind("start ", 0) == 0 && what.find(" " + device + " ") != std::string::npos) pid = who;
    if (!pid.empty() && who == pid) out.push_back(what);
  }
  return out;
}

// The processes whose program lies under the root.
int runningFrom(const std::string& dir) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    std::error_code ec;
    const std::string exe = std::filesystem::read_symlink(e.path() / "exe", ec).string();
    n += !ec && exe.rfind(dir + "/", 0) == 0;
  }
  return n;
}

struct ModemDaemonTest : ::testing::Test {
  static void SetUpTestSuite() { ownNetwork(); }

  void SetUp() override {
    ::setenv("QUORVAD_BOARD", "standin", 1);
    installPrograms(root.dir());
    port = ctl_test::free_port();
    daemon.reset(new DaemonProcess(root, {"--port", std::to_string(port)}));
    ASSERT_TRUE(daemon->waitStarted()) << daemon->err();
    ASSERT_TRUE(app_test::waitUntil([&] { return qvctl_test::listening(port); }));
    ASSERT_TRUE(app_test::waitUntil([&] { return qvctl_test::listening(52000); })) << daemon->err();
  }
  void TearDown() override {
    // The controller has left: its departure ends every slot's child (a
    // hang-up, a kill for one deaf to it) and the daemon reaps them. Only
    // then does the daemon go, and nothing it started may outlive it.
    if (daemon && daemon->wait(0) == -1) {
      EXPECT_TRUE(app_test::waitUntil([&] { return childCount(daemon->pid()) == 0; })) << childCount(daemon->pid());
    }
    daemon.reset();
    EXPECT_EQ(runningFrom(root.dir()), 0);
    ::unsetenv("QUORVAD_BOARD");
  }

  std::string modem(unsigned slot, int seq) {
    return cmd(slot, "create : modem : { cid \"42\", cdid \"\" }", seq) + "\n";
  }

  TestRoot root;
  int port = 0;
  std::unique_ptr<DaemonProcess> daemon;
};

TEST_F(ModemDaemonTest, LoginThroughTheBridgeAndAT38Relay) {
  script(root.dir(), "pppd", "user alice\npassword secret\n");
  script(root.dir(), "t38", "instances 6\n");
  QvctlSession c(port);
  std::vector<std::string> got = c.send("{ seq 1, pdu command : query : NULL }\n", 1, "pdu signal : query");
  ASSERT_TRUE(has(got, "modem 8,")) << ::testing::PrintToString(got);
  EXPECT_TRUE(has(got, "t38-instances 6, digital-modems 4,")) << ::testing::PrintToString(got);

  c.send(trunk(1, 0, 1, 2) + "\n", 1, "receiver");
  c.send(modem(3, 3));
  got = c.send(cmd(1, "connect : 3", 4) + "\n", 1, "modemProceeding");
  EXPECT_TRUE(has(got, "{ slot 3, pdu signal : modemProceeding : auth : { username \"alice\", password \"secret\" } }"))
      << ::testing::PrintToString(got);
  EXPECT_EQ(programLines(root.dir(), "pppd").front(),
            "start /usr/local/sbin/pppd file /usr/local/etc/ppp/aoptions /dev/mdm0 remotenumber 42");
  got = c.send(cmd(3, "activate : modem : { remoteAddr \"10.0.0.2\", netmask \"255.0.0.0\", gateway \"10.0.0.1\", dns "
                      "\"10.0.0.1\", mtu 576 }",
                   5) +
               "\n");
  EXPECT_EQ(got, std::vector<std::string>{ok(3, 5)});
  EXPECT_TRUE(app_test::waitUntil([&] {
    return programLog(root.dir(), "pppd").find("recv 00000024" "00000003" "00000000" "00000000" "0A000002" "FF000000"
                                               "0A000001" "0A000001" "00000240\n") != std::string::npos;
  })) << programLog(root.dir(), "pppd");

  got = c.send(cmd(7, "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4000 }, shost { iaddr \"\", port 5000 }, "
                      "rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { \"-v\" } }",
                   6) +
                   "\n",
               1, "receiver");
  EXPECT_TRUE(has(got, "{ slot 7, pdu signal : receiver : active : 16384 }")) << ::testing::PrintToString(got);
  EXPECT_EQ(app_test::qvboard(root.dir(), "mcc inject 16384 55AA"), "");
  got = c.read(0, "abort");
  EXPECT_TRUE(has(got, "{ slot 7, pdu signal : abort : 0 }")) << ::testing::PrintToString(got);
  EXPECT_NE(programLog(root.dir(), "t38").find("start /usr/local/sbin/t38 --child --remote 192.0.2.9/4000/5000 -v\n"),
            std::string::npos);
  EXPECT_NE(programLog(root.dir(), "t38").find(" read 55AA\n"), std::string::npos);

  // The destroy waits for pppd to hang up.
  EXPECT_EQ(c.send(cmd(3, "destroy : NULL", 7) + "\n"), std::vector<std::string>{ok(3, 7)});
  EXPECT_NE(programLog(root.dir(), "pppd").find(" hup\n"), std::string::npos);
  EXPECT_EQ(c.finish(), 0);
}

TEST_F(ModemDaemonTest, AControllerLeavingFiftyModemsLeavesNothingBehind) {
  script(root.dir(), "pppd", "hup ignore\n");
  EXPECT_EQ(app_test::qvboard(root.dir(), "mctl modems 50"), "");
  const std::string pid = std::to_string(daemon->pid());
  QvctlSession c(port);
  c.send("{ seq 1, pdu command : ping : NULL }\n");
  const int descriptors = openDescriptors(pid);
  std::string batch;
  for (unsigned n = 0; n < 50; ++n) batch += modem(100 + n, int(n));
  EXPECT_EQ(c.send(batch, 50).size(), 50u);
  batch.clear();
  for (unsigned n = 0; n < 50; n += 2) batch += cmd(100 + n, "connect : " + std::to_string(101 + n), 99) + "\n";
  c.send(batch, 25);
  ASSERT_TRUE(app_test::waitUntil([&] { return programLines(root.dir(), "pppd").size() == 50; }));
  EXPECT_EQ(childCount(daemon->pid()), 50);

  EXPECT_EQ(c.finish(), 0);
  EXPECT_TRUE(app_test::waitUntil([&] { return childCount(daemon->pid()) == 0; }));
  // Named by its kind, as every other line of the slot.
  EXPECT_TRUE(daemon->waitErr(":dsp-modem: pppd isn't terminated, killing ...\n")) << daemon->err();
  EXPECT_EQ(app_test::qvboard(root.dir(), "mctl list"), "");
  EXPECT_TRUE(app_test::waitUntil([&] { return openDescriptors(pid) <= descriptors; }))
      << openDescriptors(pid) << " > " << descriptors;
}

TEST_F(ModemDaemonTest, AFaxCallKeepsItsModemAndTheNextLoginReachesItsOwnSlot) {
  script(root.dir(), "pppd", "user carol\npassword pw\n");
  script(root.dir(), "fax", "wait\n");
  QvctlSession c(port);
  c.send(trunk(5, 0, 5, 1) + "\n" + trunk(6, 0, 6, 2) + "\n", 2);
  c.send(cmd(41, "create : modem : { cid \"1\", cdid \"2\", fax NULL, execargs { \"send\" } }", 3) + "\n");
  std::vector<std::string> got = c.send(cmd(41, "connect : 5", 4) + "\n");
  EXPECT_TRUE(has(got, stream(41, "transmitter", 24576))) << ::testing::PrintToString(got);
  ASSERT_TRUE(app_test::waitUntil([&] { return programLines(root.dir(), "fax").size() == 1; }));
  EXPECT_EQ(programLines(root.dir(), "fax").front(), "start /usr/local/sbin/fax -m 0 send");

  // The fax program works modem 0 by its number: the next call gets
  // another modem, and its login is its own.
  c.send(cmd(43, "create : modem : { cid \"9\", cdid \"2\" }", 5) + "\n");
  got = c.send(cmd(43, "connect : 6", 6) + "\n", 1, "modemProceeding");
  EXPECT_TRUE(has(got, stream(43, "transmitter", 24577))) << ::testing::PrintToString(got);
  EXPECT_TRUE(has(got, "{ slot 43, pdu signal : modemProceeding : auth : { username \"carol\", password \"pw\" } }"))
      << ::testing::PrintToString(got);
  EXPECT_FALSE(has(got, "slot 41, pdu signal : modemProceeding")) << ::testing::PrintToString(got);
  EXPECT_EQ(programLines(root.dir(), "pppd").front(),
            "start /usr/local/sbin/pppd file /usr/local/etc/ppp/aoptions /dev/mdm1 remotenumber 9");
  std::string modems = app_test::qvboard(root.dir(), "mctl list");
  EXPECT_EQ(modems.rfind("0 ch=24576 ", 0), 0u) << modems;
  EXPECT_NE(modems.find("\n1 ch=24577 "), std::string::npos) << modems;

  // The fax slot's destroy ends its program (the page count and the raw
  // status as ever) and only then gives the modem back.
  got = c.send(cmd(41, "destroy : NULL", 7) + "\n");
  EXPECT_TRUE(has(got, "{ slot 41, pdu signal : modemProceeding : acct : { octetsOut { low 0, high 0 }, octetsIn { low 0"))
      << ::testing::PrintToString(got);
  EXPECT_TRUE(has(got, ok(41, 7))) << ::testing::PrintToString(got);
  modems = app_test::qvboard(root.dir(), "mctl list");
  EXPECT_EQ(modems.rfind("1 ch=24577 ", 0), 0u) << modems;
  EXPECT_EQ(modems.find("0 ch=24576"), std::string::npos) << modems;
  EXPECT_EQ(c.finish(), 0);
}

TEST_F(ModemDaemonTest, AFailedModemSetUpReportsNoStreamAndALaterOneTheRealChannel) {
  // The fax program stays until the controller leaves: its end is no part
  // of what the connections report.
  script(root.dir(), "fax", "wait\n");
  QvctlSession c(port);
  c.send(trunk(5, 0, 5, 1) + "\n");
  c.send(cmd(41, "create : modem : { cid \"1\", cdid \"2\", fax NULL, execargs { \"send\" } }", 2) + "\n");
  EXPECT_EQ(app_test::qvboard(root.dir(), "fail request 0xBB0B EBUSY once"), "");
  std::vector<std::string> got = c.send(cmd(41, "connect : 5", 3) + "\n");
  EXPECT_EQ(got, (std::vector<std::string>{"{ slot 41, pdu signal : abort : 16 }", err(41, "connectFail", 3)}));

  // Set up on the next connection, with the modem's channel.
  got = c.send(cmd(5, "connect : 41", 4) + "\n");
  EXPECT_EQ(got, (std::vector<std::string>{stream(41, "transmitter", 24576), stream(41, "receiver", 24576),
                                           ok(5, 4)}));
  EXPECT_EQ(c.finish(), 0);
}

TEST_F(ModemDaemonTest, ARestartedDaemonHasItsBridgeAtOnce) {
  // A plug-in connection that the daemon's end closes first stays in
  // TIME_WAIT on the bridge's port after the daemon is gone.
  const int plugIn = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(52000);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(plugIn, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_TRUE(daemon->waitErr("incoming auth connection from 127.0.0.1:"));
  daemon->signal(SIGTERM);
  ASSERT_NE(daemon->wait(), -1);
  ::close(plugIn);

  DaemonProcess again(root, {"--port", std::to_string(ctl_test::free_port())});
  ASSERT_TRUE(again.waitStarted()) << again.err();
  EXPECT_TRUE(app_test::waitUntil([&] { return qvctl_test::listening(52000); }, 1000));
  EXPECT_EQ(again.err().find("fail to bind auth socket"), std::string::npos) << again.err();
}

TEST_F(ModemDaemonTest, ChildrenStartedAndStoppedInOneBurstAllEnd) {
  // Each destroy signals a child that was forked a moment before: the
  // signal must end the program, however soon it comes.
  script(root.dir(), "t38", "read 1000\n");
  EXPECT_EQ(app_test::qvboard(root.dir(), "mctl modems 20"), "");
  QvctlSession c(port);
  std::string batch;
  for (unsigned n = 0; n < 30; ++n) {
    batch += cmd(200 + n, "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4000 }, shost { iaddr \"\", port " +
                              std::to_string(5000 + 2 * n) + " }, rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { \"-v\" } }",
                 int(n) + 1) + "\n";
    batch += cmd(200 + n, "destroy : NULL", int(n) + 1) + "\n";
  }
  std::vector<std::string> got = c.send(batch, 60);
  EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const std::string& m) { return m.find("success") != std::string::npos; }),
            60) << ::testing::PrintToString(got);
  EXPECT_TRUE(app_test::waitUntil([&] { return childCount(daemon->pid()) == 0; }, 3000)) << childCount(daemon->pid());

  batch.clear();
  for (unsigned n = 0; n < 20; ++n) {
    batch += trunk(1 + n, 0, 1 + n, int(n) + 1) + "\n" + modem(100 + n, int(n) + 1);
    batch += cmd(1 + n, "connect : " + std::to_string(100 + n), int(n) + 1) + "\n";
    batch += cmd(100 + n, "destroy : NULL", int(n) + 1) + "\n";
  }
  c.send(batch, 80, "");
  EXPECT_TRUE(app_test::waitUntil([&] { return childCount(daemon->pid()) == 0; }, 3000)) << childCount(daemon->pid());
  EXPECT_EQ(daemon->err().find("isn't terminated"), std::string::npos) << daemon->err();
  EXPECT_EQ(c.finish(), 0);
}

TEST_F(ModemDaemonTest, TwoDigitalModemsEachDealWithTheirOwnPlugIn) {
  script(root.dir(), "pppd", "user alice\npassword pa\n");
  QvctlSession c(port);
  c.send(trunk(5, 0, 5, 1) + "\n" + trunk(6, 0, 6, 2) + "\n", 2);
  c.send(cmd(41, "create : modem : { cid \"1\", cdid \"2\", ddm { ddmV110 } }", 3) + "\n");
  std::vector<std::string> got = c.send(cmd(41, "connect : 5", 4) + "\n", 1, "modemProceeding");
  ASSERT_TRUE(has(got, "{ slot 41, pdu signal : modemProceeding : auth : { username \"alice\", password \"pa\" } }"))
      << ::testing::PrintToString(got);

  // Both plug-ins speak for session -1; bob's also reports its figures
  // once it has its address.
  script(root.dir(), "pppd", "user bob\npassword pb\nacct 0 1 0 2 0 3 0 4 5\n");
  c.send(cmd(43, "create : modem : { cid \"9\", cdid \"2\", ddm { ddmV110 } }", 5) + "\n");
  got = c.send(cmd(43, "connect : 6", 6) + "\n", 1, "modemProceeding");
  EXPECT_TRUE(has(got, "{ slot 43, pdu signal : modemProceeding : auth : { username \"bob\", password \"pb\" } }"))
      << ::testing::PrintToString(got);
  EXPECT_EQ(pppdOn(root.dir(), "hdlc1").front(),
            "start /usr/local/sbin/pppd file /usr/local/etc/ppp/ioptions hdlc1 remotenumber 9");

  const std::string user = ", netmask \"255.255.255.0\", gateway \"10.0.0.1\", dns \"10.0.0.1\", mtu 1500 }";
  got = c.send(cmd(43, "activate : modem : { remoteAddr \"10.0.0.43\"" + user, 7) + "\n", 1, "acct");
  EXPECT_TRUE(has(got, ok(43, 7))) << ::testing::PrintToString(got);
  EXPECT_TRUE(has(got, "{ slot 43, pdu signal : modemProceeding : acct : { octetsOut { low 1, high 0 }"))
      << ::testing::PrintToString(got);
  got = c.send(cmd(41, "activate : modem : { remoteAddr \"10.0.0.41\"" + user, 8) + "\n");
  EXPECT_TRUE(has(got, ok(41, 8))) << ::testing::PrintToString(got);
  const std::string accept = "recv 00000010" "00000002" "FFFFFFFF" "00000001";
  const std::string ip = "recv 00000024" "00000003" "FFFFFFFF" "00000000";
  const std::string rest = "FFFFFF00" "0A000001" "0A000001" "000005DC";
  const std::vector<std::string> alice{accept, ip + "0A000029" + rest};
  const std::vector<std::string> bob{accept, ip + "0A00002B" + rest, "acct sent"};
  // What each pppd heard after its start and its login.
  auto heard = [&](const std::string& device) {
    std::vector<std::string> lines = pppdOn(root.dir(), device);
    lines.erase(lines.begin(), lines.begin() + std::min<size_t>(2, lines.size()));
    return lines;
  };
  EXPECT_TRUE(app_test::waitUntil([&] { return heard("hdlc0").size() >= 2 && heard("hdlc1").size() >= 3; }));
  EXPECT_EQ(heard("hdlc0"), alice) << programLog(root.dir(), "pppd");
  EXPECT_EQ(heard("hdlc1"), bob) << programLog(root.dir(), "pppd");

  // A session -1 record from no modem's pppd goes, as ever, to the first
  // digital modem.
  const int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(52000);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  std::string auth(140, '\0');
  const unsigned char header[12] = {0, 0, 0, 140, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF};
  auth.replace(0, 12, reinterpret_cast<const char*>(header), 12);
  auth.replace(12, 3, "eve");
  auth.replace(76, 2, "pe");
  ASSERT_EQ(::send(other, auth.data(), auth.size(), MSG_NOSIGNAL), 140);
  got = c.read(0, "eve");
  EXPECT_TRUE(has(got, "{ slot 41, pdu signal : modemProceeding : auth : { username \"eve\", password \"pe\" } }"))
      << ::testing::PrintToString(got);
  ::close(other);

  // The controller leaves: each pppd ends on its hang-up during the pause,
  // so when the slots go (their interfaces back to raw HDLC) none is
  // reported as still running, nor killed.
  EXPECT_EQ(c.finish(), 0);
  EXPECT_TRUE(app_test::waitUntil(
      [&] { return app_test::qvboard(root.dir(), "netif list").find("proto=ppp") == std::string::npos; }));
  EXPECT_EQ(pppdOn(root.dir(), "hdlc0").back(), "hup");
  EXPECT_EQ(pppdOn(root.dir(), "hdlc1").back(), "hup");
  EXPECT_EQ(daemon->err().find("isn't terminated"), std::string::npos) << daemon->err();
}

TEST_F(ModemDaemonTest, AFaxReceiverEndsWithItsSlotAndHoldsItsModemUntilThen) {
  script(root.dir(), "pppd", "user carol\npassword pw\n");
  script(root.dir(), "fax", "wait\n");
  QvctlSession c(port);
  c.send(trunk(5, 0, 5, 1) + "\n" + trunk(6, 0, 6, 2) + "\n", 2);
  c.send(cmd(41, "create : modem : { cid \"1\", cdid \"2\", fax NULL }", 3) + "\n");
  c.send(cmd(41, "connect : 5", 4) + "\n");
  ASSERT_TRUE(app_test::waitUntil([&] { return programLines(root.dir(), "fax").size() == 1; }));
  EXPECT_EQ(programLines(root.dir(), "fax").front().rfind("start /usr/local/bin/fax -m 0 receive /var/fax-", 0), 0u);

  // The destroy hangs the receiver up and is answered once it has gone;
  // only then is its modem free for the next call.
  std::vector<std::string> got = c.send(cmd(41, "destroy : NULL", 5) + "\n");
  EXPECT_TRUE(has(got, ok(41, 5))) << ::testing::PrintToString(got);
  EXPECT_EQ(childCount(daemon->pid()), 0);
  EXPECT_EQ(app_test::qvboard(root.dir(), "mctl list"), "");
  c.send(cmd(43, "create : modem : { cid \"9\", cdid \"2\" }", 6) + "\n");
  got = c.send(cmd(43, "connect : 6", 7) + "\n", 1, "modemProceeding");
  EXPECT_TRUE(has(got, "{ slot 43, pdu signal : modemProceeding : auth : { username \"carol\", password \"pw\" } }"))
      << ::testing::PrintToString(got);
  EXPECT_EQ(programLines(root.dir(), "pppd").front(),
            "start /usr/local/sbin/pppd file /usr/local/etc/ppp/aoptions /dev/mdm0 remotenumber 9");

  // A receiver deaf to hang-ups is killed when the controller leaves, and
  // its modem goes with it.
  script(root.dir(), "fax", "wait\nhup ignore\n");
  c.send(cmd(45, "create : modem : { cid \"1\", cdid \"2\", fax NULL }", 8) + "\n");
  c.send(cmd(45, "connect : 5", 9) + "\n");
  ASSERT_TRUE(app_test::waitUntil([&] { return programLines(root.dir(), "fax").size() == 2; }));
  EXPECT_EQ(programLines(root.dir(), "fax").back().rfind("start /usr/local/bin/fax -m 1 receive", 0), 0u);
  EXPECT_EQ(c.finish(), 0);
  EXPECT_TRUE(daemon->waitErr(":dsp-modem: pppd isn't terminated, killing ...\n")) << daemon->err();
  EXPECT_TRUE(app_test::waitUntil([&] { return childCount(daemon->pid()) == 0; })) << childCount(daemon->pid());
  EXPECT_EQ(app_test::qvboard(root.dir(), "mctl list"), "");
}

}  // namespace
