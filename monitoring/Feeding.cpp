// The monitoring items: each cached value rendered as the text the agents
// take, and the full resend that brings a newly connected agent up to date.
#include "monitoring/MonitoringCtl.h"

#include "runtime/Root.h"

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

std::string g_softwareBuild;

std::string unsignedText(long v) { return std::to_string(static_cast<unsigned int>(v)); }

}  // namespace

void MonitoringCtl::softwareBuild(const std::string& tag) { g_softwareBuild = tag; }

void MonitoringCtl::sendValue(SnmpAgentCtrl::MonitoringItemType type, int index, std::string value) {
  agents_.Send(type, index, value);
}

void MonitoringCtl::sendSnmpDriverBuild() {
  std::FILE* f = std::fopen(Root::path("/proc/voice/version").c_str(), "r");
  if (!f) return;
  char buf[128] = {};
  const bool got = std::fgets(buf, 127, f) != nullptr && buf[0] != '\0';
  std::fclose(f);
  if (!got) return;

  // Words separated by single runs of blanks, each stripped of white space.
  std::vector<std::string> words;
  const std::string line = buf;
  size_t pos = 0;
  while (pos <= line.size()) {
    size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    std::string w = line.substr(pos, end - pos);
    const size_t b = w.find_first_not_of(" \t\n\r\f\v");
    w = b == std::string::npos ? std::string() : w.substr(b, w.find_last_not_of(" \t\n\r\f\v") - b + 1);
    words.push_back(w);
    pos = line.find_first_not_of(' ', end);
    if (pos == std::string::npos) break;
  }
  std::string value = "none";
  if (words.size() >= 4) value = words[1] + " [" + words[2] + " " + words[3] + "]";
  else if (words.size() == 3) value = words[1] + " [" + words[2] + "]";
  sendValue(SnmpAgentCtrl::DriverBuild, 0, value);
}

void MonitoringCtl::sendSnmpSoftwareBuild() { sendValue(SnmpAgentCtrl::SoftwareBuild, 0, g_softwareBuild); }

void MonitoringCtl::sendSnmpPowerStatus() {
  sendValue(SnmpAgentCtrl::PowerStatus, 0, unsignedText(holder_.getPowerStatus().asInt()));
}

void MonitoringCtl::sendSnmpControllerStatus() {
  sendValue(SnmpAgentCtrl::ControllerStatus, 0, unsignedText(holder_.getSelfControllerStatus().asInt()));
}

void MonitoringCtl::sendSnmpGatewayDip() {
  sendValue(SnmpAgentCtrl::GatewayDip, 0, unsignedText(holder_.getDipValue()));
}

void MonitoringCtl::sendSnmpGatewayConfigVersion() {
  sendValue(SnmpAgentCtrl::GatewayConfigVersion, 0, std::to_string(holder_.getConfigVersion()));
}

void MonitoringCtl::sendSnmpBoardStatus(const LGCP::BoardStatusParams& b) {
  const int i = b.get_position().getValue();
  sendValue(SnmpAgentCtrl::ExtBoardStatus, i, std::to_string(b.get_status().asInt()));
  sendValue(SnmpAgentCtrl::ExtBoardSoftVer, i, Monitoring::text(b.get_version()));
  sendValue(SnmpAgentCtrl::ExtBoardType, i, std::to_string(b.get_type().asInt()));
}

void MonitoringCtl::sendSnmpBoardStatuses() {
  for (const LGCP::BoardStatusParams& b : holder_.GetBoardStatus()) sendSnmpBoardStatus(b);
}

void MonitoringCtl::sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& p) {
  // The row index is the controller's id plus one, taken modulo 2^32 as the
  // agents' 32-bit index holds it: the largest id becomes the smallest
  // index, and no two ids share a row.
  const int i = static_cast<int>(static_cast<uint32_t>(p.get_id().getValue()) + 1u);
  sendValue(SnmpAgentCtrl::EmPhonePanelSoftVer, i, Monitoring::text(p.get_panelSV()));
  sendValue(SnmpAgentCtrl::EmPhoneCtrlSoftVer, i, Monitoring::text(p.get_ctrlSV()));
  sendValue(SnmpAgentCtrl::EmPhoneFpgaSoftVer, i, Monitoring::text(p.get_fpgaSV()));
  sendValue(SnmpAgentCtrl::EmPhoneStatus, i, std::to_string(p.get_status().asInt()));
  sendValue(SnmpAgentCtrl::EmPhonePowerStatus, i, std::to_string(p.get_powerStatus().asInt()));
  sendValue(SnmpAgentCtrl::EmPhoneMode, i, std::to_string(p.get_mode().asInt()));
  sendValue(SnmpAgentCtrl::EmPhoneHookStatus, i, std::to_string(p.get_hookStatus().asInt()));
  sendValue(SnmpAgentCtrl::EmPhoneBaseStatus, i, std::to_string(p.get_baseStatus().asInt()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses() {
  for (const LGCP::EmPhoneStatusParams& p : holder_.GetEmPhoneStatus()) sendSnmpEmPhoneStatus(p);
}

void MonitoringCtl::sendTermCounters(int owner, SnmpAgentCtrl::MonitoringItemType type) {
  for (const LGCP::TermCounter& c : holder_.GetTermCounters())
    if (c.get_owner().asInt() == owner) sendValue(type, 0, unsignedText(c.get_cnt().getValue()));
}

void MonitoringCtl::sendSnmpRouterTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::router, SnmpAgentCtrl::RouterTermCnt);
}

void MonitoringCtl::sendSnmpControllerTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::controller, SnmpAgentCtrl::ControllerTermCnt);
}

