#pragma once
// A descriptor event: the loop polls the event's own duplicate of a
// descriptor and calls one member function of the owner with the
// descriptor and the returned poll bits. After a positive poll every
// scheduled event is called, most with 0: callbacks test their own bits.
#include "runtime/Fd.h"
#include "runtime/Multiplexer.h"

#include <string>

class Event : public EventHandler {
public:
  class Handler {
  public:
    virtual ~Handler() = default;
    virtual void Invoke(int fd, short revents) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    using Action = void (T::*)(int, short);
    THandler(Action action, T* object) : action_(action), object_(object) {}
    void Invoke(int fd, short revents) override {
      if (action_) (object_->*action_)(fd, revents);
    }

  private:
    Action action_;
    T* object_;
  };

  Event() = default;
  ~Event() override;

  template <class T>
  void Bind(const std::string& name, typename THandler<T>::Action action, T* object) {
    name_ = name;
    Bind(new THandler<T>(action, object));
  }
  void Bind(Handler* handler);
  void UnBind();

  // Polls a duplicate of fd for events from the next pass on; an invalid fd
  // releases the event. May be called from the event's own callback.
  void Schedule(Fd fd, short events);
  void SetEvents(int events) { events_ = static_cast<short>(events & 0xFFFF); }
  // Stops polling and closes the event's descriptor; -1 with EBADF when the
  // event was not scheduled. The callback stays bound.
  int Release();

  bool IsActive() const { return fd_.is_valid(); }
  int lowlevel_fd() const { return fd_.lowlevel_fd(); }
  short events() const { return events_; }
  unsigned int counter() const { return counter_; }
  bool has_handler() const { return handler_ != nullptr; }
  const Measure& measure() const { return measure_; }

  void shedule_event(pollfd& entry) override;
  void svc_event(short revents) override;
  using EventHandler::svc_event;
  std::string event_name() const override { return name_; }
  bool is_named() const override { return true; }

private:
  Handler* handler_ = nullptr;
  Fd fd_;
  short events_ = 0;
  std::string name_ = "Unknown";
  unsigned int counter_ = 0;
  Measure measure_;
};
