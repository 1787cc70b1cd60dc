#include "slots/DspModemSlot.h"

#include <fcntl.h>

#include <cerrno>
#include <ctime>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/Utils.h"
#include "log/Ext.h"
#include "protocol/BASE/BASE.h"
#include "slots/ChildProgram.h"

namespace {

// The requests of "/dev/mctl" (records of big-endian words; the words carry
// no size bits).
constexpr uint32_t kAnswer = 0xBB03;
constexpr uint32_t kOriginate = 0xBB04;
constexpr uint32_t kAllocate = 0xBB0B;
constexpr uint32_t kChannel = 0xBB15;
constexpr uint32_t kDataModes = 0xBB16;
constexpr uint32_t kSetParam = 0xBB38;
constexpr uint32_t kResetParams = 0xBB3A;
constexpr uint32_t kFaxOriginate = 0xBB40;

// The data mode bits, by TERM::DigitalDataModeEnum (V.120 sets none).
constexpr uint32_t kModeBits[] = {1, 2, 4, 0};

const char* const kFaxTransfer = "/usr/local/sbin/fax";
const char* const kFaxReceiver = "/usr/local/bin/fax";
// At most 64 entries with the null: the program, "-m" and the number first.
constexpr size_t kMaxFaxArgs = 63;

}  // namespace

DspModemSlot::DspModemSlot(const TERM::ModemParams& params) : ModemSlot(params) {}

DspModemSlot::~DspModemSlot() {
  unbindOnce();
  pppd_kill();
  if (pid_ != -1 && device_.is_valid()) GetModemFactory().HoldUntilEnd(pid_, std::move(device_));
}

void DspModemSlot::unbind() { GetModemFactory().ReleaseModemSlot(this); }

// Without a modem there is no stream: a failed set-up (already reported as
// an abort) must not be reported as a stream on channel -1, and a later one
// that succeeds reports the modem's channel.
bool DspModemSlot::IOnOutputStream() {
  InitModem();
  return modem_ >= 0;
}

bool DspModemSlot::IOnInputStream() {
  InitModem();
  return modem_ >= 0;
}

int DspModemSlot::modemRequest(int fd, uint32_t word, std::initializer_list<uint32_t> words) {
  uint8_t rec[12];
  size_t n = 0;
  for (uint32_t w : words) {
    Device::putBE32(rec + n, w);
    n += 4;
  }
  return Device::requestRecord(fd, word, rec, n);
}

void DspModemSlot::InitModem() {
  if (modem_ >= 0) return;
  Fd fd(Device::open(GetModemDevName(), O_RDONLY | O_CLOEXEC));
  auto fail = [&](const char* what) {
    const int err = errno;
    std::cerr << ext::header(this) << what << Errno(err) << std::endl;
    OnAbort(err);
  };
  if (!fd.is_valid()) return fail("fail to open device: ");
  const int modem = Device::requestValue(fd.lowlevel_fd(), kAllocate, 0);
  if (modem < 0) return fail("insufficient resources : ");
  const int channel = Device::requestValue(fd.lowlevel_fd(), kChannel, 0);
  if (channel < 0) return fail("get timeslot fail : ");
  const uint32_t m = static_cast<uint32_t>(modem);
  if (params_.ddm_isPresent()) {
    uint32_t mask = 0;
    for (const auto& mode : params_.get_ddm()) {
      const unsigned v = static_cast<unsigned>(mode.asInt());
      if (v < sizeof kModeBits / sizeof kModeBits[0]) mask |= kModeBits[v];
    }
    if (modemRequest(fd.lowlevel_fd(), kDataModes, {m, mask}) < 0) return fail("set DDM failed : ");
  }
  if (modemRequest(fd.lowlevel_fd(), kResetParams, {m, 0xFFFFFFFF}) < 0) {
    const int err = errno;
    std::cerr << ext::header(this) << "reset dmp parameters failed : " << Errno(err) << std::endl;
  }
  if (params_.dmp_isPresent()) {
    for (const auto& p : params_.get_dmp()) {
      const int offset = p.get_offset().getValue();
      const int value = p.get_value().getValue();
      if (modemRequest(fd.lowlevel_fd(), kSetParam, {m, uint32_t(offset), uint32_t(value)}) < 0) {
        const int err = errno;
        std::cerr << ext::header(this) << "set dmp parameter " << "index=" << offset << " value=" << value
                  << " failed : " << Errno(err) << std::endl;
      }
    }
  }
  channel_ = channel;
  modem_ = modem;
  device_ = fd;
  OnChangeOutputStream(true);
  OnChangeInputStream(true);

  const bool originate = params_.originate_isPresent();
  if (!params_.fax_isPresent()) {
    const std::string device = "/dev/mdm" + std::to_string(modem);
    if (modemRequest(fd.lowlevel_fd(), originate ? kOriginate : kAnswer, {m, 0xFFFFFFFF}) < 0)
      return fail(originate ? "originate failed : " : "answer failed : ");
    pppd_exec(device.c_str(), originate ? "/usr/local/etc/ppp/coptions" : "/usr/local/etc/ppp/aoptions");
    return;
  }
  if (params_.execargs_isPresent()) {
    fd.close();
    RunFaxTransfer();
  } else if (!originate) {
    fd.close();
    RunFaxReceiver();
  } else if (modemRequest(fd.lowlevel_fd(), kFaxOriginate, {m, 0xFFFFFFFF}) < 0) {
    fail("originate failed : ");
  }
}

