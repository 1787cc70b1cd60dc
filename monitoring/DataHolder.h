#pragma once
// The monitoring service's memory of the board: the last known value of
// everything it polls or the controller reports, each setter saying whether
// the value changed. Every value is also published for the board's other
// programs as a small text file under "/var/monitoring/", rewritten when the
// value changes. The framer and network-interface records parse their own
// sources.
#include "protocol/HSP/HSP.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/MON/MON.h"
#include "protocol/TERM/TERM.h"
#include "runtime/Net.h"

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

namespace Monitoring {
// The "monitoring.internal" trace switch, set once at start-up.
void traceSwitch(const bool* on);
bool traceOn();
// Octets the controller sent as a version or name, as text.
inline std::string text(const ASN1::OCTET_STRING& o) { return std::string(o.data(), o.size()); }
}  // namespace Monitoring

// One E1 framer, from its kernel status file.
class FramerDataHolder {
public:
  FramerDataHolder(int number, const std::string& statusFile) : number_(number), statusFile_(statusFile) {}

  // The status file's content; true when any field changed.
  bool setFramerStatus(std::vector<unsigned char>& bytes);

  bool connected() const { return connected_; }
  const std::string& state() const { return state_; }
  bool lossOfSignal() const { return lossOfSignal_; }
  bool lossOfFrameAlignment() const { return lossOfFrameAlignment_; }
  int negativeSlips() const { return negativeSlips_; }
  int positiveSlips() const { return positiveSlips_; }
  int number() const { return number_; }
  const std::string& statusFile() const { return statusFile_; }

private:
  bool connected_ = false;
  std::string state_ = "absent";
  bool lossOfSignal_ = true;
  bool lossOfFrameAlignment_ = true;
  int negativeSlips_ = 0;
  int positiveSlips_ = 0;
  int number_;
  std::string statusFile_;
};

// One network interface, from its running flag; two running samples of the
// last three make it up.
class NetIfDataHolder {
public:
  NetIfDataHolder(int index, const std::string& name) : index_(index), name_(name) {}

  // Takes one sample of the interface's flags; true when the state changed.
  bool updateNetIf();
  // Takes a sample given by the caller (1 running, 0 not); the same rule.
  bool addSample(int sample);

  int state() const { return state_; }
  int operStatus() const { return operStatus_; }
  int adminStatus() const { return adminStatus_; }
  int index() const { return index_; }
  const std::string& name() const { return name_; }

private:
  int state_ = -1;
  int operStatus_ = 2;
  int adminStatus_ = 2;
  std::list<int> samples_;
  int index_;
  std::string name_;
};

class MonitoringDataHolder {
public:
  union SaveStatusArg {
    const void* value;
    long count;
  };
  typedef void (MonitoringDataHolder::*Writer)(std::FILE*, const SaveStatusArg*);
  typedef ASN1::SEQUENCE_OF<ASN1::IA5String, ASN1::EmptyConstraint> TrapReceivers;

  MonitoringDataHolder();
  ~MonitoringDataHolder();
  MonitoringDataHolder(const MonitoringDataHolder&) = delete;
  MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;

  bool setDipValue(int value);
  bool setPowerStatus(const LGCP::POWERStatus& status);
  bool setConfigVersion(unsigned long version, unsigned long long stamp);
  bool setTemperature(std::string value);
  bool setBuildVersion(std::string value);
  bool setFPGAVersion(std::string value);
  bool setBootVersion(std::string value);
  bool setBoardVersion(std::string value);
  // True only when this board's own controller status changed.
  bool setControllerStatus(const LGCP::ControllerInfo& info);

  void setDisplayStatus(const LGCP::DisplayParams& params);
  void setBoardStatus(const LGCP::BoardInfo& info);
  void setEmPhoneInfo(const LGCP::EmPhoneInfo& info);
  void setTermCounter(const LGCP::TermCounter& counter);
  void setSnmpTrapReceivers(const TrapReceivers& list);
  void setSnmpCommands(const MON::SnmpSetCommands& commands);

  const INet4::Addr& getSelfHostAddress() const { return selfAddress_; }
  const HSP::ControllerStatus& getSelfControllerStatus() const { return selfStatus_; }
  const LGCP::POWERStatus& getPowerStatus() const { return power_; }
  const int& getDipValue() const { return dip_; }
  const uint32_t& getConfigVersion() const { return configVersion_; }
  const std::string& getTemperature() const { return temperature_; }
  const std::string& getBuildVersion() const { return buildVersion_; }
  const std::string& getFPGAVersion() const { return fpgaVersion_; }
  const std::string& getBootVersion() const { return bootVersion_; }
  const std::string& getBoardVersion() const { return boardVersion_; }
  const std::list<LGCP::BoardStatusParams>& GetBoardStatus() const { return boards_; }
  const std::list<LGCP::EmPhoneStatusParams>& GetEmPhoneStatus() const { return phones_; }
  const std::list<LGCP::TermCounter>& GetTermCounters() const { return counters_; }
  const std::list<std::string>& GetTrapHosts() const { return trapHosts_; }
  const MON::SnmpSetCommands& GetSnmpCommands() const { return setCommands_; }
  std::list<FramerDataHolder>& GetFramers() { return framers_; }
  std::list<NetIfDataHolder>& GetNetIfs() { return netIfs_; }
  const std::list<LGCP::ControllerInfo>& GetControllers() const { return controllers_; }

  int updateControllerPID();
  void ClearMonitorFiles();
  void ClearControllerFiles();
  bool CheckForMonDir(const char* path);
  void CheckForMonControllerDir(const INet4::Addr& address);
  void SaveStatusToFile(const char* path, Writer writer, const SaveStatusArg* arg);

private:
  void DipStatusSaver(std::FILE* f, const SaveStatusArg* arg);
  void PowerStatusSaver(std::FILE* f, const SaveStatusArg* arg);
  void ConfigVersionSaver(std::FILE* f, const SaveStatusArg* arg);
  void BoardStatusSaver(std::FILE* f, const SaveStatusArg* arg);
  void PhoneStatusSaver(std::FILE* f, const SaveStatusArg* arg);
  void TermCounterSaver(std::FILE* f, const SaveStatusArg* arg);
  void ControllerStatusSaver(std::FILE* f, const SaveStatusArg* arg);
  void StringParamSaver(std::FILE* f, const SaveStatusArg* arg);

  INet4::Addr selfAddress_;
  HSP::ControllerStatus selfStatus_;
  int controllerPid_ = -1;
  std::list<LGCP::ControllerInfo> controllers_;
  LGCP::POWERStatus power_;
  std::list<LGCP::BoardStatusParams> boards_;
  std::list<LGCP::EmPhoneStatusParams> phones_;
  std::list<LGCP::TermCounter> counters_;
  std::list<std::string> trapHosts_;
  int dip_ = -1;
  uint64_t configStamp_ = ~uint64_t(0);
  uint32_t configVersion_ = ~uint32_t(0);
  std::string temperature_, buildVersion_, fpgaVersion_, bootVersion_, boardVersion_;
  MON::SnmpSetCommands setCommands_;
  std::string setValue_;
  std::list<FramerDataHolder> framers_;
  std::list<NetIfDataHolder> netIfs_;
};
