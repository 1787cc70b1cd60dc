// The device access layer on the stand-in board: requests land in the
// models and the log with their records decoded; dups are one session.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

class HalDevice : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    fd_ = Device::open("/dev/hal", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd_, 0) << std::strerror(errno);
  }
  void TearDown() override {
    if (fd_ >= 0) Device::close(fd_);
  }
  // The board lives as long as the process, with what earlier tests did to
  // its switch: a test that looks at a channel sets it first. Channel 8192
  // listens to 5, and the log starts after that.
  void listenTo5() {
    uint8_t connect[8] = {0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x05};
    ASSERT_EQ(Device::requestRecord(fd_, Hal::kConnect, connect, sizeof connect), 0);
    ASSERT_EQ(board().hal().channel(8192).kind, Hal::Channel::Listening);
    board().clearLog();
  }
  void expectListensTo5() {
    EXPECT_EQ(board().hal().channel(8192).kind, Hal::Channel::Listening);
    EXPECT_EQ(board().hal().channel(8192).source, 5u);
  }
  int fd_ = -1;
};

TEST_F(HalDevice, SwitchRequestsChangeTheGraphAndAreLoggedDecoded) {
  Hal& hal = board().hal();
  // Connect(5, 8200): 8200 = 0x2008 listens to 5.
  uint8_t connect[8] = {0x00, 0x00, 0x20, 0x08, 0x00, 0x00, 0x00, 0x05};
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kConnect, connect, sizeof connect), 0);
  EXPECT_EQ(hal.channel(8200).kind, Hal::Channel::Listening);
  EXPECT_EQ(hal.channel(8200).source, 5u);

  // Disconnect(8300): 8300 = 0x206C drives the A-law idle byte.
  uint8_t drive[8] = {0x00, 0x00, 0x20, 0x6C, 0x00, 0x00, 0x00, 0xD5};
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kDrive, drive, sizeof drive), 0);
  EXPECT_EQ(hal.channel(8300).kind, Hal::Channel::Driven);
  EXPECT_EQ(hal.channel(8300).byte, 0xD5);

  // A channel listening to a source reads what the source carries.
  hal.setSeen(5, 0x3A);
  uint8_t read[8] = {0x00, 0x00, 0x20, 0x08, 0x00, 0x00, 0x00, 0xFF};
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kRead, read, sizeof read), 0);
  const uint8_t readBack[8] = {0x00, 0x00, 0x20, 0x08, 0x00, 0x00, 0x00, 0x3A};
  EXPECT_EQ(std::memcmp(read, readBack, 8), 0);
  // A driven channel reads as its byte (a bus test on one board).
  uint8_t read2[8] = {0x00, 0x00, 0x20, 0x6C, 0x00, 0x00, 0x00, 0xFF};
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kRead, read2, sizeof read2), 0);
  EXPECT_EQ(read2[7], 0xD5);

  uint8_t disable[4] = {0x00, 0x00, 0x20, 0x08};
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, sizeof disable), 0);
  EXPECT_EQ(hal.channel(8200).kind, Hal::Channel::Disabled);
  EXPECT_EQ(hal.seen(8200), Hal::kIdleByte);

  auto lines = board().logLines({Hal::kConnect});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(contains(lines[0], " /dev/hal s")) << lines[0];
  EXPECT_TRUE(contains(lines[0], " 0x80084D02 connect dst=8200 src=5 = 0")) << lines[0];
  lines = board().logLines({Hal::kRead});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(contains(lines[0], "read ch=8200 value=255 -> 0x3A = 0")) << lines[0];
  lines = board().logLines({Hal::kDrive, Hal::kDisable});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(contains(lines[0], "drive ch=8300 byte=0xD5 = 0")) << lines[0];
  EXPECT_TRUE(contains(lines[1], "disable ch=8200 = 0")) << lines[1];
  EXPECT_EQ(board().logLines().size(), 5u);
}

