#include "monitoring/MonitoringCtl.h"

#include "asn1/AVNEncoder.h"
#include "config/IniFile.h"
#include "hardware/Device.h"
#include "runtime/Fd.h"
#include "runtime/Root.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

using Monitoring::traceOn;

namespace {

const char kHal[] = "/dev/hal";
const char kConfigDir[] = "/usr/local/etc/";
const char kConfigPrefix[] = "config.";
const char kConfigSaved[] = "config.2save.tar.bz2";

// The first line of a text file, line end included, at most limit
// characters (empty when the file holds nothing); false when the file
// cannot be opened.
bool firstLine(const std::string& path, size_t limit, std::string& line) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  std::vector<char> buf(limit + 2, '\0');
  if (!std::fgets(buf.data(), static_cast<int>(limit + 1), f)) buf[0] = '\0';
  std::fclose(f);
  line = buf.data();
  return true;
}

// Reads leading hexadecimal digits as a stream extraction does; the value
// stays as it was when there are none.
template <class T>
void readHex(const std::string& text, T& value) {
  std::istringstream in(text);
  T v = 0;
  if (in >> std::hex >> v) value = v;
}

// The power supply byte as the controller's power status.
LGCP::POWERStatus::NamedNumber powerOf(uint8_t byte) {
  switch (byte == 0 ? 3 : byte) {
    case 1: return LGCP::POWERStatus::standby;
    case 2: return LGCP::POWERStatus::main;
    case 3: return LGCP::POWERStatus::both;
    default: return LGCP::POWERStatus::unknown;
  }
}

}  // namespace

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl ctl;
  return ctl;
}

