#include "monitoring/DataHolder.h"

#include "asn1/AVNEncoder.h"
#include "log/Ext.h"
#include "runtime/Root.h"

#include <dirent.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace Monitoring {

namespace {
const bool* s_trace = nullptr;
}

void traceSwitch(const bool* on) { s_trace = on; }
bool traceOn() { return s_trace && *s_trace; }

}  // namespace Monitoring

using Monitoring::traceOn;

namespace {

const char kMonDir[] = "/var/monitoring/";
const char kCountersDir[] = "/var/monitoring/term_cnts/";
const char kControllersDir[] = "/var/monitoring/controller/";
const char kFramerFiles[] = "/proc/driver/hdlc/peb22554/";
// Directories are read by the board's other programs, not only by us.
const mode_t kDirMode = 0755;

std::string monPath(const std::string& relative) { return Root::path(kMonDir + relative); }


// The text as it is (NULs included) and a line feed.
void putLine(std::FILE* f, const std::string& s) {
  std::fwrite(s.data(), 1, s.size(), f);
  std::fputc('\n', f);
}

// The packet socket the interface queries go through; -1 on failure.
int packetSocket() { return ::socket(17, 3, 255); }

// A SET command's section or name becomes one path component: it must not
// climb out of, or stay at, the directory it is put in.
bool safeComponent(const std::string& c) {
  return !c.empty() && c != "." && c != ".." && c.find('/') == std::string::npos &&
         c.find('\0') == std::string::npos;
}

bool sameHost(const TERM::HostAddress& a, const TERM::HostAddress& b) {
  return static_cast<const std::string&>(a.get_iaddr()) == static_cast<const std::string&>(b.get_iaddr()) &&
         a.get_port().getValue() == b.get_port().getValue();
}

bool sameId(const MON::SnmpSetCommandId& a, const MON::SnmpSetCommandId& b) {
  if (a.oid_isSelected() && b.oid_isSelected())
    return static_cast<const std::string&>(a.get_oid()) == static_cast<const std::string&>(b.get_oid());
  if (a.name_isSelected() && b.name_isSelected()) {
    const MON::IniName& x = a.get_name();
    const MON::IniName& y = b.get_name();
    return static_cast<const std::string&>(x.get_section()) == static_cast<const std::string&>(y.get_section()) &&
           static_cast<const std::string&>(x.get_name()) == static_cast<const std::string&>(y.get_name()) &&
           x.get_index().getValue() == y.get_index().getValue();
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------- framers

bool FramerDataHolder::setFramerStatus(std::vector<unsigned char>& bytes) {
  static const char kState[] = "Current state           : ";
  static const char kLos[] = "Loss of Signal          : ";
  static const char kLfa[] = "Loss of Frame Alignment : ";
  static const char kSlipNeg[] = "Receive Slip Negative   : ";
  static const char kSlipPos[] = "Receive Slip Positive   : ";

  std::string text(bytes.begin(), bytes.end());
  text = text.substr(0, text.find('\0'));
  bool changed = false;
  auto flag = [&](const std::string& v, bool& field) {
    const bool b = v == "yes";
    if (b != field) changed = true;
    field = b;
  };
  auto count = [&](const std::string& v, int& field) {
    const int n = std::atoi(v.c_str());
    if (n != field) changed = true;
    field = n;
  };
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    auto value = [&](const char* label, std::string& v) {
      const size_t at = line.find(label);
      if (at == std::string::npos) return false;
      v = line.substr(at + std::strlen(label));
      return true;
    };
    std::string v;
    if (value(kState, v) && v != state_) {
      state_ = v;
      connected_ = v != "No Carrier";
      changed = true;
    }
    if (value(kLos, v)) flag(v, lossOfSignal_);
    if (value(kLfa, v)) flag(v, lossOfFrameAlignment_);
    if (value(kSlipNeg, v)) count(v, negativeSlips_);
    if (value(kSlipPos, v)) count(v, positiveSlips_);
  }
  return changed;
}

// ------------------------------------------------------------- interfaces

bool NetIfDataHolder::updateNetIf() {
  const int s = packetSocket();
  if (s <= 0) {
    const int e = errno;
    if (traceOn()) std::clog << "Error open socket: " << " errno=\"" << std::strerror(e) << '"' << std::endl;
    if (s == 0) ::close(s);
    return false;
  }
  ifreq r;
  std::memset(&r, 0, sizeof r);
  r.ifr_ifindex = index_;
  if (::ioctl(s, SIOCGIFNAME, &r) < 0 || ::ioctl(s, SIOCGIFFLAGS, &r) < 0) {
    const int e = errno;
    if (traceOn()) std::clog << "Error ioctl socket: " << " errno=\"" << std::strerror(e) << '"' << std::endl;
    ::close(s);
    return false;
  }
  const int sample = (r.ifr_flags & IFF_RUNNING) ? 1 : 0;
  ::close(s);
  return addSample(sample);
}

bool NetIfDataHolder::addSample(int sample) {
  samples_.push_back(sample);
  while (samples_.size() >= 4) samples_.pop_front();
  int sum = 0;
  for (int v : samples_) sum += v;
  const int state = sum > 1 ? 1 : 0;
  const bool changed = state != state_;
  state_ = state;
  operStatus_ = adminStatus_ = state == 1 ? 1 : 2;
  return changed;
}

// ------------------------------------------------------------------ holder

MonitoringDataHolder::MonitoringDataHolder() {
  ClearMonitorFiles();
  power_ = LGCP::POWERStatus::unknown;
  selfStatus_ = HSP::ControllerStatus::unknown;

  std::list<INet4::Addr> own;
  if (Net::ifconfig(own, Net::IFC_PRIVATE) > 0 && !own.empty()) selfAddress_ = own.front();
  else selfAddress_.Assign("127.0.0.1", nullptr);
  selfAddress_.port(0);

  for (int n = 0; n < 4; ++n) {
    const std::string p = Root::path(kFramerFiles + std::to_string(n));
    struct stat st;
    if (::stat(p.c_str(), &st) == 0) framers_.emplace_back(n + 1, p);
  }

  const int s = packetSocket();
  if (s > 0) {
    for (int i = 0; i < 16; ++i) {
      ifreq r;
      std::memset(&r, 0, sizeof r);
      r.ifr_ifindex = i;
      if (::ioctl(s, SIOCGIFNAME, &r) == 0) netIfs_.emplace_back(i, r.ifr_name);
    }
    ::close(s);
  } else if (s == 0) {
    ::close(s);
  }

  CheckForMonDir(Root::path(kMonDir).c_str());
  CheckForMonDir(Root::path(kCountersDir).c_str());
}

MonitoringDataHolder::~MonitoringDataHolder() { ClearMonitorFiles(); }

bool MonitoringDataHolder::setDipValue(int value) {
  if (value == dip_) return false;
  dip_ = value;
  SaveStatusToFile(monPath("dip").c_str(), &MonitoringDataHolder::DipStatusSaver, nullptr);
  return true;
}

bool MonitoringDataHolder::setPowerStatus(const LGCP::POWERStatus& status) {
  if (status.asInt() == power_.asInt()) return false;
  power_ = status;
  SaveStatusToFile(monPath("powerstatus").c_str(), &MonitoringDataHolder::PowerStatusSaver, nullptr);
  return true;
}

bool MonitoringDataHolder::setConfigVersion(unsigned long version, unsigned long long stamp) {
  const uint32_t v = uint32_t(version);
  const uint64_t s = uint64_t(stamp);
  if (v == configVersion_ && s == configStamp_) return false;
  configVersion_ = v;
  configStamp_ = s;
  SaveStatusToFile(monPath("config_version").c_str(), &MonitoringDataHolder::ConfigVersionSaver, nullptr);
  return true;
}

namespace {
bool store(std::string& field, std::string value) {
  if (field == value) return false;
  field = std::move(value);
  return true;
}
}  // namespace

bool MonitoringDataHolder::setTemperature(std::string v) { return store(temperature_, std::move(v)); }
bool MonitoringDataHolder::setBuildVersion(std::string v) { return store(buildVersion_, std::move(v)); }
bool MonitoringDataHolder::setFPGAVersion(std::string v) { return store(fpgaVersion_, std::move(v)); }
bool MonitoringDataHolder::setBootVersion(std::string v) { return store(bootVersion_, std::move(v)); }
bool MonitoringDataHolder::setBoardVersion(std::string v) { return store(boardVersion_, std::move(v)); }

bool MonitoringDataHolder::setControllerStatus(const LGCP::ControllerInfo& info) {
  INet4::Addr address;
  address.Assign(static_cast<const std::string&>(info.get_host().get_iaddr()), nullptr);
  address.port(0);
  const bool self = address == selfAddress_;
  if (self) selfStatus_ = info.get_status();

  bool changed = true;
  LGCP::ControllerInfo* entry = nullptr;
  for (LGCP::ControllerInfo& c : controllers_) {
    if (sameHost(c.get_host(), info.get_host())) {
      entry = &c;
      break;
    }
  }
  if (entry) {
    changed = entry->get_status().asInt() != info.get_status().asInt();
    entry->set_status(info.get_status());
  } else {
    controllers_.push_back(info);
    entry = &controllers_.back();
  }
  if (changed) {
    if (traceOn())
      std::clog << "New controller " << address.GetStrAddr() << " status - " << info.get_status() << std::endl;
    CheckForMonControllerDir(address);
    const std::string p = Root::path(kControllersDir + std::string(address.GetStrAddr()) + "/status");
    SaveStatusArg arg;
    arg.value = &entry->get_status();
    SaveStatusToFile(p.c_str(), &MonitoringDataHolder::ControllerStatusSaver, &arg);
  }
  return changed && self;
}

void MonitoringDataHolder::setDisplayStatus(const LGCP::DisplayParams& params) {
  if (params.emPhone_isSelected()) setEmPhoneInfo(params.get_emPhone());
  else if (params.board_isSelected()) setBoardStatus(params.get_board());
  else if (params.snmpTrapReceivers_isSelected()) setSnmpTrapReceivers(params.get_snmpTrapReceivers());
  else if (params.controller_isSelected()) setControllerStatus(params.get_controller());
  else if (params.termCounter_isSelected()) setTermCounter(params.get_termCounter());
  else if (params.snmp_set_isSelected()) setSnmpCommands(params.get_snmp_set());
}

void MonitoringDataHolder::setBoardStatus(const LGCP::BoardInfo& info) {
  if (!info.boardStatus_isSelected()) return;
  const LGCP::BoardStatusParams& b = info.get_boardStatus();
  SaveStatusArg arg;
  arg.value = &b;
  SaveStatusToFile(monPath("board" + std::to_string(b.get_position().getValue())).c_str(),
                   &MonitoringDataHolder::BoardStatusSaver, &arg);
}

void MonitoringDataHolder::setEmPhoneInfo(const LGCP::EmPhoneInfo& info) {
  if (!info.phoneStatus_isSelected()) return;
  const LGCP::EmPhoneStatusParams& p = info.get_phoneStatus();
  SaveStatusArg arg;
  arg.value = &p;
  SaveStatusToFile(monPath("emphone" + std::to_string(p.get_id().getValue())).c_str(),
                   &MonitoringDataHolder::PhoneStatusSaver, &arg);
}

void MonitoringDataHolder::setTermCounter(const LGCP::TermCounter& counter) {
  std::string file;
  switch (counter.get_owner().asInt()) {
    case LGCP::TermCounterOwner::router: file = "router"; break;
    case LGCP::TermCounterOwner::controller: file = "controller"; break;
    case LGCP::TermCounterOwner::server: file = "server"; break;
    case LGCP::TermCounterOwner::extBoard:
      if (counter.ownerId_isPresent()) file = "board" + std::to_string(counter.get_ownerId().getValue());
      break;
    default: break;
  }
  if (!file.empty()) {
    SaveStatusArg arg;
    arg.count = counter.get_cnt().getValue();
    SaveStatusToFile(Root::path(kCountersDir + file).c_str(), &MonitoringDataHolder::TermCounterSaver, &arg);
  }
  for (LGCP::TermCounter& c : counters_) {
    if (c.get_owner().asInt() != counter.get_owner().asInt()) continue;
    if (c.ownerId_isPresent() &&
        (!counter.ownerId_isPresent() || c.get_ownerId().getValue() != counter.get_ownerId().getValue()))
      continue;
    c.set_cnt(counter.get_cnt().getValue());
    return;
  }
  counters_.push_back(counter);
}

void MonitoringDataHolder::setSnmpTrapReceivers(const TrapReceivers& list) {
  trapHosts_.clear();
  if (traceOn()) std::clog << "Trap receivers:" << list << std::endl;
  for (const ASN1::IA5String& h : list) trapHosts_.push_back(h);
}

void MonitoringDataHolder::setSnmpCommands(const MON::SnmpSetCommands& commands) {
  MON::SnmpSetCommands::commands_type& stored = setCommands_.set_commands();
  for (const MON::SnmpSetCommand& c : commands.get_commands()) {
    bool found = false;
    for (MON::SnmpSetCommand& s : stored) {
      if (sameId(s.get_id(), c.get_id())) {
        s.set_value(c.get_value());
        found = true;
        break;
      }
    }
    if (!found) stored.push_back(c);
    if (!c.get_id().name_isSelected()) continue;

    const MON::IniName& n = c.get_id().get_name();
    const std::string section = n.get_section();
    const std::string name = n.get_name();
    const std::string index = std::to_string(n.get_index().getValue());
    if (!safeComponent(section) || !safeComponent(name)) {
      std::clog << "SET command " << ext::quoted(section) << "/" << index << "/" << ext::quoted(name)
                << " names no file inside the monitoring catalog: nothing written" << std::endl;
      continue;
    }
    CheckForMonDir(monPath(section).c_str());
    CheckForMonDir(monPath(section + "/" + index).c_str());
    setValue_ = c.get_value();
    SaveStatusToFile(monPath(section + "/" + index + "/" + name).c_str(), &MonitoringDataHolder::StringParamSaver,
                     nullptr);
  }
}

int MonitoringDataHolder::updateControllerPID() {
  controllerPid_ = find_proc_by_name("controller", controllerPid_);
  return controllerPid_;
}

void MonitoringDataHolder::ClearMonitorFiles() {
  const std::string dir = Root::path(kMonDir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    std::remove((dir + e->d_name).c_str());
  }
  ::closedir(d);
}

void MonitoringDataHolder::ClearControllerFiles() {
  const std::string dir = Root::path(kMonDir);
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      if (std::strncmp(e->d_name, "board", 5) != 0) continue;
      if (traceOn()) std::clog << "remove monitoring info: " << e->d_name << std::endl;
      std::remove((dir + e->d_name).c_str());
    }
    ::closedir(d);
  }
  boards_.clear();
}

