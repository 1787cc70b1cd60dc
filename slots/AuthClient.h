#pragma once
// One connection of pppd's authentication plug-in to the bridge: reads its
// records (reassembled from any split, several per segment), hands each
// complete one to the modem factory, and writes the daemon's records back.
// The factory owns the clients and deletes one when its connection has
// ended and none of its calls is still running (RecursiveGuard).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Net.h"
#include "slots/AuthRecord.h"

class ModemFactory;

// Counts the running calls of an object; the one that leaves last runs the
// object's check (which may delete it).
template <class T, void (T::*check)(), unsigned T::*level>
class RecursiveGuard {
 public:
  explicit RecursiveGuard(T& object) : object_(object) { ++(object_.*level); }
  ~RecursiveGuard() {
    if (--(object_.*level) == 0) (object_.*check)();
  }
  RecursiveGuard(const RecursiveGuard&) = delete;
  RecursiveGuard& operator=(const RecursiveGuard&) = delete;

 private:
  T& object_;
};

class AuthClient {
 public:
  AuthClient(Fd socket, const INet4::Addr& peer, ModemFactory& factory);
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;

  void Activate();
  // Writes one record; true when written whole.
  bool Send(const std::vector<uint8_t>& record);
  void OnSocketEvent(int fd, short events);
  void OnDisconnect();
  void CheckDisconnect();

  const INet4::Addr& GetAddr() const { return peer_; }
  // How many calls of this client are running (RecursiveGuard's count).
  unsigned mRecursionLevel = 0;
  int GetSessionId() const { return sessionId_; }
  int socket() const { return socket_.lowlevel_fd(); }
  // The digital modem child that the plug-in runs in, once found; -1
  // before.
  int ownerPid() const { return ownerPid_; }
  void setOwnerPid(int pid) { ownerPid_ = pid; }

 private:
  void readAll();
  void restart() {
    fill_ = 0;
    want_ = 4;
  }

  Event event_;
  Fd socket_;
  INet4::Addr peer_;
  uint8_t buffer_[Auth::kMaxLength];
  size_t fill_ = 0;  // bytes of the record received so far
  size_t want_ = 4;  // where the awaited part ends: the length word, then the record
  ModemFactory& factory_;
  int sessionId_ = -1;
  int ownerPid_ = -1;
  bool told_ = false;
};
