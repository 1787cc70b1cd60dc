#include "runtime/Multiplexer.h"

#include "runtime/Fd.h"
#include "runtime/Root.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

// ---------------------------------------------------------------- global

namespace {
// Constant-initialised storage, so the reference below is bound before any
// dynamic initialisation runs; the object itself is built by the first
// MultiplexerInit and destroyed by the last one.
union MuxStorage {
  constexpr MuxStorage() : none() {}
  ~MuxStorage() {}
  char none;
  Multiplexer mux;
};
MuxStorage g_mux_storage;
int g_mux_users = 0;
}  // namespace

Multiplexer& multiplexer = g_mux_storage.mux;

detail::MultiplexerInit::MultiplexerInit() {
  if (g_mux_users++ == 0) new (&g_mux_storage.mux) Multiplexer();
}

detail::MultiplexerInit::~MultiplexerInit() {
  if (--g_mux_users == 0) g_mux_storage.mux.~Multiplexer();
}

// ---------------------------------------------------------------- EventHandler

EventHandler::~EventHandler() { mux_detach(); }

std::string EventHandler::event_name() const { return "unknown"; }

bool EventHandler::is_named() const { return false; }

void EventHandler::mux_attach() {
  if (attached_) return;
  multiplexer.attach(this);
  attached_ = true;
}

void EventHandler::mux_detach() {
  if (!attached_) return;
  multiplexer.detach(this);
  attached_ = false;
}

// ---------------------------------------------------------------- TimerEvent

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned int ms) {
  expiry_ = Mux::milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }

int TimerEvent::compare(const TimerEvent* other) const {
  return static_cast<std::int32_t>(expiry_ - other->expiry_);
}

// ---------------------------------------------------------------- Dpc

Dpc::~Dpc() {
  Deactivate();
  delete handler_;
}

void Dpc::Bind(DpcHandler* handler) {
  delete handler_;
  handler_ = handler;
}

void Dpc::Bind(void (*function)()) { Bind(new DpcHandler1(function)); }

void Dpc::Invoke() {
  if (handler_) handler_->Invoke();
}

void Dpc::Activate() {
  if (!active_) multiplexer.attach(this);
  active_ = true;
}

void Dpc::Deactivate() {
  if (active_) multiplexer.dettach(this);
  active_ = false;
}

// ---------------------------------------------------------------- plugins

TimerPoolPlugin::~TimerPoolPlugin() { timerUnhook(); }

void TimerPoolPlugin::timerHook() {
  if (hooked_) return;
  multiplexer.hook(this);
  hooked_ = true;
}

void TimerPoolPlugin::timerUnhook() {
  if (!hooked_) return;
  multiplexer.unhook(this);
  hooked_ = false;
}

// The plugin poll: each plugin is moved back to the plugin list just before
// it is asked, so one unhooked during the poll is not asked afterwards.
class TimerPollGuard : public Multiplexer::TimerPollNotify {
public:
  explicit TimerPollGuard(std::list<TimerPoolPlugin*>& plugins) : plugins_(plugins) {}

  int schedule() {
    int result = INT_MAX;
    todo_.swap(plugins_);
    while (!todo_.empty()) {
      TimerPoolPlugin* p = todo_.front();
      todo_.pop_front();
      plugins_.push_back(p);
      int t = p->next_timeout();
      if (t >= 0 && t < result) result = t;
    }
    return result;
  }

  void removeTimerPoolPlugin(TimerPoolPlugin* p) override {
    plugins_.remove(p);
    todo_.remove(p);
  }

private:
  std::list<TimerPoolPlugin*>& plugins_;
  std::list<TimerPoolPlugin*> todo_;
};

int Multiplexer::timerPoll_schedule() {
  TimerPollGuard guard(plugins_);
  plugin_poll_ = &guard;
  int result = guard.schedule();
  plugin_poll_ = nullptr;
  return result;
}

void Multiplexer::hook(TimerPoolPlugin* p) { plugins_.push_back(p); }

