#pragma once
// Announcements played into the TDM network and TDM audio recorded, each
// through one transparent channel of the board's HDLC controller
// ("/dev/mcc/ctl"), whose bytes are moved unchanged by an asynchronous
// copier on the loop:
// - a file player writes prompt files ("/usr/local/voice/<name>") to the
//   channel, in order, the list played `repeat` times (0: for ever);
// - a network player connects to a media server, sends it the stream id
//   (4 bytes, most significant first) and plays what the server sends until
//   the server closes;
// - a recorder connects to a media server when it gets a source and sends
//   it everything the channel delivers.
// The players are sources, the recorder a sink. Nothing here waits: a slow
// or silent server, a full channel or a vanished file ends in the slot's
// signals.
#include <cstdint>
#include <list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/ASync.h"
#include "runtime/Fd.h"
#include "runtime/Multiplexer.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

// "iaddr:port", the form ASync::Connect::Start takes.
std::string dhost2str(const TERM::HostAddress& host);

// Prints a slot's server address in log lines.
template <class T>
struct Host {
  const T* p;
};
template <class T>
Host<T> host(const T* p) {
  return Host<T>{p};
}
template <class T>
std::ostream& operator<<(std::ostream& os, const Host<T>& h) {
  h.p->PutAddr(os);
  return os;
}

class VoiceSlot : public Slot {};

class PlaySlotGeneric : public VoiceSlot {
 public:
  // device: a descriptor holding an allocated channel; asks its time-slot.
  explicit PlaySlotGeneric(Fd device);

  int IGetTransmitChannel() override { return timeslot_; }
  bool IBeforeDestroy() override;
  const char* GetName() const override { return "player"; }
  void PutHeader(std::ostream& os) const { os << GetName() << "[" << timeslot_ << "]: "; }

  bool IsTimeSlotValid() const { return timeslot_ >= 0; }
  Fd& RefDeviceFd() { return device_; }

 protected:
  int timeslot_;
  Fd device_;
};

class PlaySlotNetwork : public PlaySlotGeneric {
 public:
  enum class State { idle, connecting, playing, done };
  // The time given to a media server to accept.
  static constexpr unsigned kConnectTimeout = 5000;  // ms

  PlaySlotNetwork(Fd device, const LGCP::PlayerParams_network& params);

  bool IOnOutputStream() override;
  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();
  void PutAddr(std::ostream& os) const { os << address_; }
  State state() const { return state_; }

 private:
  std::string address_;
  uint32_t streamId_;
  State state_ = State::idle;
  std::unique_ptr<ASync::Copy> copier_;
  std::unique_ptr<ASync::Connect> connector_;
};

class PlaySlotFile : public PlaySlotGeneric {
 public:
  // Files are read and written in pieces of this size.
  static constexpr unsigned kChunk = 8192;

  PlaySlotFile(Fd device, const LGCP::PlayerParams_file& params);

  bool IOnOutputStream() override;
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();
  bool restart();
  bool next_phrase();
  void delayed_abort();

 private:
  std::unique_ptr<ASync::Copy> copier_;
  Fd file_;
  uint32_t repeat_;
  bool started_ = false;
  bool released_ = false;
  Dpc deferredAbort_;
  std::vector<std::string> names_;
  std::vector<std::string>::const_iterator cursor_;
};

class RecordSlot : public VoiceSlot {
 public:
  RecordSlot(const std::string& address, int timeslot, Fd device);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnInputStream() override;
  int IGetReceiveChannel() override { return timeslot_; }
  const char* GetName() const override { return "recorder"; }
  void PutHeader(std::ostream& os) const { os << GetName() << "[" << timeslot_ << "]: "; }

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnRecordComplete(ASync::Copy::Status::Type status);
  void StopRecording(int cause);
  void PutAddr(std::ostream& os) const { os << address_; }

 private:
  int timeslot_;
  Fd device_;
  std::string address_;
  std::unique_ptr<ASync::Copy> copier_;
  std::unique_ptr<ASync::Connect> connector_;
};

class VoiceFactory : public SlotFactory {
 public:
  static VoiceFactory& instance();

  const char* GetName() const override { return "Voice/mcc"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  void PutHeader(std::ostream& os) const { os << "voice/mcc[0]: "; }

  PlaySlotGeneric* CreatePlay(const LGCP::PlayerParams& params);
  RecordSlot* CreateRecord(const std::string& address);
  void OnDestroy(RecordSlot* s) { recorders_.remove(s); }
  void OnDestroy(PlaySlotGeneric* s) { players_.remove(s); }

  const std::list<PlaySlotGeneric*>& players() const { return players_; }
  const std::list<RecordSlot*>& recorders() const { return recorders_; }

 private:
  VoiceFactory() = default;
  // A descriptor with a transparent channel allocated on it and its
  // time-slot, or an invalid one (logged).
  Fd allocate(bool player, int& timeslot);

  std::list<RecordSlot*> recorders_;
  std::list<PlaySlotGeneric*> players_;
};
