#pragma once
// The control service that watches the board itself: it polls the power
// supplies, DIP switches, E1 framers, network interfaces, software
// versions, configuration file and temperature on three periodic timers,
// checks the local controller program, drives the E1 framer LEDs and keeps
// what the controller reports through its display command. Every value goes
// into the data holder and its files and, as numbered items, to the SNMP
// agents; a power change also goes to the controller as a signal.
#include "control/CtrlSrv.h"
#include "monitoring/DataHolder.h"
#include "monitoring/SnmpAgent.h"
#include "runtime/Multiplexer.h"
#include "runtime/Timer.h"

#include <cstdint>
#include <string>

namespace IniFile {
class File;
}

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
public:
  // "/dev/hal" requests, each on one byte read and written by the driver.
  static const uint32_t kDipRequest = 0xC0014205;
  static const uint32_t kPowerRequest = 0xC0014206;
  static const uint32_t kLedRequest = 0xC0014207;

  // First expiries and periods of the three checks, in milliseconds.
  static const unsigned kBkgFirstMs = 1000, kBkgPeriodMs = 60000;
  static const unsigned kPowerFirstMs = 2000, kPowerPeriodMs = 2000;
  static const unsigned kControllerFirstMs = 5000, kControllerPeriodMs = 5000;

  static MonitoringCtl& instance();
  // The daemon's build tag, sent as the software build item.
  static void softwareBuild(const std::string& tag);

  // Public for tests, which make and drop their own; the daemon has one.
  MonitoringCtl();
  ~MonitoringCtl() override;

  void Configure(IniFile::File& file);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& c) override;
  void OnSnmpAgentConnect(const std::string& name) override;

  void onBkgCheckTimer(Timer*);
  void onPowerCheckTimer(Timer*);
  void onControllerCheckTimer(Timer*);
  void OnDpcSend();

  void doVersionsCheck();
  void doConfigCheck();
  void doFramerCheck();
  void doTemperatureCheck();
  void doPowerCheck();
  void doDipCheck();
  void doNetIfCheck();
  void doControllerCheck();

  // Item feeding.
  void sendSnmpDriverBuild();
  void sendSnmpSoftwareBuild();
  void sendSnmpPowerStatus();
  void sendSnmpControllerStatus();
  void sendSnmpGatewayDip();
  void sendSnmpGatewayConfigVersion();
  void sendSnmpBoardStatus(const LGCP::BoardStatusParams& b);
  void sendSnmpBoardStatuses();
  void sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& p);
  void sendSnmpEmPhoneStatuses();
  void sendSnmpRouterTermCnt();
  void sendSnmpControllerTermCnt();
  void sendSnmpServerTermCnt();
  void sendSnmpBoardTermCnt();
  void sendSnmpFramerStatus(const FramerDataHolder& f);
  void sendSnmpFramerStatus();
  void sendSnmpStatusBuildVersion();
  void sendSnmpStatusFPGAVersion();
  void sendSnmpStatusBootVersion();
  void sendSnmpStatusBoardVersion();
  void sendSnmpNetIfStatus(const NetIfDataHolder& n);
  void sendSnmpNetIfStatus();
  void sendSnmpTemperature();
  void sendSnmpTrapReceivers();
  void sendSnmpCommands();
  void sendSnmpCommands(const MON::SnmpSetCommands& commands);

  MonitoringDataHolder& holder() { return holder_; }
  SnmpAgentCtrl& agents() { return agents_; }
  uint8_t ledByte() const { return led_; }
  bool halOpen() const { return hal_ >= 0; }

private:
  bool IsOpen();
  bool halRequest(uint32_t word, uint8_t& byte);
  void setFramerLed(const LGCP::FramerInfo& info);
  void OnDisplayCMD(const LGCP::DisplayParams& params);
  void sendPowerStatus();
  void sendTermCounters(int owner, SnmpAgentCtrl::MonitoringItemType type);
  void sendValue(SnmpAgentCtrl::MonitoringItemType type, int index, std::string value);

  int hal_ = -1;
  MonitoringDataHolder holder_;
  SnmpAgentCtrl agents_;
  Timer bkgTimer_;
  Timer powerTimer_;
  Timer controllerTimer_;
  uint8_t led_ = 0;
  Dpc resendDpc_;
};