bool MonitoringDataHolder::CheckForMonDir(const char* path) {
  if (DIR* d = ::opendir(path)) {
    ::closedir(d);
    return true;
  }
  if (::mkdir(path, kDirMode) == 0) return true;
  std::clog << "FAIL create monitoring catalog <" << path << "> with code=" << errno << std::endl;
  return false;
}

void MonitoringDataHolder::CheckForMonControllerDir(const INet4::Addr& address) {
  if (!CheckForMonDir(Root::path(kControllersDir).c_str())) return;
  std::string dir = Root::path(kControllersDir + std::string(address.GetStrAddr()));
  if (dir.size() > 254) dir.resize(254);
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return;
  if (::mkdir(dir.c_str(), kDirMode) != 0) {
    std::clog << "FAIL create monitoring catalog <" << dir << "> with code=" << errno << std::endl;
    return;
  }
  if (!(address == selfAddress_)) return;
  if (::symlink(dir.c_str(), Root::path(std::string(kControllersDir) + "self").c_str()) != 0)
    std::clog << "FAIL create symlink to monitoring catalog <" << dir << "> with code=" << errno << std::endl;
}

void MonitoringDataHolder::SaveStatusToFile(const char* path, Writer writer, const SaveStatusArg* arg) {
  std::FILE* f = std::fopen(path, "w");
  if (!f) {
    std::clog << "FAIL create temporary file <" << path << "> with code=" << errno << std::endl;
    return;
  }
  (this->*writer)(f, arg);
  std::fclose(f);
}