TEST_F(HalDevice, ClockAndSpiRegisters) {
  Hal& hal = board().hal();
  EXPECT_EQ(hal.clock(), -1);
  testboard::Words<1> freerun({4});
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kClockSelect, freerun.b, 4), 0);
  testboard::Words<1> f2({2});
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kClockSelect, f2.b, 4), 0);
  EXPECT_EQ(hal.clock(), 2);
  ASSERT_EQ(hal.clockHistory().size(), 2u);
  EXPECT_EQ(hal.clockHistory()[0].value, 4u);

  uint8_t write[3] = {0, 0x32, 0x80};
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kSpiWrite, write, 3), 0);
  EXPECT_EQ(hal.reg(0, 0x32), 0x80);
  hal.setReg(3, 0x33, 0xC5);
  uint8_t read[3] = {3, 0x33, 0xFF};
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kSpiRead, read, 3), 0xC5);
  uint8_t badChannel[3] = {8, 0x33, 0xFF};
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kSpiRead, badChannel, 3), -1);
  EXPECT_EQ(errno, EINVAL);

  hal.setSpiPresent(false);
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kSpiRead, read, 3), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kSpiWrite, write, 3), -1);
  EXPECT_EQ(errno, ENODEV);
  hal.setSpiPresent(true);

  auto lines = board().logLines({Hal::kSpiRead});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(contains(lines[0], "spi-read ch=3 reg=0x33 -> 0xC5 = 197")) << lines[0];
  EXPECT_TRUE(contains(lines[2], "= -1 ENODEV")) << lines[2];
  EXPECT_TRUE(contains(board().logLines({Hal::kClockSelect})[0], "clock-select value=4 = 0"));
}

TEST_F(HalDevice, MisusedRequestsFailAsADriverWould) {
  listenTo5();
  // A record word passed a value, a short record, an unknown word.
  EXPECT_EQ(Device::requestValue(fd_, Hal::kDisable, 8192), -1);
  EXPECT_EQ(errno, EFAULT);
  uint8_t shortRec[4] = {0, 0, 0x20, 0};
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kConnect, shortRec, 4), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(Device::requestValue(fd_, 0x20004DFF, 0), -1);
  EXPECT_EQ(errno, ENOTTY);
  uint8_t drive[8] = {0, 0, 0x20, 0, 0, 0, 1, 0};  // byte 256
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kDrive, drive, 8), -1);
  EXPECT_EQ(errno, EINVAL);
  expectListensTo5();
  auto lines = board().logLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(contains(lines[0], "0x80044D03 value=8192 = -1 EFAULT")) << lines[0];
  EXPECT_TRUE(contains(lines[2], "= -1 ENOTTY")) << lines[2];
}

TEST_F(HalDevice, InjectedRequestFailuresOnceAndAlways) {
  listenTo5();
  uint8_t disable[4] = {0x00, 0x00, 0x20, 0x00};
  board().failRequest(Hal::kDisable, EIO, true);
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, 4), -1);
  EXPECT_EQ(errno, EIO);
  expectListensTo5();
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, 4), 0);
  EXPECT_EQ(board().hal().channel(8192).kind, Hal::Channel::Disabled);

  // Bound to another device, the failure leaves the hal alone.
  board().failRequest(Hal::kDisable, EPERM, false, "/dev/mcc/ctl");
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, 4), 0);
  board().failRequest(Hal::kDisable, EPERM, false, "/dev/hal");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, 4), -1);
    EXPECT_EQ(errno, EPERM);
  }
  board().clearFailures();
  EXPECT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, 4), 0);
  auto lines = board().logLines({Hal::kDisable});
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_TRUE(contains(lines[0], "= -1 EIO (Input/output error) [injected]")) << lines[0];
  EXPECT_TRUE(contains(lines[3], "EPERM")) << lines[3];
}

