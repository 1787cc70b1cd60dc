// The real daemon driven by the real client over loopback, plus raw
// sockets for what the client will not send.
#include "DaemonProcess.h"
#include "ControlTestUtil.h"
#include "QvctlTestUtil.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace ctl_test;
using namespace qvctl_test;
using app_test::DaemonProcess;
using app_test::TestRoot;
using app_test::waitUntil;

namespace {

struct DaemonTest : ::testing::Test {
  void SetUp() override {
    port = free_port();
    daemon.reset(new DaemonProcess(root, {"--port", std::to_string(port)}));
    ASSERT_TRUE(daemon->waitStarted());
    ASSERT_TRUE(waitUntil([&] { return listening(port); }));
  }
  ToolRun session(const std::string& input) {
    return qvctl({"session", "--port", std::to_string(port), "--wait", "3000"}, input, root.dir());
  }
  TestRoot root;
  int port = 0;
  std::unique_ptr<DaemonProcess> daemon;
};

const Bytes kPingFrame = {0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x18};
// What every new controller is told first, without a board behind the
// daemon: no seq, no slot (00), pdu signal (10), no extension (0), power
// 17 of 23 (10001), unknown 0 of 4 (00): 0010 0100 0100 0000.
const char kPowerUnknown[] = "03 00 00 06 24 40";
const char kPowerUnknownText[] = "{ pdu signal : power : unknown }";

}  // namespace

TEST_F(DaemonTest, PingIsAnsweredSuccessOnTheWire) {
  Peer c;
  ASSERT_TRUE(c.connect(port));
  ASSERT_TRUE(c.send(kPingFrame));
  EXPECT_EQ(hex(c.recv(14)), std::string(kPowerUnknown) + " 03 00 00 08 80 01 01 40");
  EXPECT_TRUE(daemon->waitOut("new connection from 127.0.0.1:" + std::to_string(c.local_port())));
  EXPECT_TRUE(daemon->waitErr("ctrl [127.0.0.1:" + std::to_string(c.local_port()) + "]: controller connect.\n"));
}

TEST_F(DaemonTest, TheClientGetsOneAnswerPerMessage) {
  ToolRun r = session(
      "{ seq 1, pdu command : ping : NULL }\n"
      "-- no service takes this one\n"
      "{ seq 2, slot 17, pdu command : query : NULL }\n"
      "{ seq 3, slot 4, pdu response : success : NULL }  { seq 4, pdu signal : abort : 0 }\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(messages(r.out), (std::vector<std::string>{
                                 kPowerUnknownText,
                                 "{ seq 1, pdu response : success : NULL }",
                                 "{ seq 2, slot 17, pdu response : error : unexpectedMsgType }",
                                 "{ seq 3, pdu response : error : unexpectedMsgType }",
                                 "{ seq 4, pdu response : error : unexpectedMsgType }",
                             }));
}

TEST_F(DaemonTest, GarbageIsLoggedUnansweredAndTheLinkStays) {
  Peer c;
  ASSERT_TRUE(c.connect(port));
  EXPECT_EQ(hex(c.recv(6)), kPowerUnknown);
  ASSERT_TRUE(c.send({0x03, 0x00, 0x00, 0x07, 0xDE, 0xAD, 0x01}));
  ASSERT_TRUE(daemon->waitErr("]: receive fail: decode error!\n msg: DE AD 01 \n"));
  EXPECT_TRUE(c.recv(1, 300).empty());
  ASSERT_TRUE(c.send(kPingFrame));
  EXPECT_EQ(hex(c.recv(8)), "03 00 00 08 80 01 01 40");
}

// A broken controller cannot flood the log: 94000 octets of noise (none of
// them 03) cost two lines, the first after 65536 of them, the second when
// the next frame's header is found; a large frame that does not decode
// costs its first 32 octets and its length.
TEST_F(DaemonTest, NoiseAndLargeBadFramesCostTheLogAFewLines) {
  Peer c;
  ASSERT_TRUE(c.connect(port));
  EXPECT_EQ(hex(c.recv(6)), kPowerUnknown);
  Bytes noise;
  for (unsigned i = 0; i < 94000; ++i) noise.push_back(static_cast<unsigned char>(0x10 + i % 0x70));
  ASSERT_TRUE(c.send(noise));
  ASSERT_TRUE(c.send(kPingFrame));
  EXPECT_EQ(hex(c.recv(8)), "03 00 00 08 80 01 01 40");
  Bytes big = {0x03, 0x00, 0xEA, 0x64};  // 60000 octets of FF and the header
  big.resize(60004, 0xFF);
  ASSERT_TRUE(c.send(big));
  ASSERT_TRUE(daemon->waitErr("... (60000 octets)\n"));
  const std::string err = daemon->err();
  EXPECT_NE(err.find("TPKT bad TPKT packet start. (65536 octets skipped)\n"
                     "TPKT bad TPKT packet start. (28464 octets skipped)\n"), std::string::npos) << err;
  // Counted from the connection on: what start-up logs is not the noise's.
  size_t lines = 0;
  size_t from = err.find("controller connect.");
  ASSERT_NE(from, std::string::npos) << err;
  for (char ch : err.substr(from)) lines += ch == '\n';
  EXPECT_LT(lines, 12u) << err;
}