// ---------------------------------------------------------------- writers

void MonitoringDataHolder::DipStatusSaver(std::FILE* f, const SaveStatusArg*) { std::fprintf(f, "%d", dip_); }

void MonitoringDataHolder::PowerStatusSaver(std::FILE* f, const SaveStatusArg*) {
  const char* c = "0";
  switch (power_.asInt()) {
    case LGCP::POWERStatus::main: c = "2"; break;
    case LGCP::POWERStatus::standby: c = "1"; break;
    case LGCP::POWERStatus::both: c = "3"; break;
  }
  std::fputs(c, f);
}

void MonitoringDataHolder::ConfigVersionSaver(std::FILE* f, const SaveStatusArg*) {
  std::fprintf(f, "%08x-%016llx", unsigned(configVersion_), static_cast<unsigned long long>(configStamp_));
}

void MonitoringDataHolder::BoardStatusSaver(std::FILE* f, const SaveStatusArg* arg) {
  const LGCP::BoardStatusParams& b = *static_cast<const LGCP::BoardStatusParams*>(arg->value);
  std::fprintf(f, "%d\n", b.get_status().asInt());
  putLine(f, Monitoring::text(b.get_version()));
  std::fprintf(f, "%d\n", b.get_type().asInt());
  for (LGCP::BoardStatusParams& e : boards_) {
    if (e.get_position().getValue() == b.get_position().getValue()) {
      e.set_type(b.get_type());
      e.set_version(b.get_version());
      e.set_status(b.get_status());
      return;
    }
  }
  boards_.push_back(b);
}

