// The signalling slots end to end: the built daemon on the stand-in board,
// driven by a qvctl controller over loopback. Two trunks' time-slots are
// looped back to back on the board (qvboard "mcc loop"), so that two
// slots of the daemon are each other's peer on the line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "DaemonProcess.h"
#include "control/ControlTestUtil.h"
#include "control/QvctlTestUtil.h"
#include "slots/Messages.h"

using namespace slots_test;
using app_test::DaemonProcess;
using app_test::TestRoot;
using qvctl_test::QvctlSession;

namespace {

// As the controller prints it: octets in lower case, a blank between.
std::string userData(unsigned slot, const std::string& hex) {
  std::string spaced;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i) spaced += ' ';
    spaced += char(std::tolower(static_cast<unsigned char>(hex[i])));
    spaced += char(std::tolower(static_cast<unsigned char>(hex[i + 1])));
  }
  return "{ slot " + std::to_string(slot) + ", pdu signal : userData : '" + spaced + "'H }";
}

// An MSU numbered n: SIO 0x83 (national, ISUP) and two octets.
std::string msu(unsigned n) {
  char b[16];
  std::snprintf(b, sizeof b, "83%04X", n);
  return b;
}

struct SignallingDaemon : ::testing::Test {
  void SetUp() override {
    ::setenv("QUORVAD_BOARD", "standin", 1);
    port = ctl_test::free_port();
    daemon.reset(new DaemonProcess(root, {"--port", std::to_string(port)}));
    ASSERT_TRUE(daemon->waitStarted()) << daemon->err();
    ASSERT_TRUE(app_test::waitUntil([&] { return qvctl_test::listening(port); }));
  }
  void TearDown() override { ::unsetenv("QUORVAD_BOARD"); }

  std::string board(const std::string& args) { return app_test::qvboard(root.dir(), args); }

  // Reads until every text has come (in what was read already or after);
  // everything read.
  std::vector<std::string> until(QvctlSession& c, const std::vector<std::string>& texts,
                                 std::vector<std::string> all = {}) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (const std::string& t : texts) {
      while (std::none_of(all.begin(), all.end(), [&](const std::string& m) { return m.find(t) != std::string::npos; })) {
        std::vector<std::string> got = c.read(0, t);
        if (got.empty() || std::chrono::steady_clock::now() > end) {
          ADD_FAILURE() << "never came: " << t;
          return all;
        }
        all.insert(all.end(), got.begin(), got.end());
      }
    }
    return all;
  }

  // Two trunk slots (1: trunk 0, 2: trunk 1, both time-slot 16) looped on
  // the line, and slots a and b made by the two creates, each connected
  // both ways to its trunk slot.
  // What came with the connections' answers is left in `early`.
  void pair(QvctlSession& c, const std::string& createA, const std::string& createB) {
    ASSERT_EQ(board("mcc loop 16 48"), "");
    c.send(trunk(1, 0, 16, 1) + "\n" + trunk(2, 1, 16, 2) + "\n", 2);
    ASSERT_EQ(having(c.send(createA + "\n" + createB + "\n", 2), "pdu response"),
              (std::vector<std::string>{ok(10, 3), ok(11, 4)}));
    early = c.send(cmd(1, "connect : 10", 5) + "\n" + cmd(10, "connect : 1", 6) + "\n" + cmd(2, "connect : 11", 7) +
                       "\n" + cmd(11, "connect : 2", 8) + "\n",
                   4);
    ASSERT_EQ(having(early, "pdu response"),
              (std::vector<std::string>{ok(1, 5), ok(10, 6), ok(2, 7), ok(11, 8)}));
  }

  TestRoot root;
  std::vector<std::string> early;
  int port = 0;
  std::unique_ptr<DaemonProcess> daemon;
};

const std::string kSs7A = "{ seq 3, slot 10, pdu command : create : pstn : ss7 : "
                          "{ trunk 1, slc 1, dpc 100, opc 200, emergency TRUE } }";
const std::string kSs7B = "{ seq 4, slot 11, pdu command : create : pstn : ss7 : "
                          "{ trunk 2, slc 1, dpc 200, opc 100, emergency TRUE } }";

