#pragma once
// The daemon's side of the SNMP agent links. The agents hold the board's
// monitoring tables; the daemon connects to each as a TCP client and feeds
// it every monitoring item as "set" commands of the monitoring protocol
// (MON::Message in aligned PER inside TPKT). SnmpAgentCtrl holds the item
// table and the agents and batches the items of one loop pass into one
// message per agent kind; SnmpAgentInstance is one agent connection with
// its ping.
#include "control/Connector.h"
#include "protocol/MON/MON.h"
#include "runtime/Multiplexer.h"
#include "runtime/Net.h"
#include "runtime/Timer.h"

#include <list>
#include <map>
#include <memory>
#include <string>

namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

class ISnmpAgentNotify {
public:
  virtual ~ISnmpAgentNotify() = default;
  virtual void OnSnmpAgentConnect(const std::string& /*name*/) {}
};

class SnmpAgentInstance : public Control::Notify {
public:
  // Which items an agent wants: one bit per kind.
  enum MonitoringAddressType : int { None = 0, LemzGw = 1, Kavrel = 2, LemzGwVx = 4 };

  // A ping after this much silence on our side.
  static const unsigned kPingMs = 5000;
  // An agent not heard for longer than this is dropped at the next send.
  static const int kSilenceMs = 30000;

  SnmpAgentInstance() = default;
  ~SnmpAgentInstance() override;

  // Reads one "snmpagent" block and starts connecting; false when the
  // block leaves the agent unstarted.
  bool Activate(IniFile::SubSection& block);
  void Bind(ISnmpAgentNotify* n) { notify_ = n; }
  void UnBind() { notify_ = nullptr; }

  void Command(const MON::Command& c);
  void Send(const MON::Message& m);

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;
  void OnMessage(const MON::Message& m);
  void OnResponse(const MON::Response&) {}
  void OnSignal(const MON::Signal&) {}

  void SetPingTimer();
  void OnPingTimer(Timer*);

  MonitoringAddressType kind() const { return kind_; }
  const std::string& name() const { return name_; }
  const std::string& label() const { return label_; }
  bool started() const { return connection_ != nullptr; }
  Control::ConnectorNet* connection() const { return connection_.get(); }
  bool pingArmed() const { return pingTimer_.is_running(); }

private:
  std::unique_ptr<Control::ConnectorNet> connection_;
  MonitoringAddressType kind_ = None;
  std::string name_;
  std::string label_;
  INet4::Addr address_;
  unsigned stamp_ = 0;
  Timer pingTimer_;
  ISnmpAgentNotify* notify_ = nullptr;
};

class SnmpAgentCtrl {
public:
  enum MonitoringItemType : int {
    DriverBuild = 0,
    SoftwareBuild,
    PowerStatus,
    ControllerStatus,
    GatewayDip,
    GatewayConfigVersion,
    ExtBoardStatus,
    ExtBoardSoftVer,
    ExtBoardType,
    EmPhonePanelSoftVer,
    EmPhoneCtrlSoftVer,
    EmPhoneFpgaSoftVer,
    EmPhoneStatus,
    EmPhonePowerStatus,
    EmPhoneMode,
    EmPhoneHookStatus,
    EmPhoneBaseStatus,
    RouterTermCnt,
    ControllerTermCnt,
    ServerTermCnt,
    ExtBoardTermCnt,
    E1Connected,
    E1StatusDsc,
    E1SignalLoss,
    E1FrameAlignLoss,
    E1NegSlipCount,
    E1PosSlipCount,
    SgBuildVersion,
    SgFPGAVersion,
    SgBootVersion,
    SgBoardVersion,
    IfDescr,
    IfAdminStatus,
    IfOperStatus,
    Temperature,
    kItemCount
  };

  struct MonitoringItem {
    MonitoringItemType type;
    int mask;
    std::string table;
    std::string column;
  };

  SnmpAgentCtrl();
  virtual ~SnmpAgentCtrl();
  SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
  SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;

  void CreateInstances(IniFile::Section& section);
  void Bind(ISnmpAgentNotify* n);
  void UnBind();

  void Send(MonitoringItemType type, std::string& value);
  void Send(MonitoringItemType type, int index, std::string& value);
  void Send(const MON::SnmpSetCommands& commands);
  void SendTrapsink(const std::list<std::string>& hosts);
  void OnDpcSend();

  const std::list<std::unique_ptr<SnmpAgentInstance>>& instances() const { return instances_; }
  const std::list<MonitoringItem>& items() const { return items_; }

private:
  void SendAll(const MON::Command& c);

  std::list<std::unique_ptr<SnmpAgentInstance>> instances_;
  std::list<MonitoringItem> items_;
  Dpc sendDpc_;
  uint32_t nextUniq_ = 1;
  ISnmpAgentNotify* notify_ = nullptr;
  std::map<int, std::unique_ptr<MON::Command>> pending_;
};
