// The agent links against the stand-in agent on loopback: which agent kind
// gets which item and in how many messages, the configuration block, the
// ping and silence rules on the test clock, an agent's bad messages, and an
// agent that stops reading.
#include "config/IniFile.h"
#include "control/EndpointTestUtil.h"
#include "monitoring/SnmpAgent.h"
#include "monitoring/AgentPeer.h"
#include "runtime/TestClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

using ctl_test::StampedLog;
using ctl_test::settle;
using mon_test::AgentPeer;

namespace {

struct Config {
  explicit Config(const std::string& text) {
    std::istringstream in(text);
    in >> file;
  }
  IniFile::File file;
};

std::string block(const AgentPeer& a, const std::string& name) {
  return "[snmpagent]\nhost = " + a.address() + "\nname = " + name + "\n";
}

struct Connects : ISnmpAgentNotify {
  void OnSnmpAgentConnect(const std::string& name) override { names.push_back(name); }
  std::vector<std::string> names;
};

bool allConnected(SnmpAgentCtrl& ctrl, std::vector<AgentPeer*> peers) {
  return settle([&] {
    bool up = true;
    for (AgentPeer* p : peers) p->poll();
    for (auto& i : ctrl.instances()) up = up && (!i->started() || i->connection()->IsConnected());
    for (AgentPeer* p : peers) up = up && p->connected();
    return up;
  });
}

}  // namespace

TEST(SnmpAgentLink, EachKindGetsItsItemsAsOneMessagePerPassInQueueOrder) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  AgentPeer kavrel, vx, plain;
  Config c(block(kavrel, "kavrel") + block(vx, "lemzgw.vx") + block(plain, "lemzgw"));
  SnmpAgentCtrl ctrl;
  Connects heard;
  ctrl.CreateInstances(c.file["snmpagent"]);
  ctrl.Bind(&heard);
  ASSERT_TRUE(allConnected(ctrl, {&kavrel, &vx, &plain})) << log.all();
  EXPECT_EQ(heard.names, (std::vector<std::string>{"kavrel", "lemzgw.vx", "lemzgw"}));
  EXPECT_EQ(log.count("snmpagent.kavrel " + kavrel.address() + ": connected."), 1u) << log.all();

  // One pass: a both-kinds item, a kind-2 item, a kind-4 item.
  std::string dip = "7", temp = "41", fpga = "fpga-3";
  ctrl.Send(SnmpAgentCtrl::GatewayDip, dip);
  ctrl.Send(SnmpAgentCtrl::Temperature, temp);
  ctrl.Send(SnmpAgentCtrl::SgFPGAVersion, 5, fpga);
  ctrl.SendTrapsink({"10.0.0.9", "10.0.0.10"});
  ctrl.SendTrapsink({});
  ctrl.Send(MON::SnmpSetCommands());
  ASSERT_TRUE(settle([&] {
    kavrel.poll();
    vx.poll();
    plain.poll();
    return kavrel.sets().size() == 1 && vx.sets().size() == 1;
  }));
  // The both-kinds item is numbered for kind 2 first, then for kind 4.
  EXPECT_EQ(kavrel.sets()[0], (std::vector<std::string>{"1 gatewayCommon.gatewayDip[0]=7",
                                                        "3 gatewayCommon.temperature[0]=41"}));
  EXPECT_EQ(vx.sets()[0], (std::vector<std::string>{"2 gatewayCommon.gatewayDip[0]=7",
                                                    "4 statusGeneral.sgFPGAVersion[5]=fpga-3"}));
  // The trap receivers go to every agent at once, ahead of the batched
  // items, and carry no port; an empty list sends nothing.
  for (AgentPeer* p : {&kavrel, &vx, &plain}) {
    EXPECT_EQ(p->trapsinks(), (std::vector<std::vector<std::string>>{{"10.0.0.9", "10.0.0.10"}}));
    EXPECT_TRUE(p->messages().front().get_pdu().get_command().snmp_trapsink_set_isSelected());
  }
  EXPECT_TRUE(plain.sets().empty());

  // The lists were emptied: the next pass carries only its own item.
  std::string dip2 = "8";
  ctrl.Send(SnmpAgentCtrl::GatewayDip, dip2);
  ASSERT_TRUE(settle([&] {
    kavrel.poll();
    return kavrel.sets().size() == 2;
  }));
  EXPECT_EQ(kavrel.sets()[1], std::vector<std::string>{"5 gatewayCommon.gatewayDip[0]=8"});
}