TEST_F(SignallingDaemon, Ss7PairAlignsCarriesMsusAndSurvivesADamagedLine) {
  QvctlSession c(port);
  pair(c, kSs7A, kSs7B);
  if (HasFatalFailure()) return;
  // Emergency alignment: both links in service within the first report.
  std::vector<std::string> got =
      until(c, {"{ slot 10, pdu signal : activated", "{ slot 11, pdu signal : activated", "ss7state worked"}, early);

  got = c.send(cmd(10, "userData : '" + msu(1) + "'H", 9) + "\n", 1, userData(11, msu(1)));
  EXPECT_EQ(having(got, "userData"), std::vector<std::string>{userData(11, msu(1))});
  got = c.send(cmd(11, "userData : '" + msu(2) + "'H", 10) + "\n", 1, userData(10, msu(2)));
  EXPECT_EQ(having(got, "userData"), std::vector<std::string>{userData(10, msu(2))});

  // The BSN the link sends is the FSN of the last MSU it took, 0; the
  // answer comes after it.
  got = having(c.send(cmd(11, "ioctl : ss7RqBSN : NULL", 11) + "\n", 1), "slot 11");
  got.erase(std::remove_if(got.begin(), got.end(), [](const std::string& m) { return m.find("LinkInfo") != std::string::npos; }),
            got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"{ slot 11, pdu signal : ioctl : ss7BSN : 0 }", ok(11, 11)}));

  // Every 131st unit lost and every 151st damaged each way: periods
  // longer than any burst of resent units (at most 127 and a FISU), which
  // a period could otherwise hit at the same place every time.
  ASSERT_EQ(board("mcc loop 16 48 lose 131 corrupt 151"), "");
  std::string input;
  std::vector<std::string> toB, toA;
  for (unsigned n = 100; n < 300; ++n) {
    input += cmd(10, "userData : '" + msu(n) + "'H", int(n)) + "\n";
    input += cmd(11, "userData : '" + msu(n + 1000) + "'H", int(n + 1000)) + "\n";
    toB.push_back(userData(11, msu(n)));
    toA.push_back(userData(10, msu(n + 1000)));
  }
  got = until(c, {toB.back(), toA.back()}, c.send(input, 0));
  EXPECT_EQ(having(got, "{ slot 11, pdu signal : userData"), toB);
  EXPECT_EQ(having(got, "{ slot 10, pdu signal : userData"), toA);
  const std::string lines = board("mcc lines");
  EXPECT_NE(lines.find("16 -> 48 lose=131 corrupt=151"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("lost=0 "), std::string::npos) << lines;
  EXPECT_EQ(lines.find("corrupted=0\n"), std::string::npos) << lines;

  // The next reports count the retransmissions; a deactivation reports
  // the link twice before it says so, and the peer goes down too.
  got = until(c, {"{ slot 10, pdu signal : ioctl : ss7LinkInfo", "{ slot 11, pdu signal : ioctl : ss7LinkInfo"});
  got = having(got, "ss7LinkInfo");
  EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const std::string& m) { return m.find("repeatCntr 0,") == std::string::npos; }));
  got = c.send(cmd(10, "deactivate : NULL", 5000) + "\n", 1, "{ slot 10, pdu signal : deactivated");
  until(c, {"{ slot 11, pdu signal : deactivated"}, got);
  got = having(got, "slot 10");
  got.erase(std::remove_if(got.begin(), got.end(), [](const std::string& m) { return m.find("hdlcLinkInfo") != std::string::npos; }),
            got.end());
  auto down = std::find_if(got.begin(), got.end(), [](const std::string& m) { return m.find("deactivated") != std::string::npos; });
  ASSERT_GE(down - got.begin(), 2);
  EXPECT_NE(down[-2].find("ss7LinkInfo"), std::string::npos) << down[-2];
  EXPECT_NE(down[-2].find("ss7state idle"), std::string::npos) << down[-2];
  EXPECT_NE(down[-1].find("ss7state idle"), std::string::npos) << down[-1];
  EXPECT_EQ(c.finish(), 0);
}

TEST_F(SignallingDaemon, IsdnPrimaryRatePairEstablishesAndRelaysLayerThree) {
  QvctlSession c(port);
  pair(c,
       "{ seq 3, slot 10, pdu command : create : pstn : isdn : { type pri, trunk 1, log 0, side user : NULL } }",
       "{ seq 4, slot 11, pdu command : create : pstn : isdn : { type pri, trunk 2, log 0, side network : NULL } }");
  if (HasFatalFailure()) return;
  until(c, {"{ slot 10, pdu signal : activated", "{ slot 11, pdu signal : activated"}, early);
  // SETUP one way, CONNECT the other.
  EXPECT_EQ(having(c.send(cmd(10, "userData : '080101050401'H", 10) + "\n", 1, "slot 11, pdu signal : userData"),
                   "userData"),
            std::vector<std::string>{userData(11, "080101050401")});
  EXPECT_EQ(having(c.send(cmd(11, "userData : '080181070401'H", 11) + "\n", 1, "slot 10, pdu signal : userData"),
                   "userData"),
            std::vector<std::string>{userData(10, "080181070401")});
  EXPECT_EQ(c.finish(), 0);
}

TEST_F(SignallingDaemon, HdlcPairExchangesAddressedFramesAsIoctls) {
  QvctlSession c(port);
  pair(c, "{ seq 3, slot 10, pdu command : create : hdlcParams : { trunk 1, log 0, address 258 } }",
       "{ seq 4, slot 11, pdu command : create : hdlcParams : { trunk 2, log 0, address 258 } }");
  if (HasFatalFailure()) return;
  // Two bodies: the first's second octet has bit 7 set, so it waits for
  // the second, and both come in one signal.
  EXPECT_EQ(having(c.send(cmd(10, "ioctl : hdlcPackages : { { body '0180'H }, { body '0200'H } }", 9) + "\n", 1,
                          "hdlcPackages"),
                   "hdlcPackages"),
            std::vector<std::string>{"{ slot 11, pdu signal : ioctl : hdlcPackages : { { body '01 80'H }, "
                                     "{ body '02 00'H } } }"});
  EXPECT_EQ(c.finish(), 0);
}

}  // namespace