TEST_F(DaemonTest, OneControllerAtATimeAndTheNextAfterAClose) {
  Peer c1, c2;
  ASSERT_TRUE(c1.connect(port));
  ASSERT_TRUE(daemon->waitErr("controller connect."));
  ASSERT_TRUE(c2.connect(port));
  EXPECT_TRUE(c2.closed());
  EXPECT_TRUE(daemon->waitErr("refuse connection from 127.0.0.1:" + std::to_string(c2.local_port())));
  ASSERT_TRUE(c1.send(kPingFrame));
  EXPECT_EQ(hex(c1.recv(14)), std::string(kPowerUnknown) + " 03 00 00 08 80 01 01 40");

  const std::string a1 = "127.0.0.1:" + std::to_string(c1.local_port());
  c1.close();
  ASSERT_TRUE(daemon->waitErr("control connection " + a1 + " closed.\n"));
  ToolRun r = session("{ seq 9, pdu command : ping : NULL }\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(messages(r.out), (std::vector<std::string>{kPowerUnknownText, "{ seq 9, pdu response : success : NULL }"}));
}

// A controller that closes and connects again at once finds the daemon
// still holding its old link, whose end is pending but not yet handled,
// or taking leave of it: each new connection must be served all the same.
TEST_F(DaemonTest, AControllerThatComesBackAtOnceIsServedEveryTime) {
  const std::string answered = std::string(kPowerUnknown) + " 03 00 00 08 80 01 01 40";
  Peer c;
  ASSERT_TRUE(c.connect(port));
  ASSERT_TRUE(c.send(kPingFrame));
  ASSERT_EQ(hex(c.recv(14)), answered);
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(c.connect(port));  // closes the previous one first
    ASSERT_TRUE(c.send(kPingFrame));
    ASSERT_EQ(hex(c.recv(14, 5000)), answered) << "connection " << i + 2 << "\n" << daemon->err();
  }
  EXPECT_EQ(daemon->err().find("refuse connection"), std::string::npos) << daemon->err();
}

// Without a terminal the first text that does not read ends the session:
// it and what follows are not sent, what was sent before is answered.
TEST_F(DaemonTest, TheClientSaysWhatWentWrongAndWhere) {
  ToolRun r = session(
      "{ seq 1, pdu command : ping : NULL }\n"
      "{ seq 2,\n  pdu command : no-such-thing : NULL }\n"
      "{ seq 3, pdu command : ping : NULL }\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "qvctl: line 3, column 17: not an LGCP::Message: expected query, testBpc, connect, disconnect, create, "
            "destroy, activate, deactivate, userData, ioctl, trunkCfg, clockCfg, ping, display or protoLemz for "
            "command, found no-such-thing\n");
  EXPECT_EQ(messages(r.out), (std::vector<std::string>{kPowerUnknownText, "{ seq 1, pdu response : success : NULL }"}));
  r = session("{ seq 1,\n  slot 4 -- a comment\n  pdu command : ping : NULL }");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: line 3, column 3: not an LGCP::Message: expected ',' or '}' after slot, found pdu\n");
  r = session("{ seq 1, slot 1024, pdu command : ping : NULL }");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: line 1, column 1: the message cannot be encoded: { seq 1, slot 1024, pdu command : ping : NULL }\n");
  r = session("\n  { seq 1, pdu command : ping : NULL ");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: the input ends inside the value that begins at line 2, column 3\n");
  r = session("ping\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: line 1, column 1: text outside a value: ping\n");
  // Nothing listens there any more.
  daemon->signal(SIGTERM);
  daemon->wait();
  r = session("");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused\n");
}