TEST(SnmpAgentLink, ConfigurationBlocks) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  AgentPeer numbered;
  Config c(block(numbered, "2") + "[snmpagent]\nhost = 127.0.0.1:1\nname = kavrell\n" +
           "[snmpagent]\nhost = 127.0.0.1\nname = kavrel\n" + "[snmpagent]\nname = kavrel\n" +
           "[snmpagent]\nhost = agent.local:7\nname = kavrel\n");
  SnmpAgentCtrl ctrl;
  ctrl.CreateInstances(c.file["snmpagent"]);
  ASSERT_EQ(ctrl.instances().size(), 5u);
  auto it = ctrl.instances().begin();
  EXPECT_TRUE((*it)->started());
  EXPECT_EQ((*it)->kind(), SnmpAgentInstance::Kavrel);
  EXPECT_EQ((*it)->label(), "snmpagent.2 " + numbered.address());
  EXPECT_FALSE((*++it)->started());
  EXPECT_FALSE((*++it)->started());
  EXPECT_FALSE((*++it)->started());
  EXPECT_FALSE((*++it)->started());
  const auto errors = log.starting("snmpagent: ");
  ASSERT_EQ(errors.size(), 3u) << log.all();
  EXPECT_EQ(errors[2].text, "snmpagent: host \"agent.local:7\" is not an IPv4 address, line 12");
  EXPECT_EQ(errors[0].text, "snmpagent: required key \"name\" has invalid value=\"kavrell\", line 6");
  EXPECT_EQ(errors[0].stream, 'e');
  EXPECT_EQ(errors[1].text.rfind("snmpagent: required key \"host\" not present", 0), 0u);
  // The numbered agent is a kind-2 agent.
  ASSERT_TRUE(allConnected(ctrl, {&numbered}));
  std::string v = "x";
  ctrl.Send(SnmpAgentCtrl::E1StatusDsc, 2, v);
  ASSERT_TRUE(settle([&] {
    numbered.poll();
    return !numbered.items().empty();
  }));
  EXPECT_EQ(numbered.items(), std::vector<std::string>{"1 e1Table.e1StatusDsc[2]=x"});
}

TEST(SnmpAgentLink, PingsAfterFiveQuietSecondsAndDropsASilentAgentAtTheFirstSendAfterThirty) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  AgentPeer agent;
  Config c(block(agent, "kavrel"));
  SnmpAgentCtrl ctrl;
  Connects heard;
  ctrl.CreateInstances(c.file["snmpagent"]);
  ctrl.Bind(&heard);
  ASSERT_TRUE(allConnected(ctrl, {&agent}));
  SnmpAgentInstance& inst = *ctrl.instances().front();
  const std::string label = inst.label();
  const unsigned t0 = Mux::milliseconds();
  EXPECT_FALSE(inst.pingArmed()) << "no ping before the first send";

  std::string v = "1";
  ctrl.Send(SnmpAgentCtrl::PowerStatus, v);
  ASSERT_TRUE(settle([&] {
    agent.poll();
    return agent.sets().size() == 1;
  }));
  // 5000 ms after the last send, one ping; each ping re-arms the next.
  clock.advance(4999);
  multiplexer.run_once();
  agent.poll();
  EXPECT_EQ(agent.pings(), 0);
  for (int n = 1; n <= 7; ++n) {
    clock.advance(n == 1 ? 1 : 5000);
    ASSERT_TRUE(settle([&] {
      agent.poll();
      return agent.pings() == n;
    })) << n << "\n" << log.all();
  }
  // The sixth ping went out 30000 ms after the connection, the seventh
  // 35000 ms after it: only that one found the agent silent too long.
  EXPECT_EQ(Mux::milliseconds() - t0, 35000u);
  ASSERT_TRUE(settle([&] { return log.count(label + ": connection lost, reset snmpagent instance") == 1; }))
      << log.all();
  EXPECT_EQ(log.count(label + ": ping timeout !!! now=" + std::to_string(t0 + 35000) +
                      " stamp=" + std::to_string(t0)),
            1u)
      << log.all();
  EXPECT_FALSE(inst.pingArmed());

  // The link comes back on its own, and the listener hears it again.
  agent.poll();
  ASSERT_FALSE(agent.connected() && agent.accepted() == 2);
  clock.advance(10000);
  ASSERT_TRUE(allConnected(ctrl, {&agent})) << log.all();
  EXPECT_EQ(agent.accepted(), 2);
  EXPECT_EQ(heard.names.size(), 2u);
}

