#include "board/Voice.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "board/StandIn.h"

namespace Board {

namespace {

int32_t classOf(const std::string& rec) {
  int32_t c = 0;
  if (rec.size() >= sizeof c) std::memcpy(&c, rec.data(), sizeof c);
  return c;
}

}  // namespace

Voice::Voice(StandIn& board) : Model(board, "/dev/voice", "voice") {}

int Voice::capacityLocked(int32_t codecClass) const {
  auto it = capacity_.find(codecClass);
  return it == capacity_.end() ? 0 : it->second;
}

void Voice::setCapacity(int32_t codecClass, int capacity) {
  auto g = guard();
  capacity_[codecClass] = capacity;
}

int Voice::capacity(int32_t codecClass) const {
  auto g = guard();
  return capacityLocked(codecClass);
}

void Voice::setVersion(const uint32_t (&words)[5]) {
  auto g = guard();
  std::memcpy(version_, words, sizeof version_);
}

Reply Voice::request(Session&, Request& r) {
  if (r.word != kCapacity && r.word != kVersion) return Reply::fail(ENOTTY);
  if (int err = checkRecord(r)) return Reply::fail(err);
  if (r.word == kVersion) {
    std::memcpy(r.record, version_, sizeof version_);
    return Reply::ok();
  }
  int32_t c;
  std::memcpy(&c, r.record, sizeof c);
  int n = capacityLocked(c);
  return n < 0 ? Reply::fail(EINVAL) : Reply::ok(n);
}

std::string Voice::describe(const LogEntry& e) const {
  if (e.word == kCapacity && e.arg == Arg::Record && e.in.size() == 4)
    return "capacity class=" + std::to_string(classOf(e.in));
  if (e.word == kVersion) return "version";
  return Model::describe(e);
}

void Voice::help(std::ostream& out) const {
  out << "voice capacity [CLASS N]   channels per codec class (N < 0: the request fails)\n";
}

bool Voice::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty() || a[0] != "capacity") return false;
  if (a.size() == 1) {
    for (auto& e : capacity_) out << "class " << e.first << " capacity=" << e.second << "\n";
    return true;
  }
  long c, n;
  if (a.size() != 3 || !parseSigned(a[1], c) || !parseSigned(a[2], n) || c < INT32_MIN ||
      c > INT32_MAX || n < INT32_MIN || n > INT32_MAX)
    out << "error: usage: voice capacity [CLASS N]\n";
  else
    capacity_[int32_t(c)] = int(n);
  return true;
}

}  // namespace Board
