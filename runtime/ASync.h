#pragma once
// Non-blocking helpers for owners on the loop: Copy pumps everything a
// source descriptor yields into a destination through one buffer; Connect
// opens a TCP connection within a time limit. Each run ends with exactly
// one call of the owner's handler; idle and completed objects ignore stop
// requests and late events, and both objects can be started again.
//
//   copy.Bind(&Player::OnCopyDone, this);      // void OnCopyDone(ASync::Copy::Status::Type)
//   copy.Start(source, channel);
//   connect.Bind(&Player::OnConnected, this);  // void OnConnected(ASync::Connect::Status::Type, Fd)
//   connect.Start("192.0.2.7:8000", 5000);
//
// Both work on their own duplicates of the descriptors; the owner keeps or
// closes its own. The descriptors given to a copy should be non-blocking:
// the copy reads and writes until the system says EAGAIN.
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"

#include <poll.h>

#include <string>

namespace ASync {

class Copy {
public:
  struct Status {
    enum Type {
      Idle = 0,      // never started
      Running = 1,   // reading the source or writing the buffer out
      Draining = 2,  // the source has ended, the buffer is being written
      Flushing = 3,  // all written, waiting for the flush events
      Failed = 4,    // read error before any octet, write error or end, error events
      Done = 5,      // ended normally
      Changed = 6,   // ended because the events or the buffer size changed
    };
  };

  struct EventsParams {
    int source = POLLIN;
    int destination = POLLOUT;
    // What the destination must signal after the last octet for the copy
    // to be done; 0: done with the last write.
    int flush = POLLWRNORM;
  };

  class Handler {
  public:
    virtual ~Handler() = default;
    virtual void Invoke(Status::Type status) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    using Action = void (T::*)(Status::Type);
    THandler(Action action, T* object) : action_(action), object_(object) {}
    void Invoke(Status::Type status) override {
      if (action_) (object_->*action_)(status);
    }

  private:
    Action action_;
    T* object_;
  };

  Copy() = default;
  ~Copy();
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  void Start(Fd source, Fd destination);
  // While running: the source is closed, the buffered octets are still
  // written, then the flush rule applies. Otherwise nothing.
  void Stop();
  // Both store the setting, then end an active copy with Changed.
  void set_events(const EventsParams& events);
  void set_bufsize(unsigned int size);

  void Bind(Handler* handler);
  template <class T>
  void Bind(typename THandler<T>::Action action, T* object) {
    Bind(new THandler<T>(action, object));
  }
  void UnBind();

  int state() const { return state_; }
  // The errno of a failed write; 0 for other failures.
  int error() const { return error_; }
  // Octets written since the start.
  unsigned int count() const { return count_; }
  const EventsParams& events() const { return events_; }
  unsigned int bufsize() const { return bufsize_; }

  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);

private:
  using Step = bool (Copy::*)();
  bool SrcReady();
  bool DstReady();
  bool NotReady() { return false; }
  bool GoFlush();
  bool GoFlushDst();
  void Progress();
  void CheckBuffer();
  void Complete(Status::Type status);
  bool active() const { return state_ >= Status::Running && state_ <= Status::Flushing; }

  Fd src_;
  Fd dst_;
  EventsParams events_;
  unsigned int bufsize_ = 1024;
  int error_ = 0;
  Step step_ = &Copy::NotReady;
  Handler* handler_ = nullptr;
  Event srcEvent_;
  Event dstEvent_;
  unsigned int count_ = 0;
  char* wr_ = nullptr;
  char* end_ = nullptr;
  int state_ = Status::Idle;
  char* buffer_ = nullptr;
};

class Connect {
public:
  struct Status {
    enum Type {
      Idle = 0,
      Connecting = 1,
      // No socket, no non-blocking mode, an address that does not parse or
      // has no port, refusal, error events, a socket error, the time limit.
      Failed = 2,
      Connected = 3,
      Stopped = 4,  // by the owner
    };
  };

  class Handler {
  public:
    virtual ~Handler() = default;
    virtual void Invoke(Status::Type status, Fd fd) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    using Action = void (T::*)(Status::Type, Fd);
    THandler(Action action, T* object) : action_(action), object_(object) {}
    // The action gets its own duplicate of the descriptor.
    void Invoke(Status::Type status, Fd fd) override {
      if (action_) (object_->*action_)(status, fd);
    }

  private:
    Action action_;
    T* object_;
  };

  Connect() = default;
  ~Connect();
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;

  // "a.b.c.d:port"; the limit in loop milliseconds. An attempt still
  // running is stopped first (its handler hears Stopped).
  void Start(const std::string& address, unsigned int timeout_ms);
  void Stop();

  void Bind(Handler* handler);
  template <class T>
  void Bind(typename THandler<T>::Action action, T* object) {
    Bind(new THandler<T>(action, object));
  }
  void UnBind();

  int state() const { return state_; }
  // Whether the connector still holds a socket (only while connecting).
  bool has_socket() const { return socket_.is_valid(); }

  void OnSocketEvent(int fd, short revents);
  void OnTimeOut(Timer* timer);

private:
  void Complete(Status::Type status);

  int state_ = Status::Idle;
  Fd socket_;
  Event event_;
  Handler* handler_ = nullptr;
  Timer timer_;
};

}  // namespace ASync
