#include "board/StandIn.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace Board {

void StandIn::failOpen(const std::string& path, int err, bool once) {
  std::lock_guard<std::mutex> g(mutex_);
  openFailures_[path] = Failure{err, once};
}

void StandIn::failRequest(uint32_t word, int err, bool once, const std::string& device) {
  std::lock_guard<std::mutex> g(mutex_);
  requestFailures_[{device, word}] = Failure{err, once};
}

void StandIn::clearFailures() {
  std::lock_guard<std::mutex> g(mutex_);
  openFailures_.clear();
  requestFailures_.clear();
}

bool StandIn::injectedOpenLocked(const std::string& path, int& err) {
  auto f = openFailures_.find(path);
  if (f == openFailures_.end()) return false;
  err = f->second.error;
  if (f->second.once) openFailures_.erase(f);
  return true;
}

bool StandIn::injectedRequestLocked(const std::string& device, uint32_t word, int& err) {
  if (requestFailures_.empty()) return false;
  // One for this device first, then one for any device.
  for (const std::string& dev : {device, std::string()}) {
    auto f = requestFailures_.find({dev, word});
    if (f == requestFailures_.end()) continue;
    err = f->second.error;
    if (f->second.once) requestFailures_.erase(f);
    return true;
  }
  return false;
}

std::string StandIn::failCommandLocked(const std::vector<std::string>& args) {
  std::ostringstream out;
  auto error = [&](const std::string& text) { return "error: " + text + "\n"; };
  // Only a registered device is ever opened or asked: a failure set on any
  // other name would never fire.
  auto unknownDevice = [&](const std::string& name) {
    std::set<std::string> names;
    for (auto& m : models_) names.insert(m.second->name());
    std::string known;
    for (const std::string& n : names) known += (known.empty() ? "" : " ") + n;
    return error("unknown device " + name + " (known: " + known + ")");
  };
  if (args.size() == 2 && args[1] == "clear") {
    openFailures_.clear();
    requestFailures_.clear();
    return "";
  }
  if (args.size() == 2 && args[1] == "list") {
    for (auto& f : openFailures_)
      out << "open " << f.first << " " << errnoName(f.second.error)
          << (f.second.once ? " once" : " always") << "\n";
    for (auto& f : requestFailures_) {
      char w[16];
      std::snprintf(w, sizeof w, "0x%08X", f.first.second);
      out << "request " << w << " " << errnoName(f.second.error)
          << (f.second.once ? " once" : " always")
          << (f.first.first.empty() ? "" : " " + f.first.first) << "\n";
    }
    return out.str();
  }
  if (args.size() >= 4 && args[1] == "open") {
    Model* m = model(args[2]);
    if (!m) return unknownDevice(args[2]);
    const std::string path = m->path();
    int err;
    if (!parseErrno(args[3], err)) return error("bad errno " + args[3]);
    bool once = args.size() > 4 && args[4] == "once";
    if (args.size() > 5 || (args.size() == 5 && !once && args[4] != "always"))
      return error("usage: fail open DEVICE ERRNO [once]");
    openFailures_[path] = Failure{err, once};
    return "";
  }
  if (args.size() >= 4 && args[1] == "request") {
    unsigned long w;
    if (!parseNumber(args[2], w) || w > 0xFFFFFFFFul) return error("bad request word " + args[2]);
    int err;
    if (!parseErrno(args[3], err)) return error("bad errno " + args[3]);
    bool once = false;
    std::string dev;
    for (size_t i = 4; i < args.size(); ++i) {
      if (args[i] == "once") once = true;
      else if (args[i] == "always") once = false;
      else if (Model* m = model(args[i])) dev = m->path();
      else return unknownDevice(args[i]);
    }
    requestFailures_[{dev, uint32_t(w)}] = Failure{err, once};
    return "";
  }
  return error("usage: fail open|request|list|clear ...");
}

}  // namespace Board
