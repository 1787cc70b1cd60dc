#include "slots/Voice.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/MccRequests.h"
#include "log/Ext.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "runtime/Root.h"

namespace {

// The controller's channel settings of the two kinds.
constexpr uint32_t kPacketSize = 1024;
constexpr uint32_t kThreshold = 5;

const char* const kPromptDir = "/usr/local/voice/";

// A prompt name that climbs out of the prompt directory names no prompt.
bool climbs(const std::string& name) {
  size_t at = 0;
  for (;;) {
    const size_t end = name.find('/', at);
    if (name.compare(at, end == std::string::npos ? std::string::npos : end - at, "..") == 0) return true;
    if (end == std::string::npos) return false;
    at = end + 1;
  }
}

// The recorder's copy is done with its last write; the players' when the
// channel has taken everything.
ASync::Copy::EventsParams recorderEvents() {
  ASync::Copy::EventsParams e;
  e.flush = 0;
  return e;
}

}  // namespace

std::string dhost2str(const TERM::HostAddress& h) {
  return static_cast<const std::string&>(h.get_iaddr()) + ":" + std::to_string(h.get_port().getValue());
}

// ---------------------------------------------------------------- players

PlaySlotGeneric::PlaySlotGeneric(Fd device)
    : timeslot_(Device::requestValue(device.lowlevel_fd(), MccRequest::kTimeslot, 0)), device_(std::move(device)) {}

bool PlaySlotGeneric::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

PlaySlotNetwork::PlaySlotNetwork(Fd device, const LGCP::PlayerParams_network& p)
    : PlaySlotGeneric(std::move(device)), address_(dhost2str(p.get_host())), streamId_(uint32_t(p.get_id().getValue())) {}

bool PlaySlotNetwork::IOnOutputStream() {
  // A player that has ended plays nothing for a new sink.
  if (state_ == State::done) return false;
  if (state_ == State::idle) {
    state_ = State::connecting;
    // Reported before the attempt, so that one failing at once still ends
    // in the order of any failed connection: inactive, then the abort.
    OnChangeOutputStream(true);
    connector_.reset(new ASync::Connect);
    connector_->Bind(&PlaySlotNetwork::OnConnect, this);
    connector_->Start(address_, kConnectTimeout);
    if (state_ == State::done) return false;
  }
  OnChangeOutputStream(true);
  return IsTimeSlotValid();
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ASync::Connect::Status::Connected) {
    std::clog << ext::header(this) << "connection to " << host(this) << " fail." << std::endl;
    Release();
    return;
  }
  std::clog << ext::header(this) << "connected to " << host(this) << "." << std::endl;
  LGCP::IoctlResponse r;
  r.select_startPlaying();
  OnIoctlResponse(r);
  state_ = State::playing;
  copier_.reset(new ASync::Copy);
  copier_->Bind(&PlaySlotNetwork::OnPlayComplete, this);
  const uint8_t id[4] = {uint8_t(streamId_ >> 24), uint8_t(streamId_ >> 16), uint8_t(streamId_ >> 8),
                         uint8_t(streamId_)};
  // A fresh connection takes four bytes at once; what a broken one does
  // with them the copy finds out.
  (void)::send(socket.lowlevel_fd(), id, sizeof id, MSG_NOSIGNAL);
  copier_->Start(socket, device_);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::Done)
    std::clog << ext::header(this) << "connection to " << host(this) << " closed." << std::endl;
  else
    std::cerr << ext::header(this) << "play failed" << std::endl;
  Release();
}

void PlaySlotNetwork::Release() {
  state_ = State::done;
  OnChangeOutputStream(false);
  // The copier and the connector have ended and hold no descriptor; they go
  // with the slot (this may run inside their own handlers).
  OnAbort(0);
}

