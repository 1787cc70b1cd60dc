#include "monitoring/SnmpAgent.h"

#include "asn1/CoderEnv.h"
#include "config/Reader.h"

#include <iostream>
#include <iterator>
#include <vector>

namespace {

const IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> monitoringAddressTypes[] = {
    {"lemzgw", SnmpAgentInstance::LemzGw},
    {"lemzgw.vx", SnmpAgentInstance::LemzGwVx},
    {"kavrel", SnmpAgentInstance::Kavrel},
    {nullptr, SnmpAgentInstance::None},
};

struct ItemRow {
  int mask;
  const char* table;
  const char* column;
};

// Indexed by SnmpAgentCtrl::MonitoringItemType.
const ItemRow kItems[SnmpAgentCtrl::kItemCount] = {
    {6, "gatewayCommon", "driverBuild"},
    {6, "gatewayCommon", "softwareBuild"},
    {6, "gatewayCommon", "powerStatus"},
    {6, "gatewayCommon", "controllerStatus"},
    {6, "gatewayCommon", "gatewayDip"},
    {6, "gatewayCommon", "gatewayConfigVersion"},
    {2, "extBoardTable", "extBoardStatus"},
    {2, "extBoardTable", "extBoardSoftVer"},
    {2, "extBoardTable", "extBoardType"},
    {2, "emPhoneTable", "emPhonePanelSoftVer"},
    {2, "emPhoneTable", "emPhoneCtrlSoftVer"},
    {2, "emPhoneTable", "emPhoneFpgaSoftVer"},
    {2, "emPhoneTable", "emPhoneStatus"},
    {2, "emPhoneTable", "emPhonePowerStatus"},
    {2, "emPhoneTable", "emPhoneMode"},
    {2, "emPhoneTable", "emPhoneHookStatus"},
    {2, "emPhoneTable", "emPhoneBaseStatus"},
    {6, "gatewayTermCounters", "routerTermCnt"},
    {6, "gatewayTermCounters", "controllerTermCnt"},
    {6, "gatewayTermCounters", "serverTermCnt"},
    {2, "extBoardTermCntTable", "extBoardTermCnt"},
    {2, "e1Table", "e1Connected"},
    {2, "e1Table", "e1StatusDsc"},
    {2, "e1Table", "e1SignalLoss"},
    {2, "e1Table", "e1FrameAlignLoss"},
    {2, "e1Table", "e1NegSlipCount"},
    {2, "e1Table", "e1PosSlipCount"},
    {4, "statusGeneral", "sgBuildVersion"},
    {4, "statusGeneral", "sgFPGAVersion"},
    {4, "statusGeneral", "sgBootVersion"},
    {4, "statusGeneral", "sgBoardVersion"},
    {6, "ifTable", "ifDescr"},
    {6, "ifTable", "ifAdminStatus"},
    {6, "ifTable", "ifOperStatus"},
    {2, "gatewayCommon", "temperature"},
};

ASN1::CoderEnv perEnv() {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return env;
}

}  // namespace

// --------------------------------------------------------------- instance

SnmpAgentInstance::~SnmpAgentInstance() {
  if (connection_) {
    connection_->UnBind();
    connection_->Deactivate();
  }
}

bool SnmpAgentInstance::Activate(IniFile::SubSection& block) {
  std::string host;
  IniFile::Reader reader("snmpagent: ", std::cerr);
  reader.required.add(&host, "host");
  reader.required.add(&name_, "name");
  reader.required.add(&kind_, "name", monitoringAddressTypes);
  if (!reader(block)) return false;

  int port = -1;
  const bool dotted = address_.Assign(host, &port);
  if (port == -1) return false;
  if (!dotted) {
    // Connecting to whatever the parser left would reach this very host.
    std::cerr << "snmpagent: host \"" << host << "\" is not an IPv4 address, line " << block.GetLineNo() << std::endl;
    return false;
  }

  const std::string text = address_.GetStrAddr();
  connection_.reset(new Control::ConnectorNet(text, static_cast<unsigned short>(port)));
  label_ = "snmpagent." + name_ + " " + text + ":" + std::to_string(port);
  connection_->service_name(label_);
  connection_->Bind(this);
  connection_->Activate();
  return true;
}

void SnmpAgentInstance::Command(const MON::Command& c) {
  MON::Message m;
  m.set_pdu().select_command(c);
  Send(m);
}

void SnmpAgentInstance::Send(const MON::Message& m) {
  if (!connection_ || !connection_->IsConnected()) return;
  std::vector<char> bytes;
  ASN1::CoderEnv env = perEnv();
  if (!ASN1::encode(m, &env, std::back_inserter(bytes))) {
    std::clog << label_ << ": encode MON message fail!!!" << std::endl;
    return;
  }
  connection_->Send(bytes.data(), static_cast<int>(bytes.size()));
  SetPingTimer();
  const unsigned now = Mux::milliseconds();
  if (static_cast<int>(now - stamp_) > kSilenceMs) {
    std::clog << label_ << ": ping timeout !!!" << " now=" << now << " stamp=" << stamp_ << std::endl;
    connection_->Disconnect();
  }
}

