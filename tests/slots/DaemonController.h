#pragma once
// The built daemon on the stand-in board under a root of its own, and a
// qvctl controller that hears only what concerns its slots.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DaemonProcess.h"
#include "control/ControlTestUtil.h"
#include "control/QvctlTestUtil.h"

namespace slots_test {

// What the controller hears of the slots: the board's power reports of a
// new connection and the trunk status reports of every second left out.
inline std::vector<std::string> slotsOnly(std::vector<std::string> got) {
  got.erase(std::remove_if(got.begin(), got.end(),
                           [](const std::string& m) {
                             return m.find("pdu signal : power") != std::string::npos ||
                                    m.find("pdu signal : trunkStatus") != std::string::npos;
                           }),
            got.end());
  return got;
}

// A controller that hears only the slots.
struct Controller : qvctl_test::QvctlSession {
  using QvctlSession::QvctlSession;
  std::vector<std::string> send(const std::string& text, size_t answers = 1, const std::string& until = "") {
    return slotsOnly(QvctlSession::send(text, answers, until));
  }
  std::vector<std::string> read(size_t answers, const std::string& until) {
    return slotsOnly(QvctlSession::read(answers, until));
  }
};

// The daemon, started on a free control port and listening.
struct DaemonTest : ::testing::Test {
  void SetUp() override {
    ::setenv("QUORVAD_BOARD", "standin", 1);
    port = ctl_test::free_port();
    daemon.reset(new app_test::DaemonProcess(root, {"--port", std::to_string(port)}));
    ASSERT_TRUE(daemon->waitStarted()) << daemon->err();
    ASSERT_TRUE(app_test::waitUntil([&] { return qvctl_test::listening(port); }));
  }
  void TearDown() override { ::unsetenv("QUORVAD_BOARD"); }

  app_test::TestRoot root;
  int port = 0;
  std::unique_ptr<app_test::DaemonProcess> daemon;
};

}  // namespace slots_test
