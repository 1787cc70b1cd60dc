#include "board/StandIn.h"

#include <sys/socket.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "board/Hal.h"
#include "board/Mcc.h"
#include "runtime/Root.h"

namespace Board {

void registerModels(StandIn& board);  // board/Models.cpp

// ---------------------------------------------------------------------------
// Construction and the models

StandIn::StandIn() {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  registerModels(*this);
  control_.open(Root::path(kControlPath));
}

StandIn::~StandIn() {
  stopThread();
  for (auto& s : sessions_) ::close(s.second->end_);
  for (int fd : toClose_) closeEnd(fd);
  if (wake_ >= 0) ::close(wake_);
}

void StandIn::add(std::unique_ptr<Model> m) {
  std::string path = m->path();
  models_[path] = std::move(m);
}

std::string StandIn::controlPath() const { return control_.path(); }

Model* StandIn::model(const std::string& pathOrName) {
  auto it = models_.find(pathOrName);
  if (it != models_.end()) return it->second.get();
  for (auto& m : models_)
    if (m.second->name() == pathOrName) return m.second.get();
  return nullptr;
}

Hal& StandIn::hal() { return *static_cast<Hal*>(model("/dev/hal")); }
Mcc& StandIn::mcc() { return *static_cast<Mcc*>(model("/dev/mcc/ctl")); }

// ---------------------------------------------------------------------------
// Requests and their log

int StandIn::request(int fd, uint32_t word, Arg arg, long value, void* record, size_t size,
                     bool& handled) {
  struct stat st;
  handled = false;
  if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return 0;
  std::unique_lock<std::mutex> g(mutex_);
  auto it = sessions_.find(st.st_ino);
  if (it != sessions_.end() && it->second->model_->syncBeforeRequest()) {
    serviceLocked();
    it = sessions_.find(st.st_ino);
  }
  if (it == sessions_.end()) {
    if (severed_.count(st.st_ino) == 0) return 0;
    handled = true;
    errno = EIO;
    return -1;
  }
  handled = true;
  Session& s = *it->second;
  LogEntry e;
  e.usec = wallClockUsec();
  e.model = s.model_;
  e.session = s.id_;
  e.word = word;
  e.arg = arg;
  e.value = value;
  const bool withRecord = arg == Arg::Record && record && size;
  if (withRecord) e.in.assign(static_cast<const char*>(record), size);
  Reply rep;
  bool injected = false;
  int err;
  if (injectedRequestLocked(s.model_->path(), word, err)) {
    rep = Reply::fail(err);
    injected = true;
  }
  if (!injected) {
    Request r;
    r.word = word;
    r.arg = arg;
    r.value = value;
    r.record = static_cast<uint8_t*>(record);
    r.size = size;
    rep = s.model_->request(s, r);
  }
  if (withRecord && std::memcmp(e.in.data(), record, size) != 0)
    e.out.assign(static_cast<const char*>(record), size);
  e.injected = injected;
  e.error = rep.error;
  e.result = rep.error ? -1 : rep.result;
  pushLogLocked(std::move(e));
  g.unlock();
  if (rep.error) {
    errno = rep.error;
    return -1;
  }
  return int(rep.result);
}

bool StandIn::matches(const LogEntry& e, const std::vector<uint32_t>& words) const {
  if (words.empty()) return true;
  for (uint32_t w : words)
    if (w == e.word) return true;
  return false;
}

std::vector<LogEntry> StandIn::logEntries(const std::vector<uint32_t>& words) {
  std::lock_guard<std::mutex> g(mutex_);
  std::vector<LogEntry> out;
  for (const LogEntry& e : log_)
    if (matches(e, words)) out.push_back(e);
  return out;
}

std::vector<std::string> StandIn::logLines(const std::vector<uint32_t>& words) {
  std::lock_guard<std::mutex> g(mutex_);
  std::vector<std::string> out;
  for (const LogEntry& e : log_)
    if (matches(e, words)) out.push_back(e.text());
  return out;
}

void StandIn::clearLog() {
  std::lock_guard<std::mutex> g(mutex_);
  clearLogLocked();
}

void StandIn::clearLogLocked() {
  logFirst_ += log_.size();
  log_.clear();
  dropped_ = 0;
}

void StandIn::pushLogLocked(LogEntry&& e) {
  log_.push_back(std::move(e));
  if (log_.size() > kLogLimit) {
    log_.pop_front();
    ++logFirst_;
    ++dropped_;
  }
}

}  // namespace Board