PlaySlotFile::PlaySlotFile(Fd device, const LGCP::PlayerParams_file& p)
    : PlaySlotGeneric(std::move(device)), repeat_(uint32_t(p.get_repeat().getValue())) {
  for (const auto& n : p.get_name()) names_.push_back(static_cast<const std::string&>(n));
  cursor_ = names_.begin();
  deferredAbort_.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::IOnOutputStream() {
  // A player that has ended plays nothing for a new sink.
  if (released_) return false;
  if (!started_) {
    if (!restart()) {
      deferredAbort_.Activate();
      return false;
    }
    started_ = true;
  }
  OnChangeOutputStream(true);
  return IsTimeSlotValid();
}

bool PlaySlotFile::restart() {
  cursor_ = names_.begin();
  return next_phrase();
}

bool PlaySlotFile::next_phrase() {
  for (; cursor_ != names_.end(); ++cursor_) {
    file_.close();
    if (climbs(*cursor_)) continue;
    file_ = Fd(::open(Root::path(kPromptDir + *cursor_).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    // Only a plain file ends: anything else could hold the copy for ever.
    if (file_.is_valid() && ::fstat(file_.lowlevel_fd(), &st) == 0 && S_ISREG(st.st_mode)) break;
  }
  if (cursor_ == names_.end()) {
    file_.close();
    return false;
  }
  ::lseek(file_.lowlevel_fd(), 0, SEEK_SET);
  // An idle or ended copier is started again; a running one is replaced.
  if (!copier_ || (copier_->state() >= ASync::Copy::Status::Running &&
                   copier_->state() <= ASync::Copy::Status::Flushing)) {
    copier_.reset(new ASync::Copy);
    copier_->set_bufsize(kChunk);
    copier_->Bind(&PlaySlotFile::OnPlayComplete, this);
  }
  ++cursor_;
  copier_->Start(file_, device_);
  return true;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status != ASync::Copy::Status::Done) {
    Release();
    return;
  }
  if (next_phrase()) return;
  if (repeat_ != 0 && --repeat_ == 0) {
    Release();
    return;
  }
  if (!restart()) OnAbort(0);
}

void PlaySlotFile::Release() {
  released_ = true;
  OnChangeOutputStream(false);
  file_.close();
  OnAbort(0);
}

void PlaySlotFile::delayed_abort() {
  deferredAbort_.Deactivate();
  OnAbort(0);
}

// ---------------------------------------------------------------- recorder

RecordSlot::RecordSlot(const std::string& address, int timeslot, Fd device)
    : timeslot_(timeslot), device_(std::move(device)), address_(address) {}

void RecordSlot::IAfterCreate() { OnChangeInputStream(true); }

bool RecordSlot::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

bool RecordSlot::IOnInputStream() {
  connector_.reset(new ASync::Connect);
  connector_->Bind(&RecordSlot::OnConnect, this);
  connector_->Start(address_, PlaySlotNetwork::kConnectTimeout);
  return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ASync::Connect::Status::Connected) {
    std::clog << ext::header(this) << "connection to " << host(this) << " fail." << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionFail);
    return;
  }
  std::clog << ext::header(this) << "connected to " << host(this) << "." << std::endl;
  copier_.reset(new ASync::Copy);
  copier_->set_events(recorderEvents());
  copier_->Bind(&RecordSlot::OnRecordComplete, this);
  copier_->Start(device_, socket);
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
  int cause;
  if (status == ASync::Copy::Status::Done) {
    cause = LGCP::StopRecordingCause::userRequest;
    std::clog << ext::header(this) << "connection to " << host(this) << " closed." << std::endl;
  } else {
    cause = LGCP::StopRecordingCause::connectionAborted;
    std::cerr << ext::header(this) << "record aborted" << std::endl;
  }
  StopRecording(cause);
}

void RecordSlot::StopRecording(int cause) {
  // The copier and the connector have ended (this runs inside their
  // handlers) and hold no descriptor.
  LGCP::IoctlResponse r;
  r.select_stopRecording(LGCP::StopRecordingCause::NamedNumber(cause));
  OnIoctlResponse(r);
}

// ---------------------------------------------------------------- factory

VoiceFactory& VoiceFactory::instance() {
  static VoiceFactory self;
  return self;
}

Slot* VoiceFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.voice_isSelected()) return nullptr;
  const LGCP::VoiceParams& v = params.get_voice();
  if (v.record_isSelected()) return CreateRecord(dhost2str(v.get_record()));
  if (v.player_isSelected()) return CreatePlay(v.get_player());
  return nullptr;
}

Fd VoiceFactory::allocate(bool player, int& timeslot) {
  Fd fd(Device::open("/dev/mcc/ctl", (player ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC));
  if (!fd.is_valid()) {
    Errno e;
    std::cerr << ext::header(this) << "fail to open /dev/mcc/ctl device for " << (player ? "writing" : "reading")
              << ": " << e << std::endl;
    return Fd();
  }
  if (MccAllocate(fd.lowlevel_fd(), mccTransparent, kPacketSize, player ? 0 : kThreshold, player ? kThreshold : 0) <
      0) {
    Errno e;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << e << std::endl;
    return Fd();
  }
  timeslot = Device::requestValue(fd.lowlevel_fd(), MccRequest::kTimeslot, 0);
  if (timeslot < 0) {
    std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
    return Fd();
  }
  return fd;
}

PlaySlotGeneric* VoiceFactory::CreatePlay(const LGCP::PlayerParams& params) {
  int ts;
  Fd fd = allocate(true, ts);
  if (!fd.is_valid()) return nullptr;
  PlaySlotGeneric* p = nullptr;
  if (params.network_isSelected())
    p = new PlaySlotNetwork(fd, params.get_network());
  else if (params.file_isSelected())
    p = new PlaySlotFile(fd, params.get_file());
  if (p) players_.push_back(p);
  return p;
}

RecordSlot* VoiceFactory::CreateRecord(const std::string& address) {
  int ts;
  Fd fd = allocate(false, ts);
  if (!fd.is_valid()) return nullptr;
  RecordSlot* r = new RecordSlot(address, ts, fd);
  recorders_.push_back(r);
  return r;
}
