// The stand-in's tone and voice-processing DSPs seen from a raw device
// descriptor: the event records their control commands inject, byte by
// byte, and the state the requests leave.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "board/Dsp.h"
#include "board/Dtmf.h"
#include "board/StandInFixture.h"
#include "hardware/Device.h"

using testboard::StandInTest;

namespace {

std::string readRecord(int fd) {
  char buf[64];
  ssize_t n = Device::read(fd, buf, sizeof buf);
  return n < 0 ? std::string("error") : std::string(buf, size_t(n));
}

TEST_F(StandInTest, DspDeviceCommandsInjectHostOrderRecords) {
  if (!testboard::littleEndian()) GTEST_SKIP() << "records worked out for a little-endian host";
  int dtmf = Device::open("/dev/dtmf", O_RDONLY | O_NONBLOCK);
  int dsp = Device::open("/dev/dsp", O_RDWR | O_NONBLOCK);
  ASSERT_GE(dtmf, 0);
  ASSERT_GE(dsp, 0);
  board().command("dtmf reset");
  board().command("dsp reset");

  // {ts 5, id 9} switches the detector on; an event without an id carries 9.
  uint8_t enable[8] = {5, 0, 0, 0, 9, 0, 0, 0};
  ASSERT_EQ(Device::requestRecord(dtmf, Board::Dtmf::kEnable, enable, 8), 0);
  EXPECT_EQ(board().command("dtmf inject 5 0x0300 77"), "delivered to 1 open file(s)\n");
  // {code 0x300, ts 5, timestamp 77 = 0x4D, id 9}
  EXPECT_EQ(readRecord(dtmf), std::string("\0\x03\0\0\x05\0\0\0\x4D\0\0\0\x09\0\0\0", 16));
  EXPECT_EQ(board().command("dtmf inject 5 1 2 3").substr(0, 9), "delivered");
  EXPECT_EQ(readRecord(dtmf), std::string("\x01\0\0\0\x05\0\0\0\x02\0\0\0\x03\0\0\0", 16));
  EXPECT_EQ(board().command("dtmf ts 5"), "detector on id 9\niva off level 0\nrejection off\nlms off\n");
  EXPECT_EQ(board().command("dtmf inject 5").substr(0, 7), "error: ");
  EXPECT_EQ(board().command("dtmf inject 5 0x100000000").substr(0, 7), "error: ");

  // A value request given a record, and an unknown word, are refused.
  EXPECT_EQ(Device::requestRecord(dtmf, Board::Dtmf::kDisable, enable, 4), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(Device::requestValue(dtmf, 0x40044208, 5), -1);
  EXPECT_EQ(errno, ENOTTY);

  // "/dev/dsp": the version the query returns, the id of the activated
  // feature in its events, a float word, and raw bytes.
  EXPECT_EQ(Device::requestValue(dsp, Board::Dsp::kVersion, 0), 2);
  EXPECT_EQ(board().command("dsp version 1"), "");
  EXPECT_EQ(Device::requestValue(dsp, Board::Dsp::kVersion, 0), 1);
  uint8_t on[12] = {4, 0, 0, 0, 0x21, 0, 0, 0, 0x10, 0, 0, 0};  // {ts 4, id 0x21, BSS}
  ASSERT_EQ(Device::requestRecord(dsp, Board::Dsp::kEnable, on, 12), 0);
  EXPECT_EQ(board().command("dsp inject 4 16 0.5"), "delivered to 1 open file(s)\n");
  // {ts 4, id 0x21, type 0x10, 0.5f = 0x3F000000, 0, 0}
  EXPECT_EQ(readRecord(dsp), std::string("\x04\0\0\0\x21\0\0\0\x10\0\0\0\0\0\0\x3F\0\0\0\0\0\0\0\0", 24));
  EXPECT_EQ(board().command("dsp inject 4 1 3 -1 1 7").substr(0, 9), "delivered");
  EXPECT_EQ(readRecord(dsp), std::string("\x04\0\0\0\x07\0\0\0\x01\0\0\0\x03\0\0\0\xFF\xFF\xFF\xFF\x01\0\0\0", 24));
  EXPECT_EQ(board().command("dsp raw 0102"), "delivered to 1 open file(s)\n");
  EXPECT_EQ(readRecord(dsp), std::string("\x01\x02", 2));
  EXPECT_EQ(board().command("dsp ts 4"), "enabled 0x10\nfeature 0x10 id 33\n");
  EXPECT_EQ(board().command("dsp inject 4 x 1").substr(0, 7), "error: ");

  Device::close(dtmf);
  Device::close(dsp);
}

}  // namespace
