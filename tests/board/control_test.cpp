// The stand-in's control commands, directly and through the qvboard
// client run as a process against the control socket.
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "board/Hal.h"
#include "board/Mcc.h"
#include "board/StandInFixture.h"
#include "hardware/Device.h"

using Board::Hal;
using Board::Mcc;
using testboard::StandInTest;

namespace {

bool contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

// Runs qvboard with the arguments; its output and exit status.
std::pair<std::string, int> qvboard(const std::string& args) {
  std::string cmd = std::string(QVBOARD_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {"", -1};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return {out, WIFEXITED(st) ? WEXITSTATUS(st) : -1};
}

TEST_F(StandInTest, CommandsReadAndSetTheModels) {
  int fd = Device::open("/dev/hal", O_RDWR);
  ASSERT_GE(fd, 0);
  testboard::Words<2> connect({8200, 5});
  ASSERT_EQ(Device::requestRecord(fd, Hal::kConnect, connect.b, 8), 0);
  testboard::Words<1> disable({8201});
  ASSERT_EQ(Device::requestRecord(fd, Hal::kDisable, disable.b, 4), 0);

  EXPECT_EQ(board().command("hal seen 5 0x3a"), "");
  EXPECT_EQ(board().command("hal channel 8200 8202"),
            "8200 listen 5 seen 0x3A\n8201 disabled seen 0xFF\n8202 untouched seen 0xFF\n");
  EXPECT_EQ(board().command("hal channel 5"), "5 untouched seen 0x3A (set)\n");
  EXPECT_EQ(board().command("hal spi reg 1 0x33 0x85"), "");
  EXPECT_EQ(board().hal().reg(1, 0x33), 0x85);
  EXPECT_EQ(board().command("hal spi reg 1 0x33"), "0x85\n");
  EXPECT_EQ(board().command("hal spi present off"), "");
  EXPECT_FALSE(board().hal().spiPresent());
  EXPECT_EQ(board().command("hal spi"), "absent\n");
  EXPECT_EQ(board().command("hal clock"), "clock none\n");

  std::string log = board().command("log 0x80044D03");
  EXPECT_TRUE(contains(log, "0x80044D03 disable ch=8201 = 0\n")) << log;
  EXPECT_FALSE(contains(log, "connect")) << log;
  EXPECT_EQ(board().command("log clear"), "");
  EXPECT_EQ(board().command("log"), "");

  EXPECT_EQ(board().command("fail request 0x80044D03 ENODEV once hal"), "");
  EXPECT_EQ(board().command("fail list"), "request 0x80044D03 ENODEV once /dev/hal\n");
  EXPECT_EQ(Device::requestRecord(fd, Hal::kDisable, disable.b, 4), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(board().command("fail list"), "");
  EXPECT_EQ(board().command("fail open /dev/hal 13"), "");
  EXPECT_EQ(Device::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(board().command("fail clear"), "");

  EXPECT_TRUE(contains(board().command("sessions"), " /dev/hal O_RDWR pending=0 draining=on\n"));
  EXPECT_EQ(board().command("bogus").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("hal channel x").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("hal frobnicate").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("fail request 0x1 ENOSUCH").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("").rfind("error: ", 0), 0u);
  Device::close(fd);
}

TEST_F(StandInTest, MccCommands) {
  board().mcc().setCapacity(Mcc::Ss7, 32);
  EXPECT_EQ(board().command("mcc pool ss7 3"), "");
  EXPECT_EQ(board().mcc().capacity(Mcc::Ss7), 3u);
  int fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
  testboard::Words<5> rec({Mcc::Ss7, 512, 0, 1, 4});
  ASSERT_EQ(Device::requestRecord(fd, Mcc::kAllocate, rec.b, 20), 0);
  int ch = Device::requestValue(fd, Mcc::kTimeslot, 0);
  std::string c = std::to_string(ch);
  EXPECT_TRUE(contains(board().command("mcc pools"), "ss7 capacity=3 used=1\n"));
  std::string list = board().command("mcc list");
  EXPECT_TRUE(contains(list, c + " s")) << list;
  EXPECT_TRUE(contains(list, "type=3 rxPacketSize=512 reserved=0 rxThreshold=1 txThreshold=4 "
                             "captured=0 pending=0 draining=on\n"))
      << list;

  ASSERT_EQ(Device::write(fd, "\x7E\x01", 2), 2);
  EXPECT_EQ(board().command("mcc captured " + c), "7E01\n");
  EXPECT_EQ(board().command("mcc captured " + c + " take"), "7E01\n");
  EXPECT_EQ(board().command("mcc captured " + c), "");
  EXPECT_EQ(board().command("mcc inject " + c + " 0a0B ff"), "");
  char buf[64];
  ASSERT_EQ(Device::read(fd, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "\x0A\x0B\xFF");
  EXPECT_EQ(board().command("mcc inject " + c + " 0a0"), "error: bad hexadecimal bytes\n");
  EXPECT_EQ(board().command("mcc inject 1 00"), "error: no channel 1\n");
  EXPECT_EQ(board().command("mcc drain " + c + " off"), "");
  EXPECT_TRUE(contains(board().command("mcc list"), "draining=off"));
  EXPECT_EQ(board().command("mcc sever " + c), "");
  EXPECT_EQ(board().command("mcc list"), "");
  Device::close(fd);
}

TEST_F(StandInTest, QvboardDrivesTheControlSocket) {
  ASSERT_FALSE(board().controlPath().empty());
  EXPECT_EQ(board().controlPath(), testboard::tempRoot() + "/var/run/standin.ctl");
  int fd = Device::open("/dev/hal", O_RDWR);
  ASSERT_GE(fd, 0);
  testboard::Words<2> connect({8300, 33});
  ASSERT_EQ(Device::requestRecord(fd, Hal::kConnect, connect.b, 8), 0);

  auto r = qvboard("hal spi reg 2 0x33 0xC5");
  EXPECT_EQ(r.second, 0) << r.first;
  EXPECT_EQ(r.first, "");
  EXPECT_EQ(board().hal().reg(2, 0x33), 0xC5);

  r = qvboard("log 0x80084D02");
  EXPECT_EQ(r.second, 0);
  EXPECT_TRUE(contains(r.first, "/dev/hal s")) << r.first;
  EXPECT_TRUE(contains(r.first, "0x80084D02 connect dst=8300 src=33 = 0\n")) << r.first;

  r = qvboard("hal channel 8300");
  EXPECT_EQ(r, std::make_pair(std::string("8300 listen 33 seen 0xFF\n"), 0));

  r = qvboard("no such command");
  EXPECT_EQ(r.second, 1);
  EXPECT_EQ(r.first.rfind("error: unknown command no", 0), 0u) << r.first;

  r = qvboard("help");
  EXPECT_EQ(r.second, 0);
  EXPECT_TRUE(contains(r.first, "mcc inject CH HEX")) << r.first;

  r = qvboard("-s " + testboard::tempRoot() + "/nowhere.ctl help");
  EXPECT_EQ(r.second, 2);
  Device::close(fd);
}

TEST_F(StandInTest, QvboardInjectsAFrameTheDaemonReads) {
  int fd = Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
  testboard::Words<5> rec({Mcc::Data, 512, 0, 1, 1});
  ASSERT_EQ(Device::requestRecord(fd, Mcc::kAllocate, rec.b, 20), 0);
  int ch = Device::requestValue(fd, Mcc::kTimeslot, 0);
  auto r = qvboard("mcc inject " + std::to_string(ch) + " 010203");
  EXPECT_EQ(r.second, 0) << r.first;
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  char buf[16];
  ASSERT_EQ(Device::read(fd, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "\x01\x02\x03");
  Device::close(fd);
  r = qvboard("mcc list");
  EXPECT_EQ(r, std::make_pair(std::string(""), 0));
}

}  // namespace
