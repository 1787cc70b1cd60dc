#pragma once
// The eight basic-rate line framers that the board reaches over SPI through
// "/dev/hal": set up when the daemon starts, one of them (or none) made the
// board's clock master, and every framer's line status reported once a
// second as a bri trunk status while a controller is connected.
//
// A HAL without an SPI bus answers ENODEV; the first such answer makes the
// service silent for good: every later operation does nothing and logs
// nothing.
#include <cstdint>

#include "control/CtrlSrv.h"
#include "runtime/Timer.h"

class spiCtrl : public CtrlSrv::Service {
 public:
  // Register requests, records of three bytes.
  static constexpr uint32_t kRead = 0xC0034203;   // {ch, reg, 0xFF}: result = value
  static constexpr uint32_t kWrite = 0xC0034204;  // {ch, reg, value}
  static constexpr unsigned kChannels = 8;
  // Channels the start-up sets up: the last one is reported, may be
  // disabled or made clock master, but is left as the board starts it.
  static constexpr int kSetUpChannels = 7;

  // Framer registers.
  static constexpr unsigned kRegLineCoding = 0x30;
  static constexpr unsigned kRegEnable = 0x32;  // 0x80 disabled, 0x00 enabled
  static constexpr unsigned kRegStatus = 0x33;
  static constexpr unsigned kRegMode = 0x34;
  static constexpr unsigned kRegClock = 0x57;   // 0x30 normal, 0x38 clock master
  // Line status bits of the status register.
  static constexpr unsigned kStatusCarrier = 0x01;
  static constexpr unsigned kStatusFrame = 0x04;
  static constexpr unsigned kStatusSlip = 0x20;
  static constexpr unsigned kStatusAlarm = 0xC0;  // 11 normal, 10 rai, else ais

  static constexpr unsigned kStatusPeriodMs = 1000;

  // Made at start-up; the constructor sets the framers up.
  static spiCtrl* instance();

  // The daemon has one, made by instance(); tests make their own.
  spiCtrl();
  ~spiCtrl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command&) override { return false; }

  // 0-255; 0 when the device is not open, SPI is absent or the read failed.
  unsigned read(unsigned channel, unsigned reg);
  void write(unsigned channel, unsigned reg, unsigned value);
  void init_channel(int channel);
  void enable_channel(int channel);
  void disable_channel(int channel);
  // -1: no framer is clock master.
  void clock(int channel);
  void status();
  void init_device_and_channels();

  bool present() const { return present_; }
  int descriptor() const { return fd_; }
  bool reporting() const { return timer_.is_running(); }

 private:
  // The HAL said it has no SPI bus.
  void NoSpi();
  // Whether an operation on channel ch (lowest to 7) may go on: SPI is
  // present and the channel is one; opens the device if needed.
  bool Ready(int ch, int lowest, const char* op);

  int fd_ = -1;
  Timer timer_;
  bool present_ = true;
  // A lasting slip indication is reported once; each framer keeps its own
  // latch, so that one line's slip never hides or fakes another's.
  bool slipLatch_[kChannels] = {};
};
