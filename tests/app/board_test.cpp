// The daemon on the stand-in board, seen from outside: the switch it set up
// at start-up is read back through the board's own control interface, as a
// user of the README's run command would.
#include "DaemonProcess.h"
#include "control/ControlTestUtil.h"
#include "control/QvctlTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {
using namespace app_test;

std::string qvboard(const TestRoot& root, const std::string& args) { return app_test::qvboard(root.dir(), args); }

size_t countLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

size_t openDescriptors(pid_t pid) {
  size_t n = 0;
  if (DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

TEST(DaemonOnStandIn, TheSwitchOfTheRunningDaemonIsReadThroughTheBoard) {
  ::setenv("QUORVAD_BOARD", "standin", 1);
  TestRoot root;
  DaemonProcess d(root, {"--port", "0"});
  ASSERT_TRUE(d.waitStarted()) << d.err();
  EXPECT_NE(d.err().find("hwMux: device opened"), std::string::npos) << d.err();

  // Every bus channel was disabled once at start-up, in order.
  EXPECT_EQ(qvboard(root, "hal channel 8192 8193"),
            "8192 disabled seen 0xFF\n8193 disabled seen 0xFF\n");
  EXPECT_EQ(qvboard(root, "hal channel 10239"), "10239 disabled seen 0xFF\n");
  const std::string log = qvboard(root, "log 0x80044D03");
  EXPECT_GE(countLines(log), 2048u);
  EXPECT_NE(log.find("disable ch=8192 = 0"), std::string::npos);
  EXPECT_LT(log.find("disable ch=8192 = 0"), log.find("disable ch=10239 = 0"));

  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
  ::unsetenv("QUORVAD_BOARD");
}

TEST(DaemonOnStandIn, WithoutABoardTheDaemonStillRuns) {
  ::unsetenv("QUORVAD_BOARD");
  TestRoot root;
  DaemonProcess d(root, {"--port", "0"});
  ASSERT_TRUE(d.waitStarted()) << d.err();
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
  EXPECT_EQ(d.err().find("hwMux: device opened"), std::string::npos);
}

// Under the sanitizers the daemon's leak check runs at its exit, and ends
// it with a non-zero code when something was not freed.
TEST(DaemonOnStandIn, TheMixerUnitsItKnewAreFreedAtTheEnd) {
  ::setenv("QUORVAD_BOARD", "standin", 1);
  TestRoot root;
  DaemonProcess d(root, {"--port", "0"});
  ASSERT_TRUE(d.waitStarted()) << d.err();
  EXPECT_EQ(qvboard(root, "mixer unit 1 32 8"), "");
  EXPECT_EQ(qvboard(root, "mixer unit 2 32 8"), "");
  // The resources update finds the units.
  d.signal(SIGHUP);
  ASSERT_TRUE(d.waitErr("mixer [2]: clear all inputs")) << d.err();

  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0) << d.err();
  EXPECT_EQ(d.err().find("LeakSanitizer"), std::string::npos) << d.err();
  ::unsetenv("QUORVAD_BOARD");
}

// Each MCC data slot holds a controller channel, two descriptors on the
// stand-in: 500 of them need about 1000, far past the soft limit of 256
// the daemon is started with.
TEST(DaemonOnStandIn, SlotsPastTheSoftDescriptorLimitItWasStartedWith) {
  const rlim_t kLow = 256, kSlots = 500, kNeeded = 2048;
  rlimit was{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
  if (was.rlim_max != RLIM_INFINITY && was.rlim_max < kNeeded)
    GTEST_SKIP() << "the hard descriptor limit " << was.rlim_max << " is below " << kNeeded;
  ::setenv("QUORVAD_BOARD", "standin", 1);
  TestRoot root;
  const int port = ctl_test::free_port();
  rlimit low = was;
  low.rlim_cur = kLow;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  DaemonProcess d(root, {"--port", std::to_string(port)});
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &was), 0);
  ASSERT_TRUE(d.waitStarted()) << d.err();
  ASSERT_TRUE(waitUntil([&] { return qvctl_test::listening(port); }));
  EXPECT_NE(d.err().find("descriptor limit " + std::to_string(was.rlim_max) + "\n"), std::string::npos) << d.err();
  EXPECT_EQ(qvboard(root, "mcc pool data " + std::to_string(kSlots)), "");

  qvctl_test::QvctlSession c(port);
  size_t done = 0;
  for (unsigned first = 100; first < 100 + kSlots; first += 50) {
    std::string text;
    for (unsigned slot = first; slot < first + 50; ++slot)
      text += "{ seq 1, slot " + std::to_string(slot) + ", pdu command : create : mcc : { type data, mode standard } }\n";
    for (const std::string& m : c.send(text, 50)) done += m.find("pdu response : success") != std::string::npos;
  }
  EXPECT_EQ(done, kSlots) << d.err().substr(d.err().size() > 2000 ? d.err().size() - 2000 : 0);
  EXPECT_GT(openDescriptors(d.pid()), 2 * kSlots);
  c.finish();
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
  ::unsetenv("QUORVAD_BOARD");
}

}  // namespace
