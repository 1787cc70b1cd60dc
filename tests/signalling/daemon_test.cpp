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
#include <map>
#include <sstream>
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

  // Every channel that listens to another, with its source, over the
  // channels the slots here use: trunk time-slots, the shared buses, the
  // HDLC controller's and the DSP's data channels.
  std::map<unsigned, unsigned> paths() {
    std::map<unsigned, unsigned> out;
    for (const char* range : {"0 127", "8192 10239", "16384 20479", "32768 33023"}) {
      std::istringstream in(board(std::string("hal channel ") + range));
      std::string line;
      while (std::getline(in, line)) {
        unsigned ch, src;
        if (std::sscanf(line.c_str(), "%u listen %u", &ch, &src) == 2) out[ch] = src;
      }
    }
    return out;
  }

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

  // Pairs links a (slot 10) and b (slot 11), takes a's connection to its
  // trunk slot down and makes it again: the time-slot idles in between,
  // then carries a's channel as before, and the payload a sends then
  // reaches b.
  void relink(const std::string& createA, const std::string& createB, const std::string& payload) {
    QvctlSession c(port);
    pair(c, createA, createB);
    if (HasFatalFailure()) return;
    until(c, {"{ slot 10, pdu signal : activated", "{ slot 11, pdu signal : activated"}, early);
    const std::map<unsigned, unsigned> held = paths();
    ASSERT_EQ(held.size(), 4u);

    EXPECT_EQ(having(c.send(cmd(1, "disconnect : NULL", 20) + "\n", 1), "pdu response"),
              std::vector<std::string>{ok(1, 20)});
    EXPECT_EQ(board("hal channel 16").rfind("16 drive 0xD5 ", 0), 0u) << board("hal channel 16");
    std::map<unsigned, unsigned> heard = held;
    heard.erase(16);  // a still hears the time-slot
    EXPECT_EQ(paths(), heard);

    EXPECT_EQ(having(c.send(cmd(10, "connect : 1", 21) + "\n", 1), "pdu response"),
              std::vector<std::string>{ok(10, 21)});
    EXPECT_EQ(paths(), held);  // the same channel: the link never stopped
    const std::vector<std::string> got =
        c.send(cmd(10, "userData : '" + payload + "'H", 22) + "\n", 1, userData(11, payload));
    EXPECT_EQ(having(got, "userData"), std::vector<std::string>{userData(11, payload)});
    EXPECT_EQ(c.finish(), 0);
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

// On an E1 time-slot the trunk slot's connection to the link alone wires
// the time-slot both ways: two links so connected on a looped line come
// into service and carry payloads both ways.
TEST_F(SignallingDaemon, E1LinksConnectedFromTheirTrunkSlotsAloneCarryBothWays) {
  // The primary-rate links are activated as well, and the activation
  // keeps both paths.
  const struct {
    std::string a, b, toB, toA;
    bool activate;
  } kinds[] = {
      {kSs7A, kSs7B, msu(1), msu(2), false},
      {"{ seq 3, slot 10, pdu command : create : pstn : isdn : { type pri, trunk 1, log 0, side user : NULL } }",
       "{ seq 4, slot 11, pdu command : create : pstn : isdn : { type pri, trunk 2, log 0, side network : NULL } }",
       "080101050401", "080181070401", true},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.a);
    QvctlSession c(port);
    ASSERT_EQ(board("mcc loop 16 48"), "");
    c.send(trunk(1, 0, 16, 1) + "\n" + trunk(2, 1, 16, 2) + "\n" + k.a + "\n" + k.b + "\n", 4);
    std::string input = cmd(1, "connect : 10", 5) + "\n" + cmd(2, "connect : 11", 6) + "\n";
    std::vector<std::string> answers = {ok(1, 5), ok(2, 6)};
    if (k.activate) {
      input += cmd(10, "activate : empty : NULL", 7) + "\n" + cmd(11, "activate : empty : NULL", 8) + "\n";
      answers.insert(answers.end(), {ok(10, 7), ok(11, 8)});
    }
    std::vector<std::string> got = c.send(input, answers.size());
    EXPECT_EQ(having(got, "pdu response"), answers);
    until(c, {"{ slot 10, pdu signal : activated", "{ slot 11, pdu signal : activated"}, got);
    const std::map<unsigned, unsigned> held = paths();
    ASSERT_EQ(held.size(), 4u);
    const unsigned a = held.at(16), b = held.at(48);
    EXPECT_EQ(held, (std::map<unsigned, unsigned>{{16, a}, {48, b}, {a, 16}, {b, 48}}));
    EXPECT_EQ(having(c.send(cmd(10, "userData : '" + k.toB + "'H", 9) + "\n", 1, userData(11, k.toB)), "userData"),
              std::vector<std::string>{userData(11, k.toB)});
    EXPECT_EQ(having(c.send(cmd(11, "userData : '" + k.toA + "'H", 10) + "\n", 1, userData(10, k.toA)), "userData"),
              std::vector<std::string>{userData(10, k.toA)});
    EXPECT_EQ(c.finish(), 0);
  }
}