void Multiplexer::unhook(TimerPoolPlugin* p) {
  if (plugin_poll_)
    plugin_poll_->removeTimerPoolPlugin(p);
  else
    plugins_.remove(p);
}

// ---------------------------------------------------------------- handlers

bool Multiplexer::event_exists(EventHandler* h) const {
  return pending_.contains(h) || serviced_.contains(h) || working_.contains(h);
}

void Multiplexer::attach(EventHandler* h) {
  if (event_exists(h)) {
    std::cerr << "duplicate multiplexer attach " << std::flush;
    std::cerr << '"' << h->event_name() << '"' << " ignored." << std::endl;
    return;
  }
  pending_.insert_to_tail(h);
}

void Multiplexer::detach(EventHandler* h) {
  F_dual_list<EventHandler>* lists[] = {&pending_, &serviced_, &working_};
  for (F_dual_list<EventHandler>* l : lists) {
    if (!l->contains(h)) continue;
    l->remove(h);
    if (l == &working_ && pollset_live_) {
      // Blank its poll entry: nothing is polled or stored for it.
      for (size_t i = 0; i < poll_owner_.size(); ++i) {
        if (poll_owner_[i] == h) {
          poll_owner_[i] = nullptr;
          pollset_[i].fd = -1;
          pollset_[i].events = 0;
        }
      }
    }
    return;
  }
  std::cerr << "indvalid Multiplexer::detach " << std::flush;
  std::cerr << h->event_name() << std::endl;
}

// ---------------------------------------------------------------- timers

void Multiplexer::set(TimerEvent* t) {
  reset(t);
  timers_.insert_to_tail_by_grown(t);
}

void Multiplexer::reset(TimerEvent* t) {
  if (timers_.contains(t)) timers_.remove(t);
}

int Multiplexer::timers_schedule() {
  const unsigned int now = Mux::milliseconds();
  while (!timers_.empty() && static_cast<std::int32_t>(now - timers_.first_item()->expiry_) >= 0) {
    timer_measure_.begin();
    TimerEvent* t = timers_.remove_from_head();
    t->fire();
    timer_measure_.end();
  }
  execute_dpc();
  if (timers_.empty()) return -1;
  const unsigned int first = timers_.first_item()->expiry_;
  const std::int32_t wait = static_cast<std::int32_t>(first - now);
  if (wait >= 0 && wait <= 7200000) return wait;

  // The first timer lies more than two hours ahead (the clock was set back)
  // or behind: let every armed timer fire about a second from now, in the
  // order they stand.
  std::cerr << "******** RUNTIME ERROR CONDITION *************"
            << "Multiplexer::timers_schedule() invalid wait time detected!" << '\n'
            << "now = " << now << '\n'
            << "first = " << first << '\n'
            << "count = " << timers_.count() << std::endl;
  for (TimerEvent* t : timers_) t->expiry_ = now + 1000;
  return 1000;
}

// ---------------------------------------------------------------- DPCs

void Multiplexer::attach(Dpc* d) {
  auto it = std::lower_bound(dpcs_.begin(), dpcs_.end(), d, std::less<Dpc*>());
  if (it != dpcs_.end() && *it == d) return;
  dpcs_.insert(it, d);
}

void Multiplexer::dettach(Dpc* d) {
  dpcs_.remove(d);
  dpc_work_.remove(d);
}

void Multiplexer::execute_dpc() {
  dpc_work_ = dpcs_;
  while (!dpc_work_.empty()) {
    Dpc* d = dpc_work_.front();
    dpc_work_.pop_front();
    dpc_measure_.begin();
    d->Invoke();
    dpc_measure_.end();
  }
}

// ---------------------------------------------------------------- watchdog

void Multiplexer::open_watchdog() {
  // Close-on-exec: the child programs must not hold the device, or a
  // single-open driver would refuse the next daemon.
  watchdog_ = ::open(Root::path("/dev/misc/gw-wd").c_str(), O_WRONLY | O_CLOEXEC);
  if (watchdog_ < 0) {
    Errno e;
    std::cerr << "Mux: fail to open watchdog: " << e << std::endl;
    return;
  }
  if (::write(watchdog_, "START", 5) != 5) {
    Errno e;
    std::cerr << "Mux: fail to activate watchdog: " << e << std::endl;
    ::close(watchdog_);
    watchdog_ = -1;
  }
}

