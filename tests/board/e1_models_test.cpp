// The stand-in's E1 framer and CAS devices as a driver answers them, with
// the records worked out by hand, and their control commands.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board/E1Cas.h"
#include "board/Maintenance.h"
#include "board/StandInFixture.h"
#include "hardware/Device.h"

using Board::E1Cas;
using Board::Maintenance;
using testboard::StandInTest;

namespace {

std::string hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    s += b;
  }
  return s;
}

class E1ModelsTest : public StandInTest {
 protected:
  void TearDown() override {
    if (fd_ >= 0) Device::close(fd_);
  }
  int open(const char* path) { return fd_ = Device::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC); }
  int fd_ = -1;
};

}  // namespace

TEST_F(E1ModelsTest, MaintenanceFillsTheStatusRecordAndKeepsTheMask) {
  EXPECT_EQ(board().command("maintenance trunk 1 state 2 slips 5 lossRAI 9"),
            "trunk 1 state 2 slips 5 lossBF 0 lossCarrier 0 lossAIS 0 lossRAI 9\n");
  ASSERT_GE(open("/dev/maintenance"), 0);
  uint8_t rec[80];
  std::memset(rec, 0xEE, sizeof rec);
  Device::putBE32(rec, 1);
  ASSERT_EQ(Device::requestRecord(fd_, Maintenance::kStatus, rec, sizeof rec), 0);
  // Words at 36 (slips) to 52 (lossRAI), the state at 76; the rest zero.
  EXPECT_EQ(hex(rec, 4), "00 00 00 01");
  EXPECT_EQ(hex(rec + 4, 32), hex(std::vector<uint8_t>(32).data(), 32));
  EXPECT_EQ(hex(rec + 36, 20), "00 00 00 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 09");
  EXPECT_EQ(hex(rec + 76, 4), "00 00 00 02");

  Device::putBE32(rec, 4);
  EXPECT_EQ(Device::requestRecord(fd_, Maintenance::kStatus, rec, sizeof rec), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(board().command("maintenance trunk 1 fail ENODEV"),
            "trunk 1 state 2 slips 5 lossBF 0 lossCarrier 0 lossAIS 0 lossRAI 9 fail ENODEV\n");
  Device::putBE32(rec, 1);
  EXPECT_EQ(Device::requestRecord(fd_, Maintenance::kStatus, rec, sizeof rec), -1);
  EXPECT_EQ(errno, ENODEV);
  board().command("maintenance trunk 1 fail clear");
  EXPECT_EQ(Device::requestRecord(fd_, Maintenance::kStatus, rec, sizeof rec), 0);

  // The mask is the argument itself, never a record.
  EXPECT_EQ(Device::requestValue(fd_, Maintenance::kSetTclk, 5), 0);
  uint8_t four[4] = {};
  EXPECT_EQ(Device::requestRecord(fd_, Maintenance::kSetTclk, four, sizeof four), -1);
  EXPECT_EQ(board().command("maintenance tclk").substr(0, 9), "tclk 0x5\n");
  EXPECT_EQ(board().command("maintenance trunk 9").rfind("error: ", 0), 0u);
  EXPECT_EQ(board().command("maintenance trunk 0 state").rfind("error: ", 0), 0u);
  board().command("maintenance trunk 1 state 0 slips 0 lossRAI 0");
}

TEST_F(E1ModelsTest, CasTimeSlotsOfOpenTrunksAndTheirChangeRecords) {
  ASSERT_GE(open("/dev/e1-cas"), 0);
  uint8_t ctl[16] = {0, 0, 0, 1, 0, 0, 0, 3, 0, 0x1F, 0, 0, 0, 0, 0, 0};  // enable 1/3, tx 0x1F
  EXPECT_EQ(Device::requestRecord(fd_, E1Cas::kCtl, ctl, sizeof ctl), -1);  // trunk 1 not open
  EXPECT_EQ(errno, EINVAL);
  ASSERT_EQ(Device::requestValue(fd_, E1Cas::kOpen, 1), 0);
  ASSERT_EQ(Device::requestRecord(fd_, E1Cas::kCtl, ctl, sizeof ctl), 0);
  EXPECT_EQ(board().command("cas slot 1 3"), "1/3 enabled tx 15 rx 0\n");

  EXPECT_EQ(board().command("cas rx 1 3 9"), "sent to 1 open file(s)\n");
  uint8_t ev[32];
  ASSERT_EQ(Device::read(fd_, ev, sizeof ev), 12);
  EXPECT_EQ(hex(ev, 12), "00 00 00 01 00 00 00 03 09 0F 00 00");

  uint8_t get[12] = {0, 0, 0, 1, 0, 0, 0, 16, 0, 0, 0, 0};
  EXPECT_EQ(Device::requestRecord(fd_, E1Cas::kGet, get, sizeof get), -1);  // the signalling slot
  EXPECT_EQ(board().command("cas rx 1 16 1").rfind("error: ", 0), 0u);

  // Closing the trunk disables its time-slots: a change is kept, not sent.
  ASSERT_EQ(Device::requestValue(fd_, E1Cas::kClose, 1), 0);
  EXPECT_EQ(Device::requestValue(fd_, E1Cas::kClose, 1), -1);
  EXPECT_EQ(board().command("cas rx 1 3 2"), "kept: the time-slot is not enabled on an open trunk\n");
  EXPECT_EQ(Device::read(fd_, ev, sizeof ev), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(board().command("cas"), "");
}
