// The daemon on the stand-in board, seen from outside: the switch it set up
// at start-up is read back through the board's own control interface, as a
// user of the README's run command would.
#include "DaemonProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdlib.h>
#include <sys/wait.h>

namespace {
using namespace app_test;

std::string qvboard(const TestRoot& root, const std::string& args) { return app_test::qvboard(root.dir(), args); }

size_t countLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
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

}  // namespace