TEST(SnmpAgentLink, AnAnswerKeepsTheLinkAliveAndBadMessagesAreLogged) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  StampedLog log;
  AgentPeer agent;
  Config c(block(agent, "kavrel"));
  SnmpAgentCtrl ctrl;
  ctrl.CreateInstances(c.file["snmpagent"]);
  ASSERT_TRUE(allConnected(ctrl, {&agent}));
  const std::string label = ctrl.instances().front()->label();

  // An agent that answers every ping is never dropped.
  std::string v = "1";
  ctrl.Send(SnmpAgentCtrl::PowerStatus, v);
  ASSERT_TRUE(settle([&] {
    agent.poll();
    return agent.sets().size() == 1;
  }));
  MON::Message answer;
  answer.set_pdu().select_response().select_ping().select_success();
  for (int n = 1; n <= 10; ++n) {
    clock.advance(5000);
    ASSERT_TRUE(settle([&] {
      agent.poll();
      return agent.pings() == n;
    }));
    ASSERT_TRUE(agent.send(answer));
    multiplexer.run_once();
  }
  EXPECT_EQ(log.count(label + ": ping timeout"), 0u) << log.all();

  // A command from the agent is logged and changes nothing.
  MON::Message cmd;
  cmd.set_pdu().select_command().select_ping();
  ASSERT_TRUE(agent.send(cmd));
  ASSERT_TRUE(settle([&] { return log.count(label + ": receive unknown message type") == 1; }));
  EXPECT_TRUE(agent.connected());

  // 25 s without an answer, then a frame whose list claims more commands
  // than it can hold: pdu command (00), snmp-set (ext 0, 00),
  // SnmpSetCommands (ext 0), padding: 00; then the length C4, a fragment of
  // 4 x 16384 commands, and one octet behind it. The decoder refuses it;
  // TPKT delimited it, so the link is still in step: the frame is ignored,
  // but it is a sign of life.
  auto pingsReach = [&](int n) {
    clock.advance(5000);
    return settle([&] {
      agent.poll();
      return agent.pings() == n;
    });
  };
  for (int n = 11; n <= 15; ++n) ASSERT_TRUE(pingsReach(n)) << n << "\n" << log.all();
  ASSERT_TRUE(agent.sendRaw(mon_test::tpkt({0x00, char(0xC4), 0x00})));
  ASSERT_TRUE(settle([&] { return log.count(label + ": receive : decode error!") == 1; })) << log.all();
  EXPECT_EQ(log.starting(label + ": receive : decode error!")[0].stream, 'e');
  // 40 s after the last answer, 15 s after the frame: the link stays.
  for (int n = 16; n <= 18; ++n) ASSERT_TRUE(pingsReach(n)) << n << "\n" << log.all();
  EXPECT_EQ(log.count(label + ": ping timeout"), 0u) << log.all();
  EXPECT_EQ(log.count(label + ": connection lost"), 0u) << log.all();
  EXPECT_TRUE(agent.connected());
  EXPECT_EQ(agent.accepted(), 1);
}

TEST(SnmpAgentLink, AnAgentThatStopsReadingCostsNoMoreThanTheWriteBudget) {
  StampedLog log;
  AgentPeer agent(4096);
  Config c(block(agent, "kavrel"));
  SnmpAgentCtrl ctrl;
  ctrl.CreateInstances(c.file["snmpagent"]);
  ASSERT_TRUE(allConnected(ctrl, {&agent}));
  const std::string label = ctrl.instances().front()->label();
  agent.setReading(false);

  // Far more than both socket buffers hold, 50 kB per pass.
  std::string big(1000, 'v');
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ctl_test::pump([&] {
    for (int i = 0; i < 50; ++i) ctrl.Send(SnmpAgentCtrl::E1StatusDsc, i, big);
    return log.count(label + ": connection lost") == 1;
  }, 5000)) << log.all();
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_LT(spent, std::chrono::milliseconds(2500));
  EXPECT_FALSE(ctrl.instances().front()->connection()->IsConnected());
}