TEST_F(HalDevice, DupsAreOneSessionThatEndsAtTheLastClose) {
  ASSERT_EQ(board().sessions().size(), 1u);
  int dup1 = ::dup(fd_);
  ASSERT_GE(dup1, 0);
  uint8_t disable[4] = {0x00, 0x00, 0x20, 0x01};
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, 4), 0);
  ASSERT_EQ(Device::requestRecord(dup1, Hal::kDisable, disable, 4), 0);
  auto log = board().logEntries();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].session, log[1].session);
  EXPECT_EQ(board().sessions().size(), 1u);

  Device::close(fd_);
  fd_ = -1;
  EXPECT_EQ(board().sessions().size(), 1u);
  EXPECT_EQ(Device::requestRecord(dup1, Hal::kDisable, disable, 4), 0);
  Device::close(dup1);
  EXPECT_TRUE(board().sessions().empty());

  // A second open is a new session.
  fd_ = Device::open("/dev/hal", O_RDWR);
  ASSERT_GE(fd_, 0);
  ASSERT_EQ(Device::requestRecord(fd_, Hal::kDisable, disable, 4), 0);
  EXPECT_NE(board().logEntries().back().session, log[0].session);
}

TEST_F(HalDevice, TheDescriptorPollsLikeADevice) {
  // Nothing to read on the hal: poll reports it writable, not readable,
  // and a blocking-mode open stays blocking.
  pollfd p{fd_, POLLIN | POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 0), 1);
  EXPECT_EQ(p.revents, POLLOUT);
  EXPECT_EQ(::fcntl(fd_, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(::fcntl(fd_, F_GETFD) & FD_CLOEXEC, 0);
  int nb = Device::open("/dev/hal", O_RDWR | O_NONBLOCK);
  ASSERT_GE(nb, 0);
  EXPECT_NE(::fcntl(nb, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(::fcntl(nb, F_GETFD) & FD_CLOEXEC, 0);
  char c;
  EXPECT_EQ(Device::read(nb, &c, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  Device::close(nb);
}

TEST_F(StandInTest, DescriptorZeroIsAnOpenDevice) {
  int saved = ::dup(0);  // -1 when the test runs with stdin closed
  ::close(0);
  int fd = Device::open("/dev/hal", O_RDWR);
  EXPECT_EQ(fd, 0);
  uint8_t disable[4] = {0x00, 0x00, 0x20, 0x02};
  EXPECT_EQ(Device::requestRecord(fd, Hal::kDisable, disable, 4), 0);
  EXPECT_EQ(board().hal().channel(8194).kind, Hal::Channel::Disabled);
  Device::close(fd);
  if (saved >= 0) {
    ::dup2(saved, 0);
    ::close(saved);
  }
}

TEST_F(StandInTest, UnmodelledDevicesAndInjectedOpenFailures) {
  EXPECT_EQ(Device::open("/dev/no-such-driver", O_RDONLY | O_NONBLOCK), -1);
  EXPECT_EQ(errno, ENOENT);
  board().failOpen("/dev/hal", EACCES, true);
  EXPECT_EQ(Device::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(errno, EACCES);
  int fd = Device::open("/dev/hal", O_RDWR);
  EXPECT_GE(fd, 0);
  Device::close(fd);
  board().failOpen("/dev/hal", ENXIO, false);
  EXPECT_EQ(Device::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(Device::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(errno, ENXIO);
  board().clearFailures();
  fd = Device::open("/dev/hal", O_RDWR);
  EXPECT_GE(fd, 0);
  Device::close(fd);
}

TEST_F(StandInTest, RequestsOnOtherDescriptorsGoToTheSystem) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  EXPECT_EQ(Device::requestValue(sv[0], Hal::kDisable, 0), -1);
  EXPECT_EQ(errno, ENOTTY);
  ::close(sv[0]);
  ::close(sv[1]);
  EXPECT_TRUE(board().logLines().empty());
}

TEST(DeviceWithoutBoard, OpensFailUnderTheRootWithoutDrivers) {
  setenv("QUORVAD_ROOT", testboard::tempRoot().c_str(), 1);
  unsetenv("QUORVAD_BOARD");
  Root::reload();
  Device::reload();
  EXPECT_FALSE(Device::standIn());
  EXPECT_EQ(Device::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(Device::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK), -1);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
