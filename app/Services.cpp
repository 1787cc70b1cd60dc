#include "app/Services.h"

#include "app/TraceCtl.h"
#include "app/Version.h"
#include "config/IniFile.h"
#include "control/Acceptor.h"
#include "control/CtrlSrv.h"
#include "control/HeartBeat.h"
#include "hardware/BusCtl.h"
#include "hardware/DSProcReceiver.h"
#include "hardware/E1Ctl.h"
#include "hardware/HDLC.h"
#include "hardware/HwTests.h"
#include "hardware/HwMux.h"
#include "hardware/SpiCtrl.h"
#include "monitoring/MonitoringCtl.h"
#include "rtp/RtpED137Factory.h"
#include "rtp/RtpFactory.h"
#include "rtp/RtpLEMZFactory.h"
#include "signalling/HdlcSlot.h"
#include "signalling/IsdnSlot.h"
#include "signalling/PstnSlot.h"
#include "slots/EchoSlot.h"
#include "slots/ExtSlot.h"
#include "slots/MapSlot.h"
#include "slots/MccSlot.h"
#include "slots/Mixer.h"
#include "slots/ModemSlot.h"
#include "slots/Slots.h"
#include "slots/T38SoftSlot.h"
#include "slots/TrunkSlot.h"
#include "slots/Voice.h"

#include <iostream>

// The start-up's steps, each making or binding its objects in the order
// the rest of the daemon relies on.

namespace Services {

void DisableClockControl() {
  BusCtl::instance()->DisableControl();
}

void CreateFactories() {
  // The trunk factories are static objects, made before main, so they end
  // the list.
  TrunkFactory::Link();
  // Each factory links itself at the head of the factory list when it is
  // made, so the last one made heads it and is offered a create first:
  MapFactory::instance();
  PstnFactory::instance();
  RtpFactory::instance();
  ModemFactory::instance();
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  MccFactory::instance();
  EchoFactory::instance();
  VoiceFactory::instance();
  T38SoftFactory::instance();
  IsdnFactory::instance();
  RtpLEMZFactory::instance();
  RtpED137Factory::instance();
  HdlcSlot::traceSwitch(&traces.signalling.hdlc);
  HdlcSlotFactory::instance();
}

void CreateHardware() {
  HDLC::traceSwitch(&traces.signalling.hdlc);
  Hardware::DSProcReceiverService::traceSwitch(&traces.signalling.events);
  HwMux::instance();
}

void CreateMonitoring(IniFile::File& config) {
  Monitoring::traceSwitch(&traces.monitoring.internal);
  MonitoringCtl::softwareBuild(Version::current.tag());
  MonitoringCtl::instance().Configure(config);
}

void BindControl() {
  ctrlServer.Bind(HeartBeatCtl::instance());
  ctrlServer.Bind(&Slots::instance());
  ctrlServer.Bind(HwTests::instance());
  ctrlServer.Bind(BusCtl::instance());
  ctrlServer.Bind(E1Ctl::instance());
  ctrlServer.Bind(spiCtrl::instance());
  // Last: it takes only what no other service took.
  ctrlServer.Bind(&MonitoringCtl::instance());
}

void ActivateControl(int port) { ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port)); }

void DeactivateControl() { ctrlServer.Deactivate(); }

void UpdateHardwareResources() { Slots::instance().UpdateHardwareResources(); }

}  // namespace Services
