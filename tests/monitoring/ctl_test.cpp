// The monitoring service on the stand-in board and the test clock: what
// the three timers read and send, the full resend to an agent that
// connects (again), the framer LEDs, the controller check and the
// configuration scan.
#include "monitoring/MonitoringCtl.h"
#include "board/Hal.h"
#include "board/StandInFixture.h"
#include "config/IniFile.h"
#include "control/EndpointTestUtil.h"
#include "runtime/TestClock.h"
#include "AgentPeer.h"
#include "MonTestUtil.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>

extern "C" DIR* __real_opendir(const char* path);
extern "C" DIR* __wrap_opendir(const char* path);

using namespace mon_test;
using ctl_test::settle;

namespace {

class MonitoringService : public ::testing::Test {
protected:
  void SetUp() override {
    board_ = &testboard::useStandIn();
    root_.reset(new RootDir);
    board_->clearFailures();
    hal().setDip(0x5A);
    hal().setPower(0);
    ledsBefore_ = hal().ledHistory().size();
  }
  void TearDown() override { board_->clearFailures(); }

  Board::Hal& hal() { return board_->hal(); }
  std::vector<uint8_t> leds() {
    auto all = hal().ledHistory();
    return std::vector<uint8_t>(all.begin() + long(ledsBefore_), all.end());
  }
  void configure(MonitoringCtl& m, const std::string& text) {
    std::istringstream in(text);
    in >> config_;
    m.Configure(config_);
  }
  // Moves the clock to `ms` after the service was made, one pass at a time.
  void runTo(Mux::TestClock& clock, unsigned start, unsigned ms, AgentPeer* agent = nullptr) {
    // Without an agent to feed, 10 ms steps: every period is a multiple.
    const unsigned step = agent ? 1 : 10;
    while (Mux::milliseconds() - start < ms) {
      clock.advance(step);
      multiplexer.run_once();
      if (agent) agent->poll();
    }
    // Let the kernel carry what the last passes wrote.
    for (int i = 0; agent && i < 20; ++i) {
      ::usleep(500);
      multiplexer.run_once();
      agent->poll();
    }
  }
  const RootDir& root() const { return *root_; }

  Board::StandIn* board_ = nullptr;
  std::unique_ptr<RootDir> root_;
  size_t ledsBefore_ = 0;
  IniFile::File config_;
};

LGCP::Command displayCmd(const std::string& text) { return avn<LGCP::Command>("display : " + text); }

// The process list a process scan reads ("/proc" opened as a directory)
// while one of these lives: a directory of the test's own holding an entry
// for each process the test chooses to show. What a process is named is
// still read from the real /proc. The program is linked with opendir
// wrapped (see CMakeLists.txt).
std::string g_processView;

class ProcessView {
public:
  ProcessView(const std::string& dir, std::initializer_list<pid_t> pids) {
    std::filesystem::create_directories(dir);
    for (pid_t p : pids) spill(dir + "/" + std::to_string(p), "");
    g_processView = dir;
  }
  ~ProcessView() { g_processView.clear(); }
  ProcessView(const ProcessView&) = delete;
  ProcessView& operator=(const ProcessView&) = delete;
};

}  // namespace

DIR* __wrap_opendir(const char* path) {
  if (path && !g_processView.empty() && std::strcmp(path, "/proc") == 0) return __real_opendir(g_processView.c_str());
  return __real_opendir(path);
}

