#include "hardware/HwTests.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "hardware/HwMux.h"
#include "log/Ext.h"

HwTests* HwTests::instance() {
  static HwTests self;
  return &self;
}

bool HwTests::OnCommand(const LGCP::Command& c) {
  if (!c.testBpc_isSelected()) return false;
  OnTestBpc(c.get_testBpc());
  return true;
}

void HwTests::OnTestBpc(const LGCP::BpcTestParams& p) {
  bus_ = p.get_bus().getValue();
  first_ = kFirstBusChannel + kBusWidth * bus_ + p.get_timeslot_start().getValue();
  end_ = first_ + p.get_timeslot_length().getValue();
  seed_ = static_cast<uint32_t>(p.get_seed().getValue());
  srandom(seed_);
  const LGCP::BpcTestMode& mode = p.get_mode();
  if (mode.read_isSelected())
    TestRead();
  else if (mode.write_isSelected())
    TestWrite();
  else if (mode.disconnect_isSelected())
    TestDisconnect();
  else
    Error(LGCP::ErrorCause::invalidParams);
}

void HwTests::Compare(bool writeSide) {
  for (uint32_t ch = first_; ch < end_; ++ch) {
    const unsigned char expected = static_cast<unsigned char>(random() & 0xFF);
    const unsigned char actual = static_cast<unsigned char>(HwMux::instance()->Read(int(ch)) & 0xFF);
    if (expected == actual) continue;
    std::cerr << ext::header(this) << (writeSide ? "write failed on channel " : "test failed on channel ")
              << ch % kBusWidth << (writeSide ? " write " : " expected ") << ext::hex(&expected, &expected + 1)
              << (writeSide ? " written " : " read ") << ext::hex(&actual, &actual + 1) << std::endl;
    Error(LGCP::ErrorCause::busError);
    return;
  }
  Success();
}

void HwTests::TestRead() { Compare(false); }

void HwTests::TestWrite() {
  for (uint32_t ch = first_; ch < end_; ++ch)
    HwMux::instance()->Write(int(ch), static_cast<unsigned char>(random() & 0xFF));
  usleep(kWriteSettleUs);
  srandom(seed_);
  Compare(true);
}

void HwTests::TestDisconnect() {
  for (uint32_t ch = first_; ch < end_; ++ch) HwMux::instance()->Disable(int(ch));
  usleep(kDisableSettleUs);
  Success();
}

void HwTests::PutHeader(std::ostream& os) const { os << "bus " << bus_ << ": "; }