// At a terminal the person typing is told the same and goes on: the next
// line is read and sent. End-of-file typed there ends the session, whose
// exit code still says that something was refused.
TEST_F(DaemonTest, AtATerminalTheSessionGoesOnAfterALineThatDoesNotRead) {
  QvctlSession s(port, {}, true);
  EXPECT_EQ(s.send("{ seq 1, pdu command : ping : NULL }\n"),
            (std::vector<std::string>{kPowerUnknownText, "{ seq 1, pdu response : success : NULL }"}));
  EXPECT_EQ(s.send("{ seq 2, pdu command : pnig : NULL }\n"
                   "ping\n"
                   "{ seq 3, slot 4,\n"
                   "  pdu command : ping : NULL }\n"),
            (std::vector<std::string>{"{ seq 3, slot 4, pdu response : success : NULL }"}));
  EXPECT_EQ(s.finish(), 1);
  EXPECT_EQ(s.errors(),
            "qvctl: line 2, column 24: not an LGCP::Message: expected query, testBpc, connect, disconnect, create, "
            "destroy, activate, deactivate, userData, ioctl, trunkCfg, clockCfg, ping, display or protoLemz for "
            "command, found pnig\n"
            "qvctl: line 3, column 1: text outside a value: ping\n");
}

// A session asked to stay goes on printing what the board sends after its
// last answer and the end of its input: here the resources report that a
// SIGHUP to the daemon sends, asked for only then. Interrupted, it leaves
// at once; a stay of a given time ends on its own.
TEST_F(DaemonTest, AStayingSessionPrintsWhatComesAfterItsLastAnswer) {
  QvctlSession s(port, {"--stay", "forever"});
  EXPECT_EQ(s.send("{ seq 1, pdu command : ping : NULL }\n"),
            (std::vector<std::string>{kPowerUnknownText, "{ seq 1, pdu response : success : NULL }"}));
  s.endInput();
  daemon->signal(SIGHUP);
  const std::vector<std::string> got = s.read(0, "pdu signal : query");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("{ pdu signal : query : {", 0), 0u) << got[0];
  EXPECT_EQ(s.interrupt(), 0);
  EXPECT_EQ(s.errors(), "");
  EXPECT_TRUE(daemon->waitErr("closed.\n"));

  QvctlSession t(port, {"--stay", "200"});
  EXPECT_EQ(t.send("{ seq 1, pdu command : ping : NULL }\n").size(), 2u);
  EXPECT_EQ(t.finish(), 0);
  EXPECT_EQ(t.errors(), "");
}

