#include "board/EventModel.h"

#include <ostream>

#include "board/Record.h"
#include "runtime/Clock.h"

namespace Board {

uint64_t loopClockUsec() {
  Mux::timeval tv;
  Mux::mux_gettimeofday(tv);
  return uint64_t(tv.tv_sec) * 1000000u + uint64_t(tv.tv_usec);
}

int EventModel::open(Session& s) {
  sessions_.insert(&s);
  return 0;
}

void EventModel::closed(Session& s) { sessions_.erase(&s); }

size_t EventModel::broadcastLocked(const std::string& record) {
  for (Session* s : sessions_) s->deliver(record);
  return sessions_.size();
}

size_t EventModel::injectRaw(const std::string& record) {
  auto g = guard();
  return broadcastLocked(record);
}

void EventModel::sever() {
  auto g = guard();
  std::set<Session*> all;
  all.swap(sessions_);
  for (Session* s : all) s->sever();
}

bool EventModel::rawCommand(const std::vector<std::string>& a, std::ostream& out) {
  if (a.size() != 2 || a[0] != "raw") return false;
  std::string bytes;
  if (!parseHex(a[1], bytes) || bytes.empty()) out << "error: bad hexadecimal bytes\n";
  else out << "delivered to " << broadcastLocked(bytes) << " open file(s)\n";
  return true;
}

}  // namespace Board
