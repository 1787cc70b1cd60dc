#include "board/Mixer.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "board/EventModel.h"
#include "board/Record.h"
#include "board/StandIn.h"

namespace Board {

namespace {

int32_t word(const uint8_t* rec, size_t i) { return hostField<int32_t>(rec + 4 * i); }

std::string slotText(const uint8_t* p) {
  std::ostringstream o;
  o << "{" << word(p, 0) << "," << word(p, 1) << "," << word(p, 2) << "}";
  return o.str();
}

}  // namespace

Mixer::Mixer(StandIn& board) : Model(board, "/dev/mixer", "mixer") {}

Mixer::Unit* Mixer::find(int32_t id) {
  for (Unit& u : units_)
    if (u.id == id) return &u;
  return nullptr;
}

Mixer::Unit* Mixer::channel(const uint8_t* slot, int32_t& number) {
  Unit* u = find(word(slot, 0));
  number = word(slot, 2);
  if (!u || word(slot, 1) != 0 || number < 0 || number >= u->tdm) return nullptr;
  return u;
}

void Mixer::setUnitLocked(int32_t id, int32_t tdm, int32_t inputs) {
  if (Unit* u = find(id)) {
    u->tdm = tdm;
    u->inputs = inputs;
    return;
  }
  // The first block no unit holds.
  uint32_t base = kFirstChannel;
  for (bool taken = true; taken; ) {
    taken = false;
    for (const Unit& u : units_)
      if (u.base == base) {
        taken = true;
        base += kBlock;
      }
  }
  Unit u;
  u.id = id;
  u.tdm = tdm > int32_t(kBlock) ? int32_t(kBlock) : tdm;
  u.inputs = inputs;
  u.base = base;
  units_.push_back(u);
}

void Mixer::setUnit(int32_t id, int32_t tdm, int32_t inputs) {
  auto g = guard();
  setUnitLocked(id, tdm, inputs);
}

bool Mixer::removeUnit(int32_t id) {
  auto g = guard();
  for (auto it = units_.begin(); it != units_.end(); ++it)
    if (it->id == id) {
      units_.erase(it);
      return true;
    }
  return false;
}

std::vector<Mixer::Unit> Mixer::units() const {
  auto g = guard();
  return units_;
}

std::map<int32_t, int32_t> Mixer::routes(int32_t id, int32_t output) const {
  auto g = guard();
  for (const Unit& u : units_)
    if (u.id == id) {
      auto it = u.routes.find(output);
      if (it != u.routes.end()) return it->second;
    }
  return {};
}

unsigned long Mixer::opens() const {
  auto g = guard();
  return opens_;
}

int Mixer::open(Session&) {
  ++opens_;
  return 0;
}

Reply Mixer::request(Session&, Request& r) {
  if (r.word != kClear && r.word != kAdd && r.word != kRemove && r.word != kTdm && r.word != kEnumerate)
    return Reply::fail(ENOTTY);
  if (int err = checkRecord(r)) return Reply::fail(err);
  uint8_t* p = r.record;
  if (r.word == kEnumerate) {
    // The unit after the one named (the first for -1).
    const int32_t after = word(p, 0);
    size_t i = 0;
    if (after != -1) {
      while (i < units_.size() && units_[i].id != after) ++i;
      if (i == units_.size()) return Reply::fail(EINVAL);
      ++i;
    }
    if (i == units_.size()) return Reply::fail(ENODEV);
    const Unit& u = units_[i];
    std::memcpy(p, &u.id, 4);
    std::memcpy(p + 4, &u.tdm, 4);
    std::memcpy(p + 12, &u.inputs, 4);
    return Reply::ok();
  }
  int32_t rx;
  Unit* u = channel(p, rx);
  if (!u) return Reply::fail(EINVAL);
  switch (r.word) {
    case kTdm:
      return Reply::ok(long(u->base) + rx);
    case kClear:
      u->routes.erase(rx);
      return Reply::ok();
    default:
      break;
  }
  int32_t tx;
  Unit* from = channel(p + 12, tx);
  if (from != u || (r.word == kAdd && (word(p, 6) < 0 || word(p, 6) > 32767))) return Reply::fail(EINVAL);
  if (r.word == kAdd) {
    u->routes[rx][tx] = word(p, 6);
    return Reply::ok();
  }
  auto it = u->routes.find(rx);
  if (it == u->routes.end() || !it->second.erase(tx)) return Reply::fail(ENOENT);
  if (it->second.empty()) u->routes.erase(it);
  return Reply::ok();
}

std::string Mixer::describe(const LogEntry& e) const {
  if (e.arg != Arg::Record || e.in.size() != wordSize(e.word)) return Model::describe(e);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(e.in.data());
  switch (e.word) {
    case kClear: return "clear " + slotText(p);
    case kTdm: return "tdm " + slotText(p);
    case kAdd: return "add rx=" + slotText(p) + " tx=" + slotText(p + 12) + " gain=" + std::to_string(word(p, 6));
    case kRemove: return "remove rx=" + slotText(p) + " tx=" + slotText(p + 12);
    case kEnumerate: {
      std::string s = "enumerate after=" + std::to_string(word(p, 0));
      if (e.out.size() == 16) {
        const uint8_t* o = reinterpret_cast<const uint8_t*>(e.out.data());
        s += " -> id=" + std::to_string(word(o, 0)) + " tdm=" + std::to_string(word(o, 1)) +
             " inputs=" + std::to_string(word(o, 3));
      }
      return s;
    }
  }
  return Model::describe(e);
}

void Mixer::help(std::ostream& out) const {
  out << "mixer units                   units, their switch channels and routes\n"
         "mixer unit ID TDM INPUTS      add a unit or change its counts\n"
         "mixer remove ID               the unit goes away\n";
}

bool Mixer::command(const std::vector<std::string>& a, std::ostream& out) {
  if (a.empty()) return false;
  if (a[0] == "units" && a.size() == 1) {
    for (const Unit& u : units_) {
      out << "unit " << u.id << " tdm=" << u.tdm << " inputs=" << u.inputs << " channels=" << u.base << "-"
          << u.base + uint32_t(u.tdm > 0 ? u.tdm - 1 : 0) << "\n";
      for (auto& o : u.routes) {
        out << "  out " << o.first << " <-";
        for (auto& in : o.second) out << " " << in.first << "*" << in.second;
        out << "\n";
      }
    }
    return true;
  }
  long id, tdm, inputs;
  if (a[0] == "unit") {
    if (a.size() != 4 || !parseSigned(a[1], id) || !parseSigned(a[2], tdm) || !parseSigned(a[3], inputs) ||
        id < 0 || id > INT32_MAX || tdm < 0 || tdm > long(kBlock) || inputs < 0 || inputs > INT32_MAX ||
        (!find(int32_t(id)) && units_.size() >= kBlocks))
      out << "error: usage: mixer unit ID TDM INPUTS (TDM at most " << kBlock << ", at most " << kBlocks
          << " units)\n";
    else
      setUnitLocked(int32_t(id), int32_t(tdm), int32_t(inputs));
    return true;
  }
  if (a[0] == "remove") {
    if (a.size() != 2 || !parseSigned(a[1], id)) {
      out << "error: usage: mixer remove ID\n";
      return true;
    }
    for (auto it = units_.begin(); it != units_.end(); ++it)
      if (it->id == id) {
        units_.erase(it);
        return true;
      }
    out << "error: no unit " << id << "\n";
    return true;
  }
  return false;
}

}  // namespace Board
