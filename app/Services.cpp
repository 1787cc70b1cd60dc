#include "app/Services.h"

#include "config/IniFile.h"

#include <iostream>

// The slot framework, the board control, the control server and the
// monitoring service are not part of this build. Each step below names,
// in order, the calls it makes once they are; until then the daemon runs
// its loop without a controller endpoint.

namespace Services {

void DisableClockControl() {
  // BusCtl::instance().DisableControl() once the clock control exists.
  std::clog << "clock control disabled." << std::endl;
}

void CreateFactories() {
  // Each factory links itself at the head of the factory list when it is
  // made, so the last one made heads it. In this order:
  //   MapFactory, PstnFactory, RtpFactory, ModemFactory,
  //   Mixer::MixerFactory, ExtFactory, MccFactory, EchoFactory,
  //   VoiceFactory, T38SoftFactory, IsdnFactory, RtpLEMZFactory,
  //   RtpED137Factory, HdlcSlotFactory
  // each by its instance().
}

void CreateHardware() {
  // HwMux::instance()
}

void CreateMonitoring(IniFile::File& config) {
  // MonitoringCtl::instance().Configure(config)
  (void)config;
}

void BindControl() {
  // ctrlServer.Bind() with, in this order: HeartBeatCtl::instance(),
  // Slots::instance(), HwTests::instance(), BusCtl::instance(),
  // E1Ctl::instance(), spiCtrl::instance(), MonitoringCtl::instance().
}

void ActivateControl(int port) {
  // ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port))
  (void)port;
}

void DeactivateControl() {
  // ctrlServer.Deactivate()
}

void UpdateHardwareResources() {
  // Slots::instance().UpdateHardwareResources()
}

}  // namespace Services
