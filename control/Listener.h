#pragma once
// The listening half that the TCP and Unix-domain acceptors share: the
// socket, its bind retried every kBindRetryMs, the watch on it and the
// accept loop. What differs (the address, what a peer is called, what a
// connection is handed to) stays with the acceptor, through Owner.
//
// Out of descriptors, the accept loop neither spins nor leaves a
// controller hanging: see runtime/Accept.h. It says so once per run.
#include "runtime/Accept.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"

#include <sys/socket.h>

#include <string>

namespace Control {

class Listener {
public:
  static const unsigned kBindRetryMs = 5000;

  class Owner {
  public:
    virtual ~Owner() = default;
    // bind() of fd to the endpoint's address: its result, errno set.
    virtual int BindAddress(int fd) = 0;
    // A connection came in, from the address accept() reported.
    virtual void Accepted(Fd s, const sockaddr_storage& from, socklen_t len) = 0;
    // The socket cannot listen: the endpoint goes down.
    virtual void ListenFailed() = 0;
    virtual bool Verbose() const = 0;
    // A connection may be waiting: whether the owner can take one now
    // (it may first finish a link that has ended). When it cannot, the
    // connections stay queued and unwatched until Resume().
    virtual bool ReadyToAccept() { return true; }
  };

  // eventName: the name of the watch in the status dump.
  Listener(Owner& owner, const char* eventName);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // A new socket of the family; false (said when verbose) when none.
  bool Open(int domain, int protocol);
  // Binds, listens and watches; a bind that fails is tried again later.
  void Bind();
  void Close();

  int fd() const { return socket_.lowlevel_fd(); }
  // Watching for connections (also while a shortage pauses the watch).
  bool listening() const { return event_.IsActive(); }
  bool paused() const { return pause_.is_running(); }
  // The owner can take connections again.
  void Resume();

  // Takes the waiting connections.
  void OnSocketEvent(int fd, short events);

private:
  void OnBindTimeout(Timer*);
  void OnPauseEnd(Timer*);

  Owner& owner_;
  Fd socket_;
  Timer bindTimer_;
  Timer pause_;
  Event event_;
  SpareAccept accept_;
  bool held_ = false;
};

}  // namespace Control
