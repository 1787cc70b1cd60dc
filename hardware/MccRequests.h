#pragma once
// The requests of the board's multi-channel HDLC controller
// ("/dev/mcc/ctl") that every user of a controller channel makes: the HDLC
// links, the data slots, the players, recorders and T.38 channels, each
// with its own allocation values. Records are big-endian 32-bit words.
#include <cstdint>

struct MccRequest {
  static constexpr uint32_t kAllocate = 0x40144D00;  // {type, rxPacketSize, reserved 0, rxThreshold, txThreshold}
  static constexpr uint32_t kTimeslot = 0x20004D02;  // no argument; result: the channel's switch channel
  static constexpr uint32_t kCounts = 0x80104D03;    // -> {data, bri, transparent, -}
};

// Channel types of the allocation record.
enum MccChannelType : uint32_t { mccData = 0, mccBri = 1, mccTransparent = 2, mccSs7 = 3 };

// Binds one controller channel to the open file fd: the request's result,
// negative with errno on failure.
int MccAllocate(int fd, uint32_t type, uint32_t rxPacketSize, uint32_t rxThreshold, uint32_t txThreshold);
