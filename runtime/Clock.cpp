#include "runtime/Clock.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace Mux {

timeval g_tv_time;

namespace {
TimeSource* g_source = nullptr;

int read_source(::timeval& tv) {
  if (g_source) return g_source->now(tv);
  return ::gettimeofday(&tv, nullptr);
}
}  // namespace

TimeSource* set_time_source(TimeSource* source) {
  TimeSource* old = g_source;
  g_source = source;
  return old;
}

int loop_poll(pollfd* fds, nfds_t n, int timeout_ms) {
  if (g_source) return g_source->poll(fds, n, timeout_ms);
  return ::poll(fds, n, timeout_ms);
}

int mux_gettimeofday(timeval& t) {
  if (!g_tv_time.is_zero()) {
    t = g_tv_time;
    return 0;
  }
  return read_source(t);
}

int gettimeval(timeval& t) {
  mux_gettimeofday(t);
  return 0;
}

int mux_settimeofday() { return read_source(g_tv_time); }

namespace {
std::int64_t usec_of(const timeval& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000 + t.tv_usec;
}
}  // namespace

unsigned int milliseconds() {
  timeval t;
  mux_gettimeofday(t);
  return static_cast<unsigned int>(static_cast<std::uint64_t>(usec_of(t)) / 1000u);
}

unsigned int microseconds() {
  timeval t;
  mux_gettimeofday(t);
  return static_cast<unsigned int>(static_cast<std::uint64_t>(usec_of(t)));
}

long seconds() {
  timeval t;
  mux_gettimeofday(t);
  return t.tv_sec;
}

int timevaladd(timeval& a, const timeval& b) {
  long u = a.tv_usec + b.tv_usec;
  a.tv_sec += b.tv_sec + u / 1000000;
  a.tv_usec = u % 1000000;
  return 0;
}

int timevalsub(timeval& a, const timeval& b) {
  long u = a.tv_usec - b.tv_usec + 1000000;
  a.tv_sec = a.tv_sec - b.tv_sec - 1 + u / 1000000;
  a.tv_usec = u % 1000000;
  return 0;
}

int timevaladd2(const timeval& a, const timeval& b, timeval& out) {
  out = a;
  return timevaladd(out, b);
}

int timevalsub2(const timeval& a, const timeval& b, timeval& out) {
  out = a;
  return timevalsub(out, b);
}

int timevalset(timeval& t, std::uint64_t ms) {
  t.tv_sec = static_cast<long>(ms / 1000);
  t.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return 0;
}

timeval make_from_usec(unsigned int us) { return timeval(us / 1000000, us % 1000000); }

timeval make_from_msec(unsigned int ms) { return timeval(ms / 1000, (ms % 1000) * 1000); }

std::uint64_t timevaldiff(const timeval& a, const timeval& b) {
  if (timevalcompare(b, a) < 0) return 0;
  std::int64_t ms = static_cast<std::int64_t>(b.tv_sec - a.tv_sec) * 1000 + (b.tv_usec - a.tv_usec) / 1000;
  return static_cast<std::uint64_t>(ms);
}

int timevalcompare(const timeval& a, const timeval& b) {
  if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? -1 : 1;
  if (a.tv_usec != b.tv_usec) return a.tv_usec < b.tv_usec ? -1 : 1;
  return 0;
}

std::string timevaltostring(const timeval& t) {
  char date[64];
  char usec[32];
  time_t sec = t.tv_sec;
  struct tm tmv;
  localtime_r(&sec, &tmv);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tmv);
  std::snprintf(usec, sizeof usec, ".%06ld", static_cast<long>(t.tv_usec));
  return std::string(date) + usec;
}

bool timeval_timer::is_expired(const timeval& now) const {
  if (period <= 0) return false;
  return timevaldiff(start, now) > static_cast<std::uint64_t>(period);
}

void timeval_timer::inc() {
  timeval step;
  timevalset(step, static_cast<std::uint64_t>(period));
  timevaladd(start, step);
}

int max_fd(const Set& a, const Set& b) { return std::max(a.max_fd, b.max_fd); }

int max_fd(const Set& a, const Set& b, const Set& c) { return std::max(max_fd(a, b), c.max_fd); }

int select(Set& r, Set& w, Set& e, ::timeval* timeout) {
  return ::select(max_fd(r, w, e) + 1, r.get(), w.get(), e.get(), timeout);
}

int select(Set& r, Set& w, Set& e) { return select(r, w, e, nullptr); }

int select(Set& r, Set& w) { return ::select(max_fd(r, w) + 1, r.get(), w.get(), nullptr, nullptr); }

int select(Set& r) { return ::select(r.max_fd + 1, r.get(), nullptr, nullptr, nullptr); }

int select_rd(Set& s, ::timeval* timeout) { return ::select(s.max_fd + 1, s.get(), nullptr, nullptr, timeout); }

int select_wr(Set& s, ::timeval* timeout) { return ::select(s.max_fd + 1, nullptr, s.get(), nullptr, timeout); }

}  // namespace Mux
