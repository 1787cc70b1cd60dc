#include "board/DspData.h"

#include <cerrno>
#include <sstream>

#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

DspData::DspData(StandIn& board) : Model(board, "/dev/dsp-data", "dspdata") {}

Session* DspData::find(uint32_t channel) {
  if (channel < kFirstChannel || (channel - kFirstChannel) % 4) return nullptr;
  size_t i = (channel - kFirstChannel) / 4;
  return i < byIndex_.size() ? byIndex_[i] : nullptr;
}

int DspData::open(Session& s) {
  for (size_t i = 0; i < byIndex_.size(); ++i) {
    if (byIndex_[i]) continue;
    auto c = std::make_unique<Channel>();
    c->channel = kFirstChannel + 4 * uint32_t(i);
    s.data = std::move(c);
    byIndex_[i] = &s;
    return 0;
  }
  return ENOSPC;
}

Reply DspData::request(Session& s, Request& r) {
  Channel* c = of(s);
  switch (r.word) {
    case kTimeslot:
      // The driver answers without looking at an argument.
      return Reply::ok(c->channel);
    case kAddB:
    case kRemoveB: {
      if (int err = checkRecord(r)) return Reply::fail(err);
      uint32_t b = getBE32(r.record);
      if (b >= kBChannels) return Reply::fail(EINVAL);
      const bool add = r.word == kAddB;
      if (add && c->b[b]) return Reply::fail(EBUSY);
      c->b[b] = add;
      if (add) putBE32(r.record + 4, c->channel + 1 + b);
      journal_.push_back(std::string(add ? "add " : "remove ") + std::to_string(c->channel) + " " +
                         std::to_string(b));
      return Reply::ok();
    }
  }
  return Reply::fail(ENOTTY);
}

void DspData::received(Session& s, std::string&& frame) { of(s)->captured.push_back(std::move(frame)); }

void DspData::closed(Session& s) {
  Channel* c = of(s);
  if (!c) return;
  byIndex_[(c->channel - kFirstChannel) / 4] = nullptr;
  s.data.reset();
}

bool DspData::injectLocked(uint32_t channel, const std::string& frame) {
  Session* s = find(channel);
  if (!s || frame.empty() || frame.size() > kMaxFrame) return false;
  s->deliver(frame);
  return true;
}

std::vector<DspData::Link> DspData::links() {
  board_.sync();
  auto g = guard();
  std::vector<Link> out;
  for (Session* s : byIndex_) {
    if (!s) continue;
    Channel* c = of(*s);
    out.push_back({c->channel, s->id(), {c->b[0], c->b[1], c->b[2]}, c->captured.size(), s->pending()});
  }
  return out;
}

std::vector<std::string> DspData::captured(uint32_t channel, bool take) {
  board_.sync();
  auto g = guard();
  Session* s = find(channel);
  if (!s) return {};
  auto& q = of(*s)->captured;
  std::vector<std::string> out(q.begin(), q.end());
  if (take) q.clear();
  return out;
}

bool DspData::inject(uint32_t channel, const std::string& frame) {
  board_.sync();
  auto g = guard();
  return injectLocked(channel, frame);
}

std::vector<std::string> DspData::journal() {
  auto g = guard();
  return journal_;
}

std::string DspData::describe(const LogEntry& e) const {
  std::ostringstream o;
  switch (e.word) {
    case kTimeslot:
      return "timeslot";
    case kAddB:
      if (e.arg != Arg::Record || e.in.size() != 8) break;
      o << "add B " << wordBE(e.in, 0);
      if (!e.error) o << " -> " << wordBE(e.out.empty() ? e.in : e.out, 1);
      return o.str();
    case kRemoveB:
      if (e.arg != Arg::Record || e.in.size() != 4) break;
      o << "remove B " << wordBE(e.in, 0);
      return o.str();
  }
  return Model::describe(e);
}

void DspData::help(std::ostream& out) const {
  out << "dspdata list                D channels and their B channels\n"
         "dspdata inject CH HEX       a frame for the daemon to read on D channel CH\n"
         "dspdata captured CH [take]  frames the daemon sent on D channel CH\n";
}

bool DspData::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  unsigned long ch = 0;
  auto channel = [&](const std::string& t) {
    if (parseNumber(t, ch) && ch <= 0xFFFFFFFFul && find(uint32_t(ch))) return true;
    out << "error: no D channel " << t << "\n";
    return false;
  };
  if (a[0] == "list" && a.size() == 1) {
    for (Session* s : byIndex_) {
      if (!s) continue;
      Channel* c = of(*s);
      out << c->channel << " s" << s->id() << " B";
      for (unsigned b = 0; b < kBChannels; ++b) out << " " << (c->b[b] ? std::to_string(c->channel + 1 + b) : "-");
      out << " captured=" << c->captured.size() << " pending=" << s->pending() << "\n";
    }
    return true;
  }
  if (a[0] == "inject" && a.size() >= 3) {
    if (!channel(a[1])) return true;
    std::string hex, bytes;
    for (size_t i = 2; i < a.size(); ++i) hex += a[i];
    if (!parseHex(hex, bytes) || bytes.empty() || bytes.size() > kMaxFrame)
      out << "error: bad frame\n";
    else
      injectLocked(uint32_t(ch), bytes);
    return true;
  }
  if (a[0] == "captured" && (a.size() == 2 || (a.size() == 3 && a[2] == "take"))) {
    if (!channel(a[1])) return true;
    auto& q = of(*find(uint32_t(ch)))->captured;
    for (const std::string& f : q) out << hexText(f) << "\n";
    if (a.size() == 3) q.clear();
    return true;
  }
  return false;
}

}  // namespace Board