void MonitoringCtl::sendSnmpServerTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::server, SnmpAgentCtrl::ServerTermCnt);
}

void MonitoringCtl::sendSnmpBoardTermCnt() {
  for (const LGCP::TermCounter& c : holder_.GetTermCounters())
    if (c.get_owner().asInt() == LGCP::TermCounterOwner::extBoard && c.ownerId_isPresent())
      sendValue(SnmpAgentCtrl::ExtBoardTermCnt, c.get_ownerId().getValue(), unsignedText(c.get_cnt().getValue()));
}

void MonitoringCtl::sendSnmpFramerStatus(const FramerDataHolder& f) {
  const int i = f.number();
  sendValue(SnmpAgentCtrl::E1Connected, i, f.connected() ? "1" : "0");
  sendValue(SnmpAgentCtrl::E1StatusDsc, i, f.state());
  sendValue(SnmpAgentCtrl::E1SignalLoss, i, f.lossOfSignal() ? "1" : "0");
  sendValue(SnmpAgentCtrl::E1FrameAlignLoss, i, f.lossOfFrameAlignment() ? "1" : "0");
  sendValue(SnmpAgentCtrl::E1NegSlipCount, i, std::to_string(f.negativeSlips()));
  sendValue(SnmpAgentCtrl::E1PosSlipCount, i, std::to_string(f.positiveSlips()));
}

void MonitoringCtl::sendSnmpFramerStatus() {
  for (const FramerDataHolder& f : holder_.GetFramers()) sendSnmpFramerStatus(f);
}

void MonitoringCtl::sendSnmpStatusBuildVersion() {
  sendValue(SnmpAgentCtrl::SgBuildVersion, 0, holder_.getBuildVersion());
}
void MonitoringCtl::sendSnmpStatusFPGAVersion() { sendValue(SnmpAgentCtrl::SgFPGAVersion, 0, holder_.getFPGAVersion()); }
void MonitoringCtl::sendSnmpStatusBootVersion() { sendValue(SnmpAgentCtrl::SgBootVersion, 0, holder_.getBootVersion()); }
void MonitoringCtl::sendSnmpStatusBoardVersion() {
  sendValue(SnmpAgentCtrl::SgBoardVersion, 0, holder_.getBoardVersion());
}

void MonitoringCtl::sendSnmpNetIfStatus(const NetIfDataHolder& n) {
  sendValue(SnmpAgentCtrl::IfOperStatus, n.index(), std::to_string(n.operStatus()));
  sendValue(SnmpAgentCtrl::IfAdminStatus, n.index(), std::to_string(n.adminStatus()));
  sendValue(SnmpAgentCtrl::IfDescr, n.index(), n.name());
}

void MonitoringCtl::sendSnmpNetIfStatus() {
  for (const NetIfDataHolder& n : holder_.GetNetIfs()) sendSnmpNetIfStatus(n);
}

void MonitoringCtl::sendSnmpTemperature() { sendValue(SnmpAgentCtrl::Temperature, 0, holder_.getTemperature()); }

void MonitoringCtl::sendSnmpTrapReceivers() { agents_.SendTrapsink(holder_.GetTrapHosts()); }

void MonitoringCtl::sendSnmpCommands() { agents_.Send(holder_.GetSnmpCommands()); }

void MonitoringCtl::sendSnmpCommands(const MON::SnmpSetCommands& commands) { agents_.Send(commands); }

void MonitoringCtl::OnDpcSend() {
  sendSnmpTrapReceivers();
  sendSnmpDriverBuild();
  sendSnmpSoftwareBuild();
  sendSnmpPowerStatus();
  sendSnmpControllerStatus();
  sendSnmpGatewayDip();
  sendSnmpGatewayConfigVersion();
  sendSnmpTemperature();
  sendSnmpStatusBuildVersion();
  sendSnmpStatusFPGAVersion();
  sendSnmpStatusBootVersion();
  sendSnmpStatusBoardVersion();
  sendSnmpBoardStatuses();
  sendSnmpEmPhoneStatuses();
  sendSnmpEmPhoneStatuses();
  sendSnmpRouterTermCnt();
  sendSnmpControllerTermCnt();
  sendSnmpServerTermCnt();
  sendSnmpBoardTermCnt();
  sendSnmpFramerStatus();
  sendSnmpNetIfStatus();
  sendSnmpCommands();
  resendDpc_.Deactivate();
}