// A session keeps its link whenever it has sent no command for the
// keep-alive period, also while its input is still open (a pause at a
// terminal, a pipe that waits): the daemon drops a controller silent for
// twice that. Here a stand-in for the daemon watches the gaps, the period
// shortened for the test. The pings' answers are neither printed nor
// taken for the answer that a message of the session's own still waits
// for, which alone decides when the session ends.
TEST(Qvctl, ASilentSessionKeepsItsLinkWhileItsInputIsOpen) {
  const int period = 150, allowance = 2 * period + 700;
  int port = 0;
  const int listener = listenLoopback(port);
  ASSERT_GE(listener, 0);
  QvctlSession s(port, {}, false, {"QVCTL_KEEPALIVE_MS=" + std::to_string(period)});
  pollfd connecting{listener, POLLIN, 0};
  ASSERT_EQ(::poll(&connecting, 1, 5000), 1);
  Peer board(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  ::close(listener);
  s.send("{ seq 1, pdu command : ping : NULL }\n", 0);
  EXPECT_EQ(hex(board.recv(8)), "03 00 00 08 80 01 01 18");

  // No seq, no slot (00), command (00), no extension (0), ping 12 (1100):
  // 0000 0110 0; its answer success without seq or slot: 00 01 0.
  const std::string ping = "03 00 00 06 06 00";
  const Bytes pingAnswer = {0x03, 0x00, 0x00, 0x05, 0x10};
  auto pingsWithin = [&](int ms) {
    unsigned pings = 0;
    const unsigned end = now_ms() + static_cast<unsigned>(ms);
    while (static_cast<int>(end - now_ms()) > 0) {
      const Bytes got = board.recv(6, allowance);
      if (got.empty()) break;
      for (size_t at = 0; at < got.size(); at += 6) {
        EXPECT_EQ(hex(Bytes(got.begin() + at, got.begin() + std::min(at + 6, got.size()))), ping);
        EXPECT_TRUE(board.send(pingAnswer));
        ++pings;
      }
    }
    return pings;
  };
  unsigned pings = pingsWithin(10 * period);
  EXPECT_GE(pings, 4u);
  EXPECT_LE(pings, 11u);

  // The input ends with the message still unanswered: the session waits
  // for its answer (up to --wait 3000), pinging meanwhile.
  s.endInput();
  EXPECT_GE(pingsWithin(3 * period), 1u);
  ASSERT_TRUE(board.send({0x03, 0x00, 0x00, 0x08, 0x80, 0x01, 0x01, 0x40}));
  EXPECT_EQ(s.finish(), 0);
  EXPECT_EQ(s.read(99), (std::vector<std::string>{"{ seq 1, pdu response : success : NULL }"}));
  EXPECT_EQ(s.errors(), "");
}

// The codec faces of the client, checked against bytes worked out by hand
// from the aligned PER rules.
TEST(Qvctl, EncodeAndDecodeByHand) {
  TestRoot root;
  struct Case {
    const char* type;
    const char* value;
    const char* bytes;
  } cases[] = {
      // presence 1 0, seq: length 01 value 01, pdu command 00, ext 0, ping 12 = 1100
      {"LGCP::Message", "{ seq 1, pdu command : ping : NULL }", "80 01 01 18"},
      // pdu response 01, success 0
      {"LGCP::Message", "{ seq 1, pdu response : success : NULL }", "80 01 01 40"},
      // pdu response 01, error 1, ext 0, cause 4 of 0..12 = 0100
      {"LGCP::Message", "{ seq 1, pdu response : error : unexpectedMsgType }", "80 01 01 64"},
      // both present, seq 300 = 01 2C in two octets, slot 1023 in two
      // aligned octets, command 00, ext 0, destroy 5 = 0101
      {"LGCP::Message", "{ seq 300, slot 1023, pdu command : destroy : NULL }", "C0 02 01 2C 03 FF 0A"},
      // no seq or slot: 00, then command 00, ext 0, query 0000: nine bits
      {"LGCP::Message", "{ pdu command : query : NULL }", "00 00"},
      // a negative seq is two's complement: length 1, FF
      {"LGCP::Message", "{ seq -1, pdu command : ping : NULL }", "80 01 FF 18"},
      {"LGCP::ErrorCause", "destroyInProgress", "60"},
  };
  for (const Case& c : cases) {
    ToolRun e = qvctl({"encode", c.type}, c.value, root.dir());
    EXPECT_EQ(e.code, 0) << c.value << e.err;
    EXPECT_EQ(e.out, std::string(c.bytes) + "\n") << c.value;
    ToolRun d = qvctl({"decode", c.type, c.bytes}, "", root.dir());
    EXPECT_EQ(d.code, 0) << c.bytes << d.err;
    std::vector<std::string> m = messages(d.out);
    if (c.value[0] == '{') {
      ASSERT_EQ(m.size(), 1u);
      EXPECT_EQ(m[0], c.value);
    } else {
      EXPECT_EQ(d.out, std::string(c.value) + "\n");
    }
  }
}

TEST(Qvctl, ErrorsAreOneLineAndNonZero) {
  TestRoot root;
  ToolRun r = qvctl({"encode", "LGCP::Nothing"}, "{}", root.dir());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: unknown type LGCP::Nothing\n");
  r = qvctl({"encode", "LGCP::Message"}, "{ seq 1 }", root.dir());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: the input is not one value of LGCP::Message\n");
  r = qvctl({"encode", "LGCP::Message"}, "{ seq 1, pdu command : ping : NULL } trailing", root.dir());
  EXPECT_EQ(r.code, 1);
  r = qvctl({"decode", "LGCP::Message", "8G"}, "", root.dir());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: not hexadecimal bytes: 8G\n");
  r = qvctl({"decode", "LGCP::Message", "80"}, "", root.dir());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "qvctl: the bytes do not decode as LGCP::Message\n");
  // A command whose alternative is an extension this side does not know
  // decodes (its contents are skipped) but cannot be printed: nothing on
  // standard output, not half a value.
  r = qvctl({"decode", "LGCP::Message", "080200"}, "", root.dir());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qvctl: the value of LGCP::Message cannot be printed\n");
  r = qvctl({"frobnicate"}, "", root.dir());
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err.rfind("qvctl: unknown command frobnicate\nusage: qvctl encode TYPE\n", 0), 0u) << r.err;
  r = qvctl({"session", "--port", "70000"}, "", root.dir());
  EXPECT_EQ(r.code, 2);
}
