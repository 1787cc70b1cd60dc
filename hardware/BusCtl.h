#pragma once
// Selects the board's TDM clock source on "/dev/hal". The controller orders
// a source with clockCfg; every controller connection and disconnection
// returns the board to its free-running clock. "--disable-clock" switches
// the service off for the whole run: clockCfg is then refused and the clock
// is never touched.
#include <cstdint>
#include <iosfwd>

#include "control/CtrlSrv.h"

class BusCtl : public CtrlSrv::Service {
 public:
  // HW_CLOCK_SELECT: one big-endian 32-bit clock value.
  static constexpr uint32_t kClockSelect = 0x80044301;
  // The clock values the driver knows by name.
  static constexpr int kFreeRun = 4;
  static constexpr int kX3 = 5;

  static BusCtl* instance();

  // The daemon has one, made by instance(); tests make their own.
  BusCtl() = default;
  ~BusCtl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& c) override;

  void DisableControl();
  bool enabled() const { return enabled_; }
  // Opens the device unless it is open; false while control is disabled.
  bool IsOpen();
  void SetDefaultClock();
  void SetClockSrc(const LGCP::ClockCfg& cfg);
  void DrvSetClkSrc(int value);

  // The name the driver gives a clock value; null when it has none.
  static const char* ClockName(int value);

  void PutHeader(std::ostream& os) const;

 private:
  int fd_ = -1;
  bool enabled_ = true;
};