void DspModemSlot::RunFaxTransfer() {
  ChildProgram p;
  p.argv = {params_.execfile_isPresent() ? std::string(params_.get_execfile()) : kFaxTransfer, "-m",
            std::to_string(modem_)};
  for (const auto& a : params_.get_execargs()) {
    if (p.argv.size() >= kMaxFaxArgs) break;
    p.argv.push_back(a);
  }
  p.startText = "executing fax transfer";
  p.failText = "fail to exec!";
  child_.Bind(this, &DspModemSlot::on_fax_terminate);
  if (!runChild(p)) return;
  std::clog << ext::header(this) << "fax transfer executed" << " modem=" << modem_ << " ts=" << channel_ << std::endl;
}

void DspModemSlot::RunFaxReceiver() {
  char file[64];
  const std::time_t now = std::time(nullptr);
  std::tm local;
  if (!localtime_r(&now, &local) || !std::strftime(file, sizeof file, "/var/fax-%H-%M-%S.g3", &local)) file[0] = 0;
  ChildProgram p;
  p.argv = {kFaxReceiver, "-m", std::to_string(modem_), "receive", file};
  p.delaySeconds = 1;
  p.startText = "executing";
  p.failText = "fail to exec!";
  child_.Bind(this, &DspModemSlot::on_receiver_terminate);
  if (!runChild(p)) return;
  std::clog << ext::header(this) << "fax receiver executed" << " modem=" << modem_ << " ts=" << channel_ << std::endl;
}

void DspModemSlot::on_fax_terminate(int status) {
  std::clog << ext::header(this) << "fax terminated with code " << status << std::endl;
  pid_ = -1;
  if ((status & 0xFF) != 0) std::clog << ext::header(this) << "fax transfer failed" << std::endl;
  const int pages = (status >> 8) & 0xFF;
  std::clog << ext::header(this) << "pages received: " << pages << std::endl;
  TERM::ModemProceeding p;
  TERM::MdmAccounting& acct = p.select_acct();
  for (BASE::INTEGER64Bits* v : {&acct.set_octetsOut(), &acct.set_octetsIn(), &acct.set_packetsOut(),
                                 &acct.set_packetsIn(), &acct.set_time()}) {
    v->set_high(0);
    v->set_low(0);
  }
  acct.set_octetsIn().set_low(pages);
  OnModem(p);
  childEnded(status);
}

// Its end is reported to nobody; a destroy that waited for it completes.
void DspModemSlot::on_receiver_terminate(int status) {
  pid_ = -1;
  if (is_releasing()) childEnded(status);
}