void Multiplexer::resetWD() {
  if (watchdog_ < 0) return;
  if (::write(watchdog_, "PING", 4) != 4) {
    Errno e;
    std::cerr << "Mux: ping watchdog failed: " << e << std::endl;
  }
}

void Multiplexer::stop_watchdog() {
  if (watchdog_ < 0) return;
  if (::write(watchdog_, "STOP", 4) != 4) {
    Errno e;
    std::cerr << "Mux: stop watchdog failed: " << e << std::endl;
  }
  ::close(watchdog_);
  watchdog_ = -1;
}

// ---------------------------------------------------------------- the loop

void Multiplexer::run(bool use_watchdog, bool live_clock) {
  // The stop flag is not cleared here: a SIGTERM that arrived during
  // start-up must still stop the daemon.
  last_ping_ = 0;
  if (use_watchdog) open_watchdog();
  if (!live_clock) Mux::mux_settimeofday();
  while (!terminate_) pass(live_clock);
  std::clog << "Mux: terminating..." << std::endl;
  stop_watchdog();
  terminate_ = 0;
}

bool Multiplexer::run_once() {
  if (terminate_) return false;
  pass(true);
  return true;
}

void Multiplexer::pass(bool live_clock) {
  // A wait of 0 is a timer due now, not "no timer".
  long wait = -1;
  int t = timers_schedule();
  if (t >= 0) wait = t;
  int p = timerPoll_schedule();
  if (p != INT_MAX && (wait < 0 || p < wait)) wait = p;

  while (EventHandler* h = pending_.remove_from_head()) working_.insert_to_tail(h);
  const size_t n = working_.count();
  if (pollset_.size() != n) pollset_.resize(n);
  poll_owner_.resize(n);
  size_t i = 0;
  for (EventHandler* h : working_) {
    poll_owner_[i] = h;
    pollfd& entry = pollset_[i];
    entry.fd = -1;
    entry.events = 0;
    entry.revents = 0;
    h->shedule_event(entry);
    ++i;
  }

  if (wait < 0 && pollset_.empty()) {
    std::cerr << "multiplexer: system hang detected!!!" << std::endl;
    std::abort();
  }
  if (watchdog_ >= 0 && (wait < 0 || wait > 1000)) wait = 1000;

  pollset_live_ = true;
  execute_dpc();
  pollset_live_ = false;

  int r = Mux::loop_poll(pollset_.data(), pollset_.size(), static_cast<int>(wait));
  const int err = errno;
  if (!live_clock) Mux::mux_settimeofday();

  const unsigned int now = Mux::milliseconds();
  if (!(last_ping_ != 0 && last_ping_ <= now && now - last_ping_ <= 999)) {
    last_ping_ = now;
    resetWD();
  }

  if (r == 0) return;
  if (r < 0) {
    if (err == EINTR) return;
    std::cerr << "multiplexer poll failed: " << std::strerror(err) << std::endl;
    std::abort();
  }

  for (size_t k = 0; k < poll_owner_.size(); ++k)
    if (poll_owner_[k]) poll_owner_[k]->revents_ = pollset_[k].revents;

  // The loop does not touch a handler after its svc_event(): a callback may
  // detach or destroy its own handler, or any other.
  while (!terminate_ && !working_.empty()) {
    EventHandler* h = working_.remove_from_head();
    serviced_.insert_to_tail(h);
    event_measure_.begin();
    h->svc_event();
    event_measure_.end();
  }
  // A stop during servicing leaves the rest unserviced; they keep their
  // place behind the serviced ones for a later run.
  while (EventHandler* h = working_.remove_from_head()) serviced_.insert_to_tail(h);
  working_.merge(serviced_);
}
