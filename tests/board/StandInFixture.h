#pragma once
// Puts the process on the stand-in board under a temporary root of its own,
// so that parallel test processes never share a control socket.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "board/StandIn.h"
#include "board/TempRoot.h"
#include "hardware/Device.h"
#include "runtime/Root.h"

namespace testboard {

// Made before the board (whose thread ends at exit first, as it was made
// after), so the board's control socket goes with the rest.
inline const std::string& tempRoot() {
  static const TempRoot root("qvboard");
  return root.dir();
}

inline Board::StandIn& useStandIn() {
  setenv("QUORVAD_ROOT", tempRoot().c_str(), 1);
  setenv("QUORVAD_BOARD", "standin", 1);
  Root::reload();
  Device::reload();
  return Board::StandIn::instance();
}

// Whether records written out by hand in host order (least significant
// byte first) are this machine's.
inline bool littleEndian() {
  const uint16_t one = 1;
  uint8_t b;
  std::memcpy(&b, &one, 1);
  return b == 1;
}

// A record of big-endian words.
template <size_t N>
struct Words {
  uint8_t b[4 * N];
  explicit Words(std::initializer_list<uint32_t> w) {
    size_t i = 0;
    for (uint32_t v : w) Device::putBE32(b + 4 * i++, v);
  }
  uint32_t operator[](size_t i) const { return Device::getBE32(b + 4 * i); }
};

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    board_ = &useStandIn();
    board_->clearLog();
    board_->clearFailures();
  }
  Board::StandIn& board() { return *board_; }
  Board::StandIn* board_ = nullptr;
};

}  // namespace testboard