MonitoringCtl::MonitoringCtl() {
  bkgTimer_.set(kBkgFirstMs, &MonitoringCtl::onBkgCheckTimer, this);
  powerTimer_.set(kPowerFirstMs, &MonitoringCtl::onPowerCheckTimer, this);
  controllerTimer_.set(kControllerFirstMs, &MonitoringCtl::onControllerCheckTimer, this);
  resendDpc_.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl() {
  agents_.UnBind();
  if (hal_ >= 0) {
    led_ = 0;
    halRequest(kLedRequest, led_);
    Device::close(hal_);
    hal_ = -1;
  }
}

void MonitoringCtl::Configure(IniFile::File& file) {
  agents_.CreateInstances(file["snmpagent"]);
  agents_.Bind(this);
}

// ---------------------------------------------------------------- hardware

bool MonitoringCtl::IsOpen() {
  if (hal_ >= 0) return true;
  led_ = 0;
  hal_ = Device::open(kHal, O_RDWR | O_CLOEXEC);
  if (hal_ >= 0) halRequest(kLedRequest, led_);
  return hal_ >= 0;
}

bool MonitoringCtl::halRequest(uint32_t word, uint8_t& byte) {
  return Device::requestRecord(hal_, word, &byte, 1) >= 0;
}

void MonitoringCtl::setFramerLed(const LGCP::FramerInfo& info) {
  if (!IsOpen()) return;
  const unsigned n = static_cast<unsigned>(info.get_e1().getValue());
  const uint8_t link = uint8_t(1u << (2 * n));
  const uint8_t line = uint8_t(1u << (2 * n + 1));
  const LGCP::FramerInfoData& d = info.get_info();
  if (d.link_isSelected()) {
    if (d.get_link()) led_ &= uint8_t(~link);
    else led_ |= link;
  } else if (d.line_isSelected()) {
    if (d.get_line()) {
      if (!(led_ & line)) led_ |= link;
      led_ |= line;
    } else {
      led_ &= uint8_t(~(line | link));
    }
  }
  uint8_t b = led_;
  halRequest(kLedRequest, b);
}

// ------------------------------------------------------------------ timers

void MonitoringCtl::onBkgCheckTimer(Timer*) {
  doVersionsCheck();
  doConfigCheck();
  doFramerCheck();
  doTemperatureCheck();
  bkgTimer_.set(kBkgPeriodMs, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*) {
  doPowerCheck();
  doDipCheck();
  doNetIfCheck();
  powerTimer_.set(kPowerPeriodMs, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*) {
  doControllerCheck();
  controllerTimer_.set(kControllerPeriodMs, &MonitoringCtl::onControllerCheckTimer, this);
}

// ------------------------------------------------------------------ checks

void MonitoringCtl::doPowerCheck() {
  if (!IsOpen()) return;
  uint8_t byte = 0;
  if (!halRequest(kPowerRequest, byte)) return;
  LGCP::POWERStatus status(powerOf(byte));
  if (!holder_.setPowerStatus(status)) return;
  if (traceOn()) std::clog << "New power status - " << status << std::endl;
  sendPowerStatus();
  sendSnmpPowerStatus();
}

void MonitoringCtl::sendPowerStatus() {
  LGCP::Signal s;
  s.select_power(holder_.getPowerStatus());
  SendSignal(s);
}

void MonitoringCtl::doDipCheck() {
  if (!IsOpen()) return;
  uint8_t byte = 0;
  if (!halRequest(kDipRequest, byte)) return;
  if (!holder_.setDipValue(int(byte))) return;
  if (traceOn()) std::clog << "New dip - " << int(byte) << std::endl;
  sendSnmpGatewayDip();
}

void MonitoringCtl::doNetIfCheck() {
  for (NetIfDataHolder& n : holder_.GetNetIfs())
    if (n.updateNetIf()) sendSnmpNetIfStatus(n);
}

void MonitoringCtl::doVersionsCheck() {
  typedef bool (MonitoringDataHolder::*Setter)(std::string);
  struct File {
    const char* path;
    const char* label;
    Setter setter;
    void (MonitoringCtl::*send)();
  };
  static const File files[] = {
      {"/var/version", "BuildVersion - ", &MonitoringDataHolder::setBuildVersion,
       &MonitoringCtl::sendSnmpStatusBuildVersion},
      {"/var/u-boot-version", "BootVersion - ", &MonitoringDataHolder::setBootVersion,
       &MonitoringCtl::sendSnmpStatusBootVersion},
      {"/var/fpga-version", "FPGAVersion - ", &MonitoringDataHolder::setFPGAVersion,
       &MonitoringCtl::sendSnmpStatusFPGAVersion},
      {"/var/board-version", "BoardVersion - ", &MonitoringDataHolder::setBoardVersion,
       &MonitoringCtl::sendSnmpStatusBoardVersion},
  };
  for (const File& f : files) {
    std::string text;
    if (!firstLine(Root::path(f.path), 254, text)) continue;
    if (traceOn()) std::clog << f.label << text << std::endl;
    if ((holder_.*f.setter)(text)) (this->*f.send)();
  }
}

void MonitoringCtl::doConfigCheck() {
  uint32_t version = 0;
  uint64_t stamp = 0;
  const std::string dir = Root::path(kConfigDir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  if (::chdir(dir.c_str()) != 0) {
    // Nothing relies on the working directory; the scan goes on by path.
  }
  const size_t prefix = std::strlen(kConfigPrefix);
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    struct stat st;
    if (::lstat((dir + name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (name.compare(0, prefix, kConfigPrefix) != 0) continue;
    if (name.compare(0, std::strlen(kConfigSaved), kConfigSaved) == 0) continue;
    const std::string rest = name.substr(prefix, 25);
    readHex(rest.substr(0, 8), version);
    if (rest.size() > 9) readHex(rest.substr(9, 16), stamp);
    if (holder_.setConfigVersion(version, stamp)) sendSnmpGatewayConfigVersion();
  }
  ::closedir(d);
}

void MonitoringCtl::doFramerCheck() {
  for (FramerDataHolder& f : holder_.GetFramers()) {
    const int fd = ::open(f.statusFile().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 1) {
      const int e = errno;
      if (fd == 0) ::close(fd);
      if (traceOn())
        std::clog << "Error open file: \"" << f.statusFile() << "\" errno=\"" << std::strerror(e) << '"' << std::endl;
      continue;
    }
    std::vector<unsigned char> bytes(1024);
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    const int e = errno;
    ::close(fd);
    if (n <= 0) {
      if (traceOn())
        std::clog << "Error read file: \"" << f.statusFile() << "\" errno=\"" << std::strerror(e) << '"' << std::endl;
      continue;
    }
    bytes.resize(size_t(n));
    if (f.setFramerStatus(bytes)) sendSnmpFramerStatus(f);
  }
}

void MonitoringCtl::doTemperatureCheck() {
  std::string line;
  if (!firstLine(Root::path("/proc/temperature"), 254, line)) return;
  if (traceOn()) std::clog << "Temperature - " << line << std::endl;
  const std::string word = line.substr(0, line.find_first_of(" \t\n\r\f\v"));
  if (holder_.setTemperature(word)) sendSnmpTemperature();
}

void MonitoringCtl::doControllerCheck() {
  LGCP::ControllerInfo entry;
  entry.set_host().set_iaddr(holder_.getSelfHostAddress().GetStrAddr());
  entry.set_host().set_port(0);
  bool connected = false;
  if (CheckServerConnection(connected) && connected) {
    entry.set_status(holder_.getSelfControllerStatus());
  } else {
    entry.set_status(holder_.updateControllerPID() > 0 ? HSP::ControllerStatus::notconnection
                                                       : HSP::ControllerStatus::notrun);
  }
  if (holder_.setControllerStatus(entry)) sendSnmpControllerStatus();
}

// ---------------------------------------------------------------- control

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
  doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
  holder_.ClearControllerFiles();
  doControllerCheck();
}

bool MonitoringCtl::OnCommand(const LGCP::Command& c) {
  if (!c.display_isSelected()) return false;
  OnDisplayCMD(c.get_display());
  Success();
  return true;
}

void MonitoringCtl::OnDisplayCMD(const LGCP::DisplayParams& p) {
  holder_.setDisplayStatus(p);
  if (p.framer_isSelected()) {
    setFramerLed(p.get_framer());
  } else if (p.board_isSelected() && p.get_board().boardStatus_isSelected()) {
    sendSnmpBoardStatus(p.get_board().get_boardStatus());
  }
  if (p.emPhone_isSelected() && p.get_emPhone().phoneStatus_isSelected()) {
    sendSnmpEmPhoneStatus(p.get_emPhone().get_phoneStatus());
    return;
  }
  if (p.snmpTrapReceivers_isSelected()) {
    sendSnmpTrapReceivers();
  } else if (p.controller_isSelected()) {
    sendSnmpControllerStatus();
  } else if (p.termCounter_isSelected()) {
    sendSnmpRouterTermCnt();
    sendSnmpControllerTermCnt();
    sendSnmpServerTermCnt();
    sendSnmpBoardTermCnt();
  } else if (p.snmp_set_isSelected()) {
    sendSnmpCommands(p.get_snmp_set());
  }
}

void MonitoringCtl::OnSnmpAgentConnect(const std::string&) { resendDpc_.Activate(); }
