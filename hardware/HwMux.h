#pragma once
// The daemon's front end of the board's TDM time-slot switch on "/dev/hal".
//
// Channel numbers: below 8192 trunk time-slots (E1 trunk n slot t is
// 32n + t, BRI trunk n slot t is 4n + t); 8192 to 10239 the 2048 shared bus
// channels (bus b channel c is 8192 + 128b + c); anything above is passed
// to the driver unchanged (controller and DSP channels). Negative numbers
// are refused by every operation.
//
// For every bus channel the switch remembers what it carries: nothing
// (disabled), a constant byte, or a source channel. A deferred call keeps
// re-disabling the disabled ones, 128 table entries per run, so that a
// channel nobody owns stays silent whatever the driver did to it. For the
// other channels it remembers only the source of those that listen, so
// that whoever made a path can tell whether it still stands.
//
// The device is opened when first needed and again on every later use
// while it cannot be opened. One process-wide object, reached through
// instance() from the loop's thread only.
#include <cstdint>
#include <unordered_map>

#include "runtime/Multiplexer.h"

class HwMux {
 public:
  // Request words of "/dev/hal" (records of big-endian 32-bit words).
  static constexpr uint32_t kConnect = 0x80084D02;  // {dst, src}: dst listens to src
  static constexpr uint32_t kDisable = 0x80044D03;  // {ch}
  static constexpr uint32_t kWrite = 0xC0084D04;    // {ch, byte}: drive byte onto ch
  static constexpr uint32_t kRead = 0xC0084D05;     // {ch, 255} -> low 8 bits: byte seen

  static constexpr int kFirstBusChannel = 8192;
  static constexpr int kBusChannels = 2048;
  // The A-law silence code that Disconnect drives.
  static constexpr unsigned char kIdleByte = 0xD5;
  // Table entries examined per run of the refresh.
  static constexpr int kRefreshPerRun = 128;

  // What sourceOf() answers for a bus channel that carries no source.
  static constexpr int kDisabled = -1;
  static constexpr int kDriven = -2;

  static HwMux* instance();

  // The daemon has one, made by instance(); tests make their own.
  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  // Opens the device unless it is open; true when it is open.
  bool IsOpened();
  // dst listens to src.
  bool Connect(int src, int dst);
  // Drives the idle byte onto the channel.
  bool Disconnect(int channel);
  bool Disable(int channel);
  // Drives a constant byte onto the channel.
  bool Write(int channel, unsigned char byte);
  // The byte seen on the channel; 255 on any failure.
  short Read(int channel);
  // Re-disables bus channel 8192 + index when it is recorded as disabled.
  void RefreshChannel(int index);
  void OnDPC();
  void Reset();

  // What the table records for a bus channel: its source channel,
  // kDisabled or kDriven; kDisabled for a channel outside the bus range.
  int sourceOf(int channel) const;
  // Whether dst was last asked to listen to src, whatever the channel.
  bool Listens(int dst, int src) const;
  int descriptor() const { return fd_; }

 private:
  static bool isBus(int channel) {
    return channel >= kFirstBusChannel && channel < kFirstBusChannel + kBusChannels;
  }

  // Issues the disable request of a table entry; the result is not used.
  void disableEntry(int index);

  int fd_ = -1;
  // One entry per bus channel: a source channel (0 or more), kDisabled or
  // kDriven. Whole numbers, so that no source can pass for a marker.
  int32_t source_[kBusChannels];
  // The source of every listening channel outside the bus range.
  std::unordered_map<int, int> listening_;
  int cursor_ = 0;
  Dpc dpc_;
};

// Prints the current call stack (at most 10 frames) to standard output;
// a debugging aid.
void print_trace();