// On an E1 time-slot one connection's path carries both ways: the link
// still hears the line while it no longer feeds it.
TEST_F(SignallingDaemon, Ss7LinkFeedsItsTimeSlotAgainWhenConnectedToItAgain) { relink(kSs7A, kSs7B, msu(7)); }

TEST_F(SignallingDaemon, PrimaryRateLinkFeedsItsTimeSlotAgainWhenConnectedToItAgain) {
  relink("{ seq 3, slot 10, pdu command : create : pstn : isdn : { type pri, trunk 1, log 0, side user : NULL } }",
         "{ seq 4, slot 11, pdu command : create : pstn : isdn : { type pri, trunk 2, log 0, side network : NULL } }",
         "080101050401");
}

TEST_F(SignallingDaemon, ATornDownLinkLeavesNoPathForTheNextControllerChannels) {
  // As an SS7 pair is set up on looped time-slots: each trunk slot
  // connected to its link, which wires the line both ways.
  QvctlSession c(port);
  ASSERT_EQ(board("mcc loop 16 48"), "");
  c.send(trunk(1, 0, 16, 1) + "\n" + trunk(2, 1, 16, 2) + "\n" + kSs7A + "\n" + kSs7B + "\n", 4);
  until(c, {"{ slot 10, pdu signal : activated", "{ slot 11, pdu signal : activated"},
        c.send(cmd(1, "connect : 10", 5) + "\n" + cmd(2, "connect : 11", 6) + "\n", 2));
  std::map<unsigned, unsigned> held = paths();
  ASSERT_EQ(held.size(), 4u);
  const unsigned a = held[16], b = held[48];
  EXPECT_EQ(held, (std::map<unsigned, unsigned>{{16, a}, {48, b}, {a, 16}, {b, 48}}));

  // A plain disconnect while both slots live already ends the link's paths.
  EXPECT_EQ(having(c.send(cmd(10, "disconnect : NULL", 20) + "\n", 1), "pdu response"),
            std::vector<std::string>{ok(10, 20)});
  EXPECT_EQ(paths(), (std::map<unsigned, unsigned>{{48, b}, {b, 48}}));

  // One link goes before its trunk slot, the other after it.
  EXPECT_EQ(having(c.send(cmd(11, "destroy : NULL", 21) + "\n" + cmd(2, "destroy : NULL", 22) + "\n" +
                              cmd(1, "destroy : NULL", 23) + "\n" + cmd(10, "destroy : NULL", 24) + "\n",
                          4),
                   "pdu response"),
            (std::vector<std::string>{ok(11, 21), ok(2, 22), ok(1, 23), ok(10, 24)}));
  EXPECT_EQ(paths(), (std::map<unsigned, unsigned>{}));

  // The freed controller channels go to two data slots never connected:
  // what one sends stays its own.
  EXPECT_EQ(having(c.send(cmd(40, "create : mcc : { type data, mode standard }", 25) + "\n" +
                              cmd(41, "create : mcc : { type data, mode standard }", 26) + "\n",
                          2),
                   "pdu response"),
            (std::vector<std::string>{ok(40, 25), ok(41, 26)}));
  const std::string list = board("mcc list");
  ASSERT_NE(list.find(std::to_string(a) + " "), std::string::npos) << list;
  ASSERT_NE(list.find(std::to_string(b) + " "), std::string::npos) << list;
  // The board keeps a frame that no line carries away.
  const unsigned first = std::min(a, b), second = a + b - first;
  c.send(cmd(40, "userData : '0102030405'H", 27) + "\n", 1);
  EXPECT_EQ(board("mcc captured " + std::to_string(first)), "0102030405\n");
  c.send(cmd(41, "userData : '06'H", 28) + "\n", 1);
  EXPECT_EQ(board("mcc captured " + std::to_string(second)), "06\n");
  EXPECT_EQ(c.finish(), 0);
}

