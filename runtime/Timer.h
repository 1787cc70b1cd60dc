#pragma once
// One-shot timers bound to a member function of the object that holds the
// Timer. Re-arming replaces the pending expiry; timers due at the same
// instant fire in arming order; destroying the Timer (with its object)
// cancels it. The Timer lets go of its event before the callback runs, so
// the callback may re-arm, reset or destroy it.
#include "runtime/Multiplexer.h"

#include <memory>

class Timer {
public:
  Timer() = default;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() = default;

  template <class T>
  void set(unsigned int ms, void (T::*method)(), T* object);
  template <class T>
  void set(unsigned int ms, void (T::*method)(Timer*), T* object);
  void set(unsigned int ms, void (*function)());

  void reset() { event_.reset(); }
  bool is_running() const { return event_ != nullptr; }
  // Gives up the pending event without deleting it (used when it fires).
  TimerEvent* Unbind() { return event_.release(); }

private:
  void own(TimerEvent* e) { event_.reset(e); }
  std::unique_ptr<TimerEvent> event_;
};

template <class T>
class ObjTimerEvent1 : public TimerEvent {
public:
  ObjTimerEvent1(Timer* owner, void (T::*method)(), T* object, unsigned int ms)
      : owner_(owner), method_(method), object_(object) {
    schedule(ms);
  }
  void fire() override {
    owner_->Unbind();
    (object_->*method_)();
    delete this;
  }

private:
  Timer* owner_;
  void (T::*method_)();
  T* object_;
};

template <class T>
class ObjTimerEvent2 : public TimerEvent {
public:
  ObjTimerEvent2(Timer* owner, void (T::*method)(Timer*), T* object, unsigned int ms)
      : owner_(owner), method_(method), object_(object) {
    schedule(ms);
  }
  void fire() override {
    Timer* owner = owner_;
    owner->Unbind();
    (object_->*method_)(owner);
    delete this;
  }

private:
  Timer* owner_;
  void (T::*method_)(Timer*);
  T* object_;
};

class SimpleTimerEvent1 : public TimerEvent {
public:
  SimpleTimerEvent1(Timer* owner, void (*function)(), unsigned int ms) : owner_(owner), function_(function) {
    schedule(ms);
  }
  void fire() override {
    owner_->Unbind();
    function_();
    delete this;
  }

private:
  Timer* owner_;
  void (*function_)();
};

// The new event is linked before the old one is dropped.
template <class T>
void Timer::set(unsigned int ms, void (T::*method)(), T* object) {
  own(new ObjTimerEvent1<T>(this, method, object, ms));
}

template <class T>
void Timer::set(unsigned int ms, void (T::*method)(Timer*), T* object) {
  own(new ObjTimerEvent2<T>(this, method, object, ms));
}

inline void Timer::set(unsigned int ms, void (*function)()) { own(new SimpleTimerEvent1(this, function, ms)); }

// A timer of class T fixed by a static record: method and interval.
template <class T>
struct TimerSpec {
  void (T::*method)();
  unsigned int interval;

  template <const TimerSpec<T>& record>
  class SpecTimer : public Timer {
  public:
    void set(T* object) { Timer::set(record.interval, record.method, object); }
  };
};
