#pragma once
// The daemon's single poll() loop and the base classes that plug into it:
// descriptor handlers (EventHandler), one-shot timers (TimerEvent),
// deferred calls that run on every pass while active (Dpc) and the
// timer-plugin hook.
//
// One pass: fire the due timers and run the active deferred calls; build
// the poll set from the attached handlers; run the deferred calls again;
// wait in poll(); after a positive poll call every handler of the poll set
// with its own returned events (0 for most). There is one loop per
// process, the global `multiplexer`.
#include "runtime/Clock.h"
#include "runtime/List.h"
#include "runtime/Measure.h"

#include <poll.h>

#include <csignal>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

class Multiplexer;

// Anything that waits on a descriptor. Derived classes detach before they
// go (Event does); the base destructor detaches too, as a safety net.
class EventHandler : public F_dual_list_item<EventHandler> {
public:
  EventHandler() = default;
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  virtual ~EventHandler();

  // Fills the poll entry for the coming poll; a descriptor of -1 makes
  // poll() ignore the entry for this pass.
  virtual void shedule_event(pollfd& entry) = 0;
  virtual void svc_event(short revents) = 0;
  virtual std::string event_name() const;
  virtual bool is_named() const;

  void mux_attach();
  void mux_detach();
  void svc_event() { svc_event(revents_); }

  bool is_attached() const { return attached_; }
  short returned_events() const { return revents_; }

private:
  friend class Multiplexer;
  bool attached_ = false;
  short revents_ = 0;
};

// Anything that waits for a time, in loop milliseconds (Mux::milliseconds).
// The loop unlinks a timer before it calls fire(), so fire() may re-arm or
// delete it. Destroying an armed timer cancels it.
class TimerEvent : public F_dual_list_item<TimerEvent> {
public:
  TimerEvent() = default;
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;
  virtual ~TimerEvent();
  virtual void fire() = 0;

  // expiry = now + ms (wrapping); replaces a pending expiry.
  void schedule(unsigned int ms);
  void reset();
  // This expiry minus the other's, as a signed 32-bit value.
  int compare(const TimerEvent* other) const;
  unsigned int expiry() const { return expiry_; }

private:
  friend class Multiplexer;
  unsigned int expiry_ = 0;
};

// The callback of a Dpc.
class DpcHandler {
public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler() = default;
};

class DpcHandler1 : public DpcHandler {
public:
  explicit DpcHandler1(void (*function)()) : function_(function) {}
  void Invoke() override { function_(); }

private:
  void (*function_)();
};

template <class T>
class TDpcHandler : public DpcHandler {
public:
  TDpcHandler(T* object, void (T::*method)()) : object_(object), method_(method) {}
  void Invoke() override { (object_->*method_)(); }

private:
  T* object_;
  void (T::*method_)();
};

// A deferred call: while active it runs twice per pass of the loop (after
// the due timers and again just before the wait), active calls in
// ascending order of their address. A one-shot call deactivates itself.
class Dpc {
public:
  Dpc() = default;
  Dpc(const Dpc&) = delete;
  Dpc& operator=(const Dpc&) = delete;
  ~Dpc();

  void Bind(DpcHandler* handler);
  void Bind(void (*function)());
  template <class T>
  void Bind(T* object, void (T::*method)()) {
    Bind(new TDpcHandler<T>(object, method));
  }

  void Invoke();
  void Activate();
  void Deactivate();
  bool is_active() const { return active_; }

private:
  DpcHandler* handler_ = nullptr;
  bool active_ = false;
};

// An object that contributes its own due time to the loop's wait.
class TimerPoolPlugin {
public:
  TimerPoolPlugin() = default;
  TimerPoolPlugin(const TimerPoolPlugin&) = delete;
  TimerPoolPlugin& operator=(const TimerPoolPlugin&) = delete;
  virtual ~TimerPoolPlugin();
  // Milliseconds until the plugin wants the loop to wake; negative: none.
  virtual int next_timeout() = 0;

  void timerHook();
  void timerUnhook();

private:
  bool hooked_ = false;
};

class Multiplexer {
public:
  class TimerPollNotify {
  public:
    virtual ~TimerPollNotify() = default;
    virtual void removeTimerPoolPlugin(TimerPoolPlugin* p) = 0;
  };

  Multiplexer() = default;
  Multiplexer(const Multiplexer&) = delete;
  Multiplexer& operator=(const Multiplexer&) = delete;

  // The loop; returns once a stop was asked for (also one asked for before
  // it started). use_watchdog: open and drive the watchdog device.
  // live_clock false: one clock snapshot per pass (Mux::mux_settimeofday).
  void run(bool use_watchdog = true, bool live_clock = true);

  // Asks the loop to stop; safe in a signal handler. The stop is seen at
  // the top of a pass or before the next handler is serviced.
  void terminate() { terminate_ = 1; }
  bool terminating() const { return terminate_ != 0; }

  // For tests and tools that drive the loop step by step: one pass as run()
  // makes it, without the watchdog. Does nothing and answers false when a
  // stop is pending (the stop is kept for run()).
  bool run_once();

  void attach(EventHandler* h);
  void detach(EventHandler* h);
  void set(TimerEvent* t);
  void reset(TimerEvent* t);
  void attach(Dpc* d);
  void dettach(Dpc* d);
  void hook(TimerPoolPlugin* p);
  void unhook(TimerPoolPlugin* p);

  // One watchdog ping when the device is open; for code that blocks
  // outside the loop, before and after its own wait.
  void resetWD();

  // The wait until the first timer (-1: none), after firing the due ones.
  int timers_schedule();
  void execute_dpc();
  int timerPoll_schedule();
  bool event_exists(EventHandler* h) const;

  // State read by the status report.
  const F_dual_list<EventHandler>& working_list() const { return working_; }
  const F_dual_list<EventHandler>& pending_list() const { return pending_; }
  const Measure& dpc_measure() const { return dpc_measure_; }
  const Measure& event_measure() const { return event_measure_; }
  const Measure& timer_measure() const { return timer_measure_; }
  unsigned timer_count() const { return timers_.count(); }
  size_t dpc_count() const { return dpcs_.size(); }
  bool watchdog_open() const { return watchdog_ >= 0; }

private:
  friend class TimerPollGuard;
  void pass(bool live_clock);
  void open_watchdog();
  void stop_watchdog();

  F_sorted_list<TimerEvent> timers_;
  F_dual_list<EventHandler> pending_;
  F_dual_list<EventHandler> serviced_;
  F_dual_list<EventHandler> working_;
  std::vector<pollfd> pollset_;
  // The handler of each poll entry. Entries and handlers are paired by
  // identity: a deferred call of the pre-poll run that detaches a handler
  // blanks its entry instead of shifting the pairing of the others.
  std::vector<EventHandler*> poll_owner_;
  bool pollset_live_ = false;
  std::list<Dpc*> dpcs_;
  std::list<Dpc*> dpc_work_;
  volatile std::sig_atomic_t terminate_ = 0;
  Measure dpc_measure_;
  Measure event_measure_;
  Measure timer_measure_;
  std::list<TimerPoolPlugin*> plugins_;
  TimerPollNotify* plugin_poll_ = nullptr;
  int watchdog_ = -1;
  unsigned int last_ping_ = 0;
};

// The process's one loop. It is built before the first use from any unit's
// static initialisation and outlives every unit that includes this header.
extern Multiplexer& multiplexer;

namespace detail {
struct MultiplexerInit {
  MultiplexerInit();
  ~MultiplexerInit();
};
static MultiplexerInit multiplexerInit;
}  // namespace detail