TEST_F(MonitoringService, ChecksOnTheirTimersAndTheFullResendToAConnectingAgent) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  ctl_test::StampedLog log;
  spill(root().path("/proc/voice/version"), "voice driver 2.4.1 build 77\n");
  spill(root().path("/proc/driver/hdlc/peb22554/1"), "Current state           : No Carrier\n");
  spill(root().path("/proc/temperature"), "41 C\n");
  spill(root().path("/var/version"), "T230915\n");
  AgentPeer agent;
  MonitoringCtl::softwareBuild("T230915-1620");
  MonitoringCtl m;
  const unsigned t0 = Mux::milliseconds();
  configure(m, "[snmpagent]\nhost = " + agent.address() + "\nname = kavrel\n");
  ASSERT_EQ(m.holder().GetFramers().size(), 1u);
  EXPECT_EQ(m.holder().GetFramers().front().number(), 2);

  // The agent connects before any check: everything, with the values not
  // read yet.
  ASSERT_TRUE(settle([&] { agent.poll(); return !agent.sets().empty(); })) << log.all();
  EXPECT_EQ(Mux::milliseconds() - t0, 0u);
  std::vector<std::string> first(agent.items());
  for (std::string& i : first) i = i.substr(i.find(' ') + 1);
  ASSERT_GE(first.size(), 12u) << log.all();
  EXPECT_EQ(std::vector<std::string>(first.begin(), first.begin() + 12),
            (std::vector<std::string>{
                "gatewayCommon.driverBuild[0]=driver [2.4.1 build]",
                "gatewayCommon.softwareBuild[0]=T230915-1620",
                "gatewayCommon.powerStatus[0]=0",
                "gatewayCommon.controllerStatus[0]=0",
                "gatewayCommon.gatewayDip[0]=4294967295",
                "gatewayCommon.gatewayConfigVersion[0]=4294967295",
                "gatewayCommon.temperature[0]=",
                "e1Table.e1Connected[2]=0",
                "e1Table.e1StatusDsc[2]=absent",
                "e1Table.e1SignalLoss[2]=1",
                "e1Table.e1FrameAlignLoss[2]=1",
                "e1Table.e1NegSlipCount[2]=0",
            }));
  EXPECT_EQ(agent.sets().size(), 1u) << "one message for the whole resend";
  agent.clear();

  // 1000 ms: versions, configuration, framers, temperature.
  runTo(clock, t0, 1000, &agent);
  EXPECT_EQ(agent.column("temperature"), std::vector<std::string>{"gatewayCommon.temperature[0]=41"});
  EXPECT_EQ(agent.column("e1StatusDsc"), std::vector<std::string>{"e1Table.e1StatusDsc[2]=No Carrier"});
  EXPECT_TRUE(agent.column("sgBuildVersion").empty()) << "a kind-4 item";
  EXPECT_EQ(m.holder().getBuildVersion(), "T230915\n");
  EXPECT_TRUE(agent.column("gatewayDip").empty());
  agent.clear();

  // 2000 ms: power (byte 0 counts as both), DIP; the hardware was opened
  // with every LED off.
  runTo(clock, t0, 2000, &agent);
  EXPECT_EQ(agent.column("powerStatus"), std::vector<std::string>{"gatewayCommon.powerStatus[0]=3"});
  EXPECT_EQ(agent.column("gatewayDip"), std::vector<std::string>{"gatewayCommon.gatewayDip[0]=90"});
  EXPECT_EQ(slurp(root().mon("dip")), "90");
  EXPECT_EQ(slurp(root().mon("powerstatus")), "3");
  EXPECT_EQ(leds(), std::vector<uint8_t>{0});
  agent.clear();

  // Every 2000 ms after that; only changes are sent. Bytes 4 and up are
  // unknown.
  hal().setPower(1);
  runTo(clock, t0, 4000, &agent);
  EXPECT_EQ(agent.column("powerStatus"), std::vector<std::string>{"gatewayCommon.powerStatus[0]=1"});
  hal().setPower(7);
  runTo(clock, t0, 6000, &agent);
  EXPECT_EQ(m.holder().getPowerStatus().asInt(), 0);
  EXPECT_TRUE(agent.column("gatewayDip").empty());
  // 5000 ms: the controller check; not connected (whether a local
  // controller runs depends on the machine: the test below sees to that).
  EXPECT_EQ(agent.column("controllerStatus").size(), 1u);

  // A power request that fails changes nothing.
  board_->failRequest(MonitoringCtl::kPowerRequest, EIO, false);
  hal().setPower(2);
  runTo(clock, t0, 8000, &agent);
  EXPECT_EQ(m.holder().getPowerStatus().asInt(), 0);
  board_->clearFailures();

  // The agent drops the link: 10 s later it is back and gets everything
  // again, now with the values read.
  agent.drop();
  agent.clear();
  runTo(clock, t0, 8000 + 10000 + 50, &agent);
  ASSERT_TRUE(settle([&] { agent.poll(); return !agent.column("gatewayDip").empty(); })) << log.all();
  EXPECT_EQ(agent.accepted(), 2);
  EXPECT_EQ(agent.column("gatewayDip"), std::vector<std::string>{"gatewayCommon.gatewayDip[0]=90"});
  EXPECT_EQ(agent.column("powerStatus"), std::vector<std::string>{"gatewayCommon.powerStatus[0]=2"});
  EXPECT_EQ(agent.column("temperature"), std::vector<std::string>{"gatewayCommon.temperature[0]=41"});
}

TEST_F(MonitoringService, TheFramerLedsFollowTheControllersReports) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  ctl_test::Capture cap;
  {
    MonitoringCtl m;
    EXPECT_FALSE(m.OnCommand(avn<LGCP::Command>("ping : NULL")));
    // Framer 2: the line comes up (link bit set until the link is up), the
    // link comes up, the line goes down.
    EXPECT_TRUE(m.OnCommand(displayCmd("framer : { e1 2, info line : TRUE }")));
    EXPECT_TRUE(m.OnCommand(displayCmd("framer : { e1 2, info line : TRUE }")));
    EXPECT_TRUE(m.OnCommand(displayCmd("framer : { e1 2, info link : TRUE }")));
    EXPECT_TRUE(m.OnCommand(displayCmd("framer : { e1 0, info link : FALSE }")));
    EXPECT_TRUE(m.OnCommand(displayCmd("framer : { e1 2, info line : FALSE }")));
  }
  // Opened with all off; 0x30, again 0x30 (the link bit is not set again
  // once the line is up), 0x20, 0x21, 0x01; all off at the end.
  EXPECT_EQ(leds(), (std::vector<uint8_t>{0x00, 0x30, 0x30, 0x20, 0x21, 0x01, 0x00}));
}