void SnmpAgentInstance::OnConnect() {
  std::clog << label_ << ": connected." << std::endl;
  stamp_ = Mux::milliseconds();
  if (notify_) notify_->OnSnmpAgentConnect(name_);
}

void SnmpAgentInstance::OnDisconnect() {
  std::clog << label_ << ": connection lost, reset snmpagent instance" << std::endl;
  pingTimer_.reset();
}

void SnmpAgentInstance::OnMessage(const char* data, int length) {
  stamp_ = Mux::milliseconds();
  ASN1::CoderEnv env = perEnv();
  MON::Message m;
  if (!ASN1::decode(data, data + length, &env, m, true)) {
    // TPKT delimits every message, so the next one is read from its own
    // start: the link stays, and this one still told us the agent lives.
    std::cerr << label_ << ": receive : decode error!" << std::endl;
    return;
  }
  OnMessage(m);
}

void SnmpAgentInstance::OnMessage(const MON::Message& m) {
  const MON::PDU& pdu = m.get_pdu();
  if (pdu.response_isSelected()) OnResponse(pdu.get_response());
  else if (pdu.signal_isSelected()) OnSignal(pdu.get_signal());
  else std::cerr << label_ << ": receive unknown message type" << std::endl;
}

void SnmpAgentInstance::SetPingTimer() { pingTimer_.set(kPingMs, &SnmpAgentInstance::OnPingTimer, this); }

void SnmpAgentInstance::OnPingTimer(Timer*) {
  MON::Command c;
  c.select_ping();
  Command(c);
}

// ---------------------------------------------------------------- control

SnmpAgentCtrl::SnmpAgentCtrl() {
  for (int t = 0; t < kItemCount; ++t)
    items_.push_back(MonitoringItem{MonitoringItemType(t), kItems[t].mask, kItems[t].table, kItems[t].column});
  sendDpc_.Bind(this, &SnmpAgentCtrl::OnDpcSend);
  pending_[SnmpAgentInstance::None];
  pending_[SnmpAgentInstance::LemzGw];
  for (int kind : {int(SnmpAgentInstance::Kavrel), int(SnmpAgentInstance::LemzGwVx)}) {
    pending_[kind].reset(new MON::Command);
    pending_[kind]->select_snmp_set();
  }
}

SnmpAgentCtrl::~SnmpAgentCtrl() = default;

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
  for (IniFile::SubSection& block : section) {
    instances_.emplace_back(new SnmpAgentInstance);
    instances_.back()->Activate(block);
  }
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* n) {
  notify_ = n;
  for (auto& i : instances_) i->Bind(n);
}

void SnmpAgentCtrl::UnBind() {
  notify_ = nullptr;
  for (auto& i : instances_) i->UnBind();
}

void SnmpAgentCtrl::Send(MonitoringItemType type, std::string& value) { Send(type, 0, value); }

void SnmpAgentCtrl::Send(MonitoringItemType type, int index, std::string& value) {
  const MonitoringItem* item = nullptr;
  for (const MonitoringItem& i : items_) {
    if (i.type == type) {
      item = &i;
      break;
    }
  }
  if (!item) return;
  for (auto& p : pending_) {
    if (!(p.first & item->mask) || !p.second) continue;
    MON::SnmpSetCommand c;
    c.set_uniq(static_cast<int>(nextUniq_++));
    c.set_value(value);
    MON::IniName& n = c.set_id().select_name();
    n.set_section(item->table);
    n.set_name(item->column);
    n.set_index(index);
    p.second->ref_snmp_set().ref_commands().push_back(c);
    sendDpc_.Activate();
  }
}

void SnmpAgentCtrl::Send(const MON::SnmpSetCommands& commands) {
  if (commands.get_commands().size() == 0) return;
  MON::Command c;
  c.select_snmp_set(commands);
  SendAll(c);
}

void SnmpAgentCtrl::SendTrapsink(const std::list<std::string>& hosts) {
  if (hosts.empty()) return;
  MON::Command c;
  MON::SnmpTrapsinks& sinks = c.select_snmp_trapsink_set();
  for (const std::string& h : hosts) {
    MON::SnmpTrapsink s;
    s.set_host(h);
    sinks.ref_trapsinks().push_back(s);
  }
  SendAll(c);
}

void SnmpAgentCtrl::SendAll(const MON::Command& c) {
  for (auto& i : instances_) i->Command(c);
}

void SnmpAgentCtrl::OnDpcSend() {
  for (auto& p : pending_) {
    if (!p.second) continue;
    MON::SnmpSetCommands::commands_type& list = p.second->ref_snmp_set().ref_commands();
    if (list.size() == 0) continue;
    for (auto& i : instances_)
      if (i->kind() == p.first) i->Command(*p.second);
    p.second.reset(new MON::Command);
    p.second->select_snmp_set();
  }
  sendDpc_.Deactivate();
}
