#pragma once
// The board's four E1 trunks: each trunk's line status goes to the
// controller when it connects and every second after that (for the rest of
// the process), trunkCfg sets which trunks take their transmit clock from
// the line (the TCLK mask), and the channel-associated signalling (CAS) of
// the trunks is opened, closed, set and read on the controller's slot-less
// ioctl commands; every change of received bits the driver reports goes to
// the controller as a cas signal.
//
// Two devices: "/dev/maintenance" (framer status and clocking) and
// "/dev/e1-cas" (CAS), both with big-endian records.
#include <cstdint>
#include <iosfwd>

#include "control/CtrlSrv.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"

class E1Ctl : public CtrlSrv::Service {
 public:
  static constexpr int kTrunks = 4;
  static constexpr unsigned kStatusPeriodMs = 1000;

  // "/dev/maintenance"
  static constexpr uint32_t kStatus = 0xC0504D03;       // 80-byte status record
  static constexpr uint32_t kSetTclk = 0xC0044D0B;      // the mask as the value
  static constexpr uint32_t kClockSource = 0xC0044D0A;  // a source number as the value
  static constexpr size_t kStatusSize = 80;
  // Offsets of the status record's fields.
  static constexpr size_t kOffTrunk = 0, kOffSlips = 36, kOffLossBF = 40, kOffLossCarrier = 44,
                          kOffLossAIS = 48, kOffLossRAI = 52, kOffState = 76;

  // "/dev/e1-cas"
  static constexpr uint32_t kCasOpen = 0x80044300;   // the trunk as the value
  static constexpr uint32_t kCasClose = 0x80044301;  // the trunk as the value
  static constexpr uint32_t kCasSet = 0xC00C4302;    // cas_channel: set tx
  static constexpr uint32_t kCasGet = 0xC00C4303;    // cas_channel: rx and tx filled
  static constexpr uint32_t kCasCtl = 0xC0104304;    // cas_channel + u32 0 enable / 1 disable
  static constexpr size_t kCasRecordSize = 12;
  static constexpr size_t kCasCtlSize = 16;
  static constexpr int kWholeTrunk = 0;
  static constexpr int kSignallingSlot = 16;

  // One time-slot's CAS bits, as the driver's 12-byte record carries them:
  // {u32 trunk, u32 time-slot, u8 rx, u8 tx, 2 reserved}.
  struct cas_channel {
    int trunk = 0;
    int timeslot = 0;
    uint8_t rx = 0;
    uint8_t tx = 0;
  };

  static E1Ctl* instance();

  // The daemon has one, made by instance(); tests make their own.
  E1Ctl() = default;
  ~E1Ctl() override;

  void OnConnect() override;
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command& c) override;

  void SetTimer();
  void OnCheckStatus(Timer*);
  void SetMode(const LGCP::TrunkCfg& cfg);
  void UpdateTclk();
  void SendStatus();
  bool IsOpen();
  bool CheckOpenCas();
  void OnUpdateCas(int fd, short revents);
  void HandleCas(const LGCP::IoctlParams& p);
  void HandleCasOpen(const cas_channel& ch, int bits);
  void HandleCasClose(const cas_channel& ch);
  void HandleCasGet(const cas_channel& ch);
  void HandleCasSet(const cas_channel& ch, int bits);
  void select_source(int source);
  // The driver's channel as the controller names it.
  static void Assign(LGCP::CasChannel& out, const cas_channel& in);
  void SendCASSignal(int trunk, int timeslot, int rx, int tx);
  void SendCASTrunkStatus(int trunk, int result) { SendCASSignal(trunk, 0, result, 0); }

  uint32_t tclk() const { return tclk_; }
  bool casOpen(int trunk) const { return trunk >= 0 && trunk < kTrunks && casOpen_[trunk]; }

  void PutHeader(std::ostream& os) const;

 private:
  // Reads the time-slot's bits back and reports them (or the failure).
  void ReportBits(const cas_channel& ch);

  int fd_ = -1;
  Timer timer_;
  Fd cas_;
  Event casEvent_;
  uint32_t casOpen_[kTrunks] = {};
  uint32_t tclk_ = 0;
};