// Many links of every kind at once, each torn down its own way (link or
// trunk slot first, disconnected, its time-slot taken over by a later
// connection, left to the controller's departure): the switch holds the
// paths of the live connections only, and none once the controller left.
TEST_F(SignallingDaemon, ManyLinksTornDownEveryWayLeaveOnlyTheLivePaths) {
  struct Link {
    unsigned trunk, link, ts;
    std::string create;
  };
  std::vector<Link> links;
  // E1 links on trunks 1 to 3 (BRI channels share the numbers of trunk 0),
  // within the controller's pools: 32 data, 16 BRI, 32 SS7 channels.
  const std::vector<std::pair<unsigned, std::string>> e1 = {
      {20, "pstn : ss7 : { trunk 2, slc 1, dpc 1, opc 2, emergency FALSE }"},
      {10, "pstn : isdn : { type pri, trunk 2, log 0, side user : NULL }"},
      {10, "hdlcParams : { trunk 2, log 0, address 1 }"},
      {5, "isdn : { type pri, trunk 2, log 0, side network : NULL }"},
      {3, "ats-qsig : { side user : NULL }"}};
  std::string creates;
  unsigned n = 0;
  for (const auto& kind : e1)
    for (unsigned k = 0; k < kind.first; ++k, ++n) {
      links.push_back({100 + n, 300 + n, 32 + n, kind.second});
      creates += trunk(100 + n, 1 + n / 32, n % 32) + "\n";
    }
  for (unsigned k = 0; k < 16; ++k, ++n) {
    const unsigned port = k / 2, channel = k % 2;
    links.push_back({100 + n, 300 + n, 4 * port + channel,
                     std::string("pstn : isdn : { type bri, trunk 1, log 0, side ") + (k % 4 < 2 ? "user" : "network") +
                         " : NULL }"});
    creates += cmd(100 + n, "create : trunk_bri : { trunk " + std::to_string(port) + ", timeslot " +
                                std::to_string(channel) + " }") + "\n";
  }
  std::string connects;
  for (const Link& l : links) {
    creates += cmd(l.link, "create : " + l.create) + "\n";
    connects += cmd(l.trunk, "connect : " + std::to_string(l.link)) + "\n" +
                cmd(l.link, "connect : " + std::to_string(l.trunk)) + "\n";
  }
  const auto failures = [](const std::vector<std::string>& got) { return having(got, "pdu response : error"); };
  QvctlSession c(port);
  EXPECT_EQ(failures(c.send(creates, 2 * links.size())), std::vector<std::string>{});
  EXPECT_EQ(failures(c.send(connects, 2 * links.size())), std::vector<std::string>{});
  const std::map<unsigned, unsigned> wired = paths();
  ASSERT_EQ(wired.size(), 2 * links.size());

  std::string teardown;
  size_t commands = 0;
  std::map<unsigned, unsigned> live;
  const auto add = [&](unsigned slot, const std::string& what) {
    teardown += cmd(slot, what) + "\n";
    ++commands;
  };
  for (size_t i = 0; i < links.size(); ++i) {
    const Link& l = links[i];
    const unsigned ext = 600 + unsigned(i);
    switch (i % 5) {
      case 0:
        add(l.link, "destroy : NULL");
        add(l.trunk, "destroy : NULL");
        break;
      case 1:
        add(l.trunk, "destroy : NULL");
        add(l.link, "destroy : NULL");
        break;
      case 2:
        add(i % 2 ? l.link : l.trunk, "disconnect : NULL");
        add(i % 2 ? l.trunk : l.link, "disconnect : NULL");
        break;
      case 3: {
        const unsigned channel = wired.at(l.ts);
        live[l.ts] = channel;
        live[channel] = l.ts;
        break;
      }
      case 4:
        // The time-slot is switched to another source before the link goes.
        add(ext, "create : ext : { transmitter " + std::to_string(i) + ", receiver " + std::to_string(i) + " }");
        add(ext, "connect : " + std::to_string(l.trunk));
        add(l.link, "destroy : NULL");
        live[l.ts] = 8192 + unsigned(i);
        break;
    }
  }
  EXPECT_EQ(failures(c.send(teardown, commands)), std::vector<std::string>{});
  EXPECT_EQ(paths(), live);

  EXPECT_EQ(c.finish(), 0);
  EXPECT_TRUE(app_test::waitUntil([&] { return paths().empty(); })) << paths().size();
  EXPECT_EQ(board("mcc list"), "");
}

}  // namespace