void MonitoringDataHolder::PhoneStatusSaver(std::FILE* f, const SaveStatusArg* arg) {
  const LGCP::EmPhoneStatusParams& p = *static_cast<const LGCP::EmPhoneStatusParams*>(arg->value);
  putLine(f, Monitoring::text(p.get_panelSV()));
  putLine(f, Monitoring::text(p.get_ctrlSV()));
  putLine(f, Monitoring::text(p.get_fpgaSV()));
  std::fprintf(f, "%d\n%d\n%d\n%d\n%d\n", p.get_status().asInt(),
               p.get_powerStatus().asInt(), p.get_mode().asInt(), p.get_hookStatus().asInt(),
               p.get_baseStatus().asInt());
  for (LGCP::EmPhoneStatusParams& e : phones_) {
    if (e.get_id().getValue() == p.get_id().getValue()) {
      e = p;
      return;
    }
  }
  phones_.push_back(p);
}

void MonitoringDataHolder::TermCounterSaver(std::FILE* f, const SaveStatusArg* arg) {
  std::fprintf(f, "%ld", arg->count);
}

void MonitoringDataHolder::ControllerStatusSaver(std::FILE* f, const SaveStatusArg* arg) {
  std::fprintf(f, "%d", static_cast<const HSP::ControllerStatus*>(arg->value)->asInt());
}

void MonitoringDataHolder::StringParamSaver(std::FILE* f, const SaveStatusArg*) {
  std::fwrite(setValue_.data(), 1, setValue_.size(), f);
}