TEST_F(MonitoringService, WithoutTheHardwareDeviceTheRestGoesOn) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  ctl_test::Capture cap;
  board_->failOpen("/dev/hal", ENOENT, false);
  MonitoringCtl m;
  const unsigned t0 = Mux::milliseconds();
  EXPECT_TRUE(m.OnCommand(displayCmd("framer : { e1 1, info line : TRUE }")));
  EXPECT_TRUE(m.OnCommand(displayCmd("termCounter : { owner router, cnt 3 }")));
  runTo(clock, t0, 5000);
  EXPECT_FALSE(m.halOpen());
  EXPECT_EQ(m.holder().getDipValue(), -1);
  EXPECT_EQ(slurp(root().mon("term_cnts/router")), "3");
  EXPECT_TRUE(leds().empty());
  // Once it is there, the next check opens it.
  board_->clearFailures();
  runTo(clock, t0, 6000);
  EXPECT_TRUE(m.halOpen());
  EXPECT_EQ(m.holder().getDipValue(), 0x5A);
}

TEST_F(MonitoringService, ALocalControllerProgramIsNotConnectedRatherThanNotRunning) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  ctl_test::Capture cap;
  const std::string prog = root().path("/controller");
  std::filesystem::copy_file("/bin/sleep", prog);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(prog.c_str(), "controller", "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Ended on any way out of the test.
  struct Reap {
    pid_t pid;
    ~Reap() {
      if (pid <= 0) return;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reap{pid};
  // The scan sees this process and the child only: whatever else runs on
  // the machine, named "controller" or not, is not the test's.
  ProcessView view(root().path("/proc-view"), {::getpid(), pid});
  MonitoringCtl m;
  const unsigned t0 = Mux::milliseconds();
  // The exec can take a while on a loaded machine: wait up to 10 s for it.
  bool found = false;
  for (int i = 0; i < 2000 && !found; ++i) {
    found = find_proc_by_name("controller", -1) == pid;
    if (!found) ::usleep(5000);
  }
  ASSERT_TRUE(found);
  runTo(clock, t0, 5000);
  EXPECT_EQ(m.holder().getSelfControllerStatus().asInt(), 4);
  const std::string self = m.holder().getSelfHostAddress().GetStrAddr();
  EXPECT_EQ(slurp(root().mon("controller/" + self + "/status")), "4");
  // Gone, though still listed: not running.
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  reap.pid = -1;
  runTo(clock, t0, 10000);
  EXPECT_EQ(m.holder().getSelfControllerStatus().asInt(), 5);
}

TEST_F(MonitoringService, TheConfigurationScan) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  ctl_test::Capture cap;
  const std::string etc = root().path("/usr/local/etc/");
  spill(etc + "config.2save.tar.bz2", "");
  MonitoringCtl m;
  const unsigned t0 = Mux::milliseconds();
  runTo(clock, t0, 1000);
  EXPECT_EQ(m.holder().getConfigVersion(), 0xFFFFFFFFu) << "the saved archive is not a configuration";
  EXPECT_FALSE(exists(root().mon("config_version")));
  EXPECT_EQ(std::filesystem::current_path().string() + "/", etc);

  spill(etc + "config.0000002a.00000000000000ff.tar", "");
  std::filesystem::create_directories(etc + "config.00000001.0000000000000001");
  runTo(clock, t0, 61000);
  EXPECT_EQ(m.holder().getConfigVersion(), 42u);
  EXPECT_EQ(slurp(root().mon("config_version")), "0000002a-00000000000000ff");
  std::filesystem::current_path("/");
}

TEST_F(MonitoringService, AnEmPhoneRowIsItsIdPlusOneAlsoAtTheLimitOfTheIndex) {
  Mux::TestClock clock(Mux::TestClock::Manual);
  ctl_test::StampedLog log;
  AgentPeer agent;
  MonitoringCtl m;
  configure(m, "[snmpagent]\nhost = " + agent.address() + "\nname = kavrel\n");
  ASSERT_TRUE(settle([&] { agent.poll(); return !agent.sets().empty(); })) << log.all();
  agent.clear();

  // The index is 32 bits wide: the largest id takes the row after it modulo
  // 2^32, the smallest; id -1 takes row 0, id 0 row 1.
  for (const char* id : {"2147483647", "-1", "0"})
    EXPECT_TRUE(m.OnCommand(displayCmd(std::string("emPhone : phoneStatus : { id ") + id +
                                       ", panelSV '41'H, ctrlSV '42'H, fpgaSV '43'H, status ready, powerStatus "
                                       "both, mode sleep, hookStatus connected, baseStatus disconnected }")));
  ASSERT_TRUE(settle([&] { agent.poll(); return agent.column("emPhoneStatus").size() == 3; })) << log.all();
  EXPECT_EQ(agent.column("emPhoneStatus"), (std::vector<std::string>{"emPhoneTable.emPhoneStatus[-2147483648]=2",
                                                                     "emPhoneTable.emPhoneStatus[0]=2",
                                                                     "emPhoneTable.emPhoneStatus[1]=2"}));
  EXPECT_EQ(agent.column("emPhonePanelSoftVer").front(), "emPhoneTable.emPhonePanelSoftVer[-2147483648]=A");
}
