#pragma once
// The loop's clock. Timer expiries are 32-bit milliseconds of the wall clock
// (modulo 2^32, ordered by signed 32-bit difference, so the order holds
// across the wrap while delays stay below 2^31 ms); run-time statistics use
// a 32-bit microsecond counter with unsigned differences.
//
// Every reading goes through mux_gettimeofday: the cached snapshot when one
// was taken (mux_settimeofday), else the time source. The time source is the
// system's gettimeofday unless a test installed its own (see
// runtime/TestClock.h); the production path never installs one.
#include <poll.h>
#include <sys/select.h>
#include <sys/time.h>

#include <cstdint>
#include <string>

namespace Mux {

struct timeval : ::timeval {
  timeval() : ::timeval{0, 0} {}
  timeval(long sec, long usec) : ::timeval{sec, usec} {}
  bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// The cached clock: zero unless mux_settimeofday took a snapshot.
extern timeval g_tv_time;

unsigned int milliseconds();
unsigned int microseconds();
long seconds();

int mux_gettimeofday(timeval& t);
int gettimeval(timeval& t);
// Snapshots the clock into g_tv_time; it does not set the system clock.
int mux_settimeofday();

int timevaladd(timeval& a, const timeval& b);
int timevalsub(timeval& a, const timeval& b);
int timevaladd2(const timeval& a, const timeval& b, timeval& out);
int timevalsub2(const timeval& a, const timeval& b, timeval& out);
int timevalset(timeval& t, std::uint64_t ms);
timeval make_from_usec(unsigned int us);
timeval make_from_msec(unsigned int ms);
// Milliseconds from a to b; 0 when b is earlier.
std::uint64_t timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);
// "%Y-%m-%d %H:%M:%S.uuuuuu" in local time.
std::string timevaltostring(const timeval& t);

// A restartable interval.
struct timeval_timer {
  timeval start;
  int period = 0;  // milliseconds; 0 or less never expires

  void init(const timeval& t, int p) {
    start = t;
    period = p;
  }
  void init_now(const timeval& t) { start = t; }
  bool is_expired(const timeval& now) const;
  void inc();
};

// A descriptor set for the select wrappers; max_fd < 0 means empty.
struct Set {
  fd_set set;
  int max_fd;

  Set() : max_fd(-1) { FD_ZERO(&set); }
  // An fd_set has room for FD_SETSIZE descriptors only, and the daemon
  // raises its descriptor limit beyond that: a descriptor outside the set's
  // room is refused (false) rather than written past its end.
  bool add(int fd) {
    if (fd < 0 || fd >= FD_SETSIZE) return false;
    FD_SET(fd, &set);
    if (fd > max_fd) max_fd = fd;
    return true;
  }
  bool is_set(int fd) const { return fd >= 0 && fd <= max_fd && fd < FD_SETSIZE && FD_ISSET(fd, &set); }
  fd_set* get() { return max_fd < 0 ? nullptr : &set; }
};

int max_fd(const Set& a, const Set& b);
int max_fd(const Set& a, const Set& b, const Set& c);
int select(Set& r, Set& w, Set& e, ::timeval* timeout);
int select(Set& r, Set& w, Set& e);
int select(Set& r, Set& w);
int select(Set& r);
int select_rd(Set& s, ::timeval* timeout);
int select_wr(Set& s, ::timeval* timeout);

// Where the loop's time comes from and how it waits. Not installed in the
// daemon; tests install one to run timers of minutes, or across the
// clock's wrap, without waiting and without touching the system clock.
class TimeSource {
public:
  virtual ~TimeSource() = default;
  // Like gettimeofday: fills tv, returns 0 or -1.
  virtual int now(::timeval& tv) = 0;
  // Like poll(): the loop's wait for its descriptors.
  virtual int poll(pollfd* fds, nfds_t n, int timeout_ms) = 0;
};

// Installs a time source (null restores the system's); returns the previous.
TimeSource* set_time_source(TimeSource* source);

// The loop's wait: the system's poll unless a time source is installed.
int loop_poll(pollfd* fds, nfds_t n, int timeout_ms);

}  // namespace Mux
