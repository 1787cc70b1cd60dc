#include "board/Mctl.h"

#include <cerrno>
#include <ostream>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

// The record each word takes, in bytes; 0 for the words that take a value.
size_t recordSize(uint32_t word) {
  switch (word) {
    case Mctl::kDataModes:
    case Mctl::kResetParams:
    case Mctl::kAnswer:
    case Mctl::kOriginate:
    case Mctl::kFaxOriginate:
      return 8;
    case Mctl::kSetParam:
      return 12;
    default:
      return 0;
  }
}

const char* modeOf(uint32_t word) {
  switch (word) {
    case Mctl::kAnswer:
      return "answer";
    case Mctl::kOriginate:
      return "originate";
    default:
      return "fax-originate";
  }
}

}  // namespace

Mctl::Mctl(StandIn& board) : Model(board, "/dev/mctl", "mctl") {}

std::vector<Mctl::Modem> Mctl::modems() {
  board_.sync();
  auto lock = guard();
  std::vector<Modem> out;
  for (auto& e : allocated_) out.push_back(e.second);
  return out;
}

void Mctl::setCount(unsigned n) {
  auto lock = guard();
  count_ = n > kMaxModems ? kMaxModems : n;
}

Mctl::Modem* Mctl::held(Session& s) {
  if (!s.data) return nullptr;
  auto at = allocated_.find(static_cast<Held*>(s.data.get())->modem);
  return at == allocated_.end() ? nullptr : &at->second;
}

Reply Mctl::request(Session& s, Request& r) {
  const size_t want = recordSize(r.word);
  if (want) {
    if (r.arg != Arg::Record) return Reply::fail(EFAULT);
    if (r.size != want) return Reply::fail(EINVAL);
  }
  switch (r.word) {
    case kEnumerate: {
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      const long next = r.value < 0 ? 0 : r.value + 1;
      if (next >= long(count_)) return Reply::fail(ENODEV);
      return Reply::ok(next);
    }
    case kAllocate: {
      if (r.arg != Arg::Value) return Reply::fail(EINVAL);
      if (s.data) return Reply::fail(EBUSY);
      unsigned n = 0;
      while (n < count_ && allocated_.count(n)) ++n;
      if (n >= count_) return Reply::fail(EBUSY);
      Modem m;
      m.number = n;
      m.channel = kFirstChannel + n;
      m.session = s.id();
      allocated_[n] = m;
      auto h = std::make_unique<Held>();
      h->modem = n;
      s.data = std::move(h);
      return Reply::ok(n);
    }
    case kChannel: {
      Modem* m = held(s);
      if (!m) return Reply::fail(EINVAL);
      return Reply::ok(m->channel);
    }
    case kDataModes:
    case kResetParams:
    case kSetParam:
    case kAnswer:
    case kOriginate:
    case kFaxOriginate: {
      auto at = allocated_.find(getBE32(r.record));
      if (at == allocated_.end()) return Reply::fail(EINVAL);
      Modem& m = at->second;
      if (r.word == kDataModes) {
        m.mask = getBE32(r.record + 4);
        m.maskSet = true;
      } else if (r.word == kResetParams) {
        m.params.clear();
      } else if (r.word == kSetParam) {
        m.params.emplace_back(int32_t(getBE32(r.record + 4)), int32_t(getBE32(r.record + 8)));
      } else {
        m.mode = modeOf(r.word);
      }
      return Reply::ok();
    }
  }
  return Reply::fail(ENOTTY);
}

void Mctl::closed(Session& s) {
  if (Modem* m = held(s)) allocated_.erase(m->number);
  s.data.reset();
}

std::string Mctl::describe(const LogEntry& e) const {
  std::ostringstream os;
  switch (e.word) {
    case kEnumerate:
      os << "enumerate after=" << e.value;
      break;
    case kAllocate:
      os << "allocate";
      break;
    case kChannel:
      os << "channel";
      break;
    default:
      if (e.arg != Arg::Record || e.in.size() < 8) return Model::describe(e);
      os << (e.word == kDataModes     ? "modes"
             : e.word == kResetParams ? "reset-params"
             : e.word == kSetParam    ? "param"
                                      : modeOf(e.word))
         << " modem=" << wordBE(e.in, 0);
      if (e.word == kDataModes) os << " mask=" << wordBE(e.in, 1);
      if (e.word == kSetParam) os << " offset=" << int32_t(wordBE(e.in, 1)) << " value=" << int32_t(wordBE(e.in, 2));
  }
  return os.str();
}

void Mctl::print(std::ostream& out, const Modem& m) {
  out << m.number << " ch=" << m.channel << " s" << m.session << " mask=";
  if (m.maskSet)
    out << m.mask;
  else
    out << "-";
  out << " params=";
  if (m.params.empty()) out << "-";
  for (size_t i = 0; i < m.params.size(); ++i) out << (i ? "," : "") << m.params[i].first << ":" << m.params[i].second;
  out << " mode=" << (m.mode.empty() ? "-" : m.mode) << "\n";
}

bool Mctl::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  if (a.size() == 1 && a[0] == "list") {
    for (auto& e : allocated_) print(out, e.second);
    return true;
  }
  if (a[0] == "modems" && a.size() <= 2) {
    if (a.size() == 1) {
      out << count_ << "\n";
      return true;
    }
    unsigned long n;
    if (!parseNumber(a[1], n) || n > kMaxModems)
      out << "error: usage: mctl modems [N], N at most " << kMaxModems << "\n";
    else
      count_ = unsigned(n);
    return true;
  }
  return false;
}

void Mctl::help(std::ostream& out) const {
  out << "mctl list                     allocated modems: channel, modes, parameters, mode\n"
         "mctl modems [N]               how many modems the board has (default 8)\n";
}

}  // namespace Board
