#pragma once
// The shared-bus test the controller orders with testBpc. Two boards on
// one bus test each other: one drives pseudo-random bytes onto a run of bus
// channels with a seed, the other reads them back with the same seed and
// compares. The bytes are the low 8 bits of the C library's random() after
// srandom(seed), so that generator is part of what goes between the boards.
//
// The test runs to its end inside the command (it blocks the loop for its
// two short pauses) and answers Success or Error(busError).
#include <cstdint>
#include <iosfwd>

#include "control/CtrlSrv.h"

class HwTests : public CtrlSrv::Service {
 public:
  // Bus b channel c is switch channel 8192 + 128b + c.
  static constexpr unsigned kFirstBusChannel = 8192;
  static constexpr unsigned kBusWidth = 128;
  // How long the written bytes settle before they are read back, and how
  // long released channels settle before the answer (microseconds).
  static constexpr unsigned kWriteSettleUs = 500;
  static constexpr unsigned kDisableSettleUs = 250;

  static HwTests* instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command& c) override;

  void OnTestBpc(const LGCP::BpcTestParams& p);
  void TestRead();
  void TestWrite();
  void TestDisconnect();

  void PutHeader(std::ostream& os) const;

 private:
  // Compares every channel of the run with the sequence of the seed;
  // logs and answers busError at the first mismatch, else Success.
  void Compare(bool writeSide);

  unsigned bus_ = 0;
  uint32_t first_ = kFirstBusChannel;
  uint32_t end_ = kFirstBusChannel;
  uint32_t seed_ = 0;
};
