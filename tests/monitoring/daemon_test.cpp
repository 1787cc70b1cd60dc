// The daemon on the stand-in board with a stand-in agent configured and a
// controller on its port: the agent is fed, the controller's display
// commands become files and items, a power change on the board reaches the
// controller, the framer LEDs follow its reports, and an agent sending
// garbage keeps its link, as the controller keeps its own.
#include "DaemonProcess.h"
#include "control/ControlTestUtil.h"
#include "protocol/LGCP/LGCP.h"
#include "AgentPeer.h"
#include "MonTestUtil.h"

#include <gtest/gtest.h>


using namespace ctl_test;
using app_test::DaemonProcess;
using app_test::TestRoot;
using app_test::waitUntil;
using mon_test::AgentPeer;

namespace {

std::string qvboard(const TestRoot& root, const std::string& args) { return app_test::qvboard(root.dir(), args); }

Bytes frame(const std::string& avn) {
  const LGCP::Message m = mon_test::avn<LGCP::Message>(avn);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  std::vector<char> body;
  ASN1::encode(m, &env, std::back_inserter(body));
  const std::vector<char> f = mon_test::tpkt(body);
  return Bytes(f.begin(), f.end());
}

bool agentHas(AgentPeer& a, const std::string& column, const std::string& item, int ms = 10000) {
  return waitUntil([&] {
    a.poll();
    for (const std::string& i : a.column(column))
      if (i == item) return true;
    return false;
  }, ms);
}

// The frames the controller receives, one at a time, without the trunk
// status signals that the board's trunk services send every second
// (signal 10, no extension 0, trunkStatus 11 of 23: 22 C0 after the
// presence bits).
class Frames {
 public:
  explicit Frames(Peer& c) : c_(c) {}
  std::string next(int ms = 2000) {
    const unsigned start = now_ms();
    for (;;) {
      while (buf_.size() >= 4 && buf_.size() >= size_t((buf_[2] << 8) | buf_[3])) {
        const size_t len = size_t((buf_[2] << 8) | buf_[3]);
        Bytes f(buf_.begin(), buf_.begin() + long(len));
        buf_.erase(buf_.begin(), buf_.begin() + long(len));
        const bool trunkStatus = len >= 6 && f[4] == 0x22 && (f[5] & 0xC0) == 0xC0;
        if (!trunkStatus) return hex(f);
      }
      const int left = ms - int(now_ms() - start);
      if (left <= 0) return hex(buf_);
      Bytes b = c_.recv(1, left);
      if (b.empty()) return hex(buf_);
      buf_.insert(buf_.end(), b.begin(), b.end());
    }
  }

 private:
  Peer& c_;
  Bytes buf_;
};

// The power signal as it goes out: no seq, no slot (00), signal (10), no
// extension (0), power 17 of 23 (10001), then the status in two bits.
const char kPowerBoth[] = "03 00 00 06 24 70";     // both 11
const char kPowerStandby[] = "03 00 00 06 24 50";  // standby 01
// { seq 1, pdu response : success : NULL }
const char kSuccess1[] = "03 00 00 08 80 01 01 40";

}  // namespace

TEST(MonitoringDaemon, AgentControllerAndBoardTogether) {
  ::setenv("QUORVAD_BOARD", "standin", 1);
  TestRoot root;
  AgentPeer agent;
  app_test::writeFile(root.configFile(), "[snmpagent]\nhost = " + agent.address() + "\nname = kavrel\n");
  const int port = free_port();
  DaemonProcess d(root, {"--port", std::to_string(port)});
  ASSERT_TRUE(d.waitStarted()) << d.err();

  // The agent connects and is brought up to date; the first power and DIP
  // reads follow 2 s after the start.
  ASSERT_TRUE(agentHas(agent, "gatewayDip", "gatewayCommon.gatewayDip[0]=0")) << d.out() << d.err();
  ASSERT_TRUE(agentHas(agent, "powerStatus", "gatewayCommon.powerStatus[0]=3"));
  EXPECT_TRUE(d.waitErr("snmpagent.kavrel " + agent.address() + ": connected.\n")) << d.err();

  Peer c;
  ASSERT_TRUE(c.connect(port));
  Frames in(c);
  EXPECT_EQ(in.next(), kPowerBoth);

  // A power change on the board: signalled within one power period.
  EXPECT_EQ(qvboard(root, "hal power 1"), "");
  EXPECT_EQ(in.next(5000), kPowerStandby);
  EXPECT_TRUE(agentHas(agent, "powerStatus", "gatewayCommon.powerStatus[0]=1"));
  EXPECT_EQ(app_test::readFile(root.path("/var/monitoring/powerstatus")), "1");

  // A board report: answered, filed, fed.
  ASSERT_TRUE(c.send(frame("{ seq 1, pdu command : display : board : boardStatus : "
                           "{ position 3, version '76312E32'H, status ready, type fxs } }")));
  EXPECT_EQ(in.next(), kSuccess1);
  EXPECT_EQ(app_test::readFile(root.path("/var/monitoring/board3")), "3\nv1.2\n2\n");
  EXPECT_TRUE(agentHas(agent, "extBoardSoftVer", "extBoardTable.extBoardSoftVer[3]=v1.2"));

  // The framer LEDs: framer 1's line comes up, then its link.
  ASSERT_TRUE(c.send(frame("{ seq 1, pdu command : display : framer : { e1 1, info line : TRUE } }")));
  EXPECT_EQ(in.next(), kSuccess1);
  EXPECT_EQ(qvboard(root, "hal led").substr(0, 9), "led 0x0C\n");
  ASSERT_TRUE(c.send(frame("{ seq 1, pdu command : display : framer : { e1 1, info link : TRUE } }")));
  EXPECT_EQ(in.next(), kSuccess1);
  EXPECT_EQ(qvboard(root, "hal led").substr(0, 9), "led 0x08\n");

  // A SET command naming a file outside the tree writes nothing there.
  ASSERT_TRUE(c.send(frame("{ seq 1, pdu command : display : snmp-set : { commands { { uniq 1, id name : "
                           "{ section \"..\", name \"run\", index 0 }, value \"x\" } } } }")));
  EXPECT_EQ(in.next(), kSuccess1);
  EXPECT_FALSE(mon_test::exists(root.path("/var/run/0")));

  // The agent sends garbage: a line, and both links go on; the next report
  // reaches the agent on the link it had.
  agent.clear();
  ASSERT_TRUE(agent.sendRaw({3, 0, 0, 7, char(0xDE), char(0xAD), 1}));
  ASSERT_TRUE(d.waitErr("snmpagent.kavrel " + agent.address() + ": receive : decode error!"));
  ASSERT_TRUE(c.send(frame("{ seq 1, pdu command : display : board : boardStatus : "
                           "{ position 3, version '76312E33'H, status ready, type fxs } }")));
  EXPECT_EQ(in.next(), kSuccess1);
  EXPECT_TRUE(agentHas(agent, "extBoardSoftVer", "extBoardTable.extBoardSoftVer[3]=v1.3"));
  EXPECT_EQ(agent.accepted(), 1);
  EXPECT_TRUE(agent.connected());
  EXPECT_EQ(d.err().find("connection lost"), std::string::npos) << d.err();

  // The controller leaves: its boards are forgotten.
  c.close();
  EXPECT_TRUE(waitUntil([&] { return !mon_test::exists(root.path("/var/monitoring/board3")); }));

  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
  // The monitoring files are gone.
  EXPECT_FALSE(mon_test::exists(root.path("/var/monitoring/powerstatus")));
  ::unsetenv("QUORVAD_BOARD");
}
