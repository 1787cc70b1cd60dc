#include "board/StandIn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "board/Hal.h"
#include "board/Mcc.h"
#include "runtime/Root.h"

namespace Board {

void registerModels(StandIn& board);  // board/Models.cpp

namespace {

StandIn* g_board = nullptr;
std::atomic<bool> g_forked{false};

// Closes the board's end of a cut session. Frames the daemon wrote that the
// board never took are dropped first: closing a socket with unread data
// gives its peer ECONNRESET instead of the end of file that a cut session
// reads as (EIO through the access layer), so the error would depend on
// timing.
void closeEnd(int fd) {
  char buf[512];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  ::close(fd);
}

// Largest frame the board reads from a session in one piece.
constexpr size_t kFrameMax = 65536;

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

void prepareFork() {
  if (g_board) g_board->mutex().lock();
}
void parentFork() {
  if (g_board) g_board->mutex().unlock();
}
void childFork() {
  if (!g_board) return;
  g_board->mutex().unlock();
  // Threads do not survive fork: a daemon that detaches after opening its
  // devices needs the board's thread back, which the next call brings.
  g_forked.store(true);
}

}  // namespace

// ---------------------------------------------------------------------------
// Session

void Session::deliver(std::string frame) {
  if (ended_) return;
  out_.push_back(std::move(frame));
  board_->flushLocked(*this);
  if (!out_.empty()) board_->wake();
}

void Session::setDraining(bool on) {
  draining_ = on;
  board_->wake();
}

void Session::sever() {
  if (ended_) return;
  board_->severed_.insert(ino_);
  board_->endLocked(*this);
}

// ---------------------------------------------------------------------------
// Construction and the thread

StandIn& StandIn::instance() {
  static StandIn* board = [] {
    StandIn* b = new StandIn();  // lives for the whole process
    g_board = b;
    b->startThread();
    pthread_atfork(prepareFork, parentFork, childFork);
    std::atexit([] { g_board->stopThread(); });
    return b;
  }();
  if (g_forked.load(std::memory_order_relaxed)) {
    std::lock_guard<std::mutex> g(board->mutex_);
    if (g_forked.exchange(false)) {
      board->threadRunning_ = false;
      board->stop_ = false;
      board->startThread();
    }
  }
  return *board;
}

StandIn::StandIn() {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  registerModels(*this);
  openControl();
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

void StandIn::openControl() {
  controlPath_.clear();
  std::string path = Root::path(kControlPath);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    std::cerr << "standin: control socket path too long: " << path << std::endl;
    return;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // The run directory may not exist yet in a fresh root.
  for (size_t pos = 1; (pos = path.find('/', pos)) != std::string::npos; ++pos)
    ::mkdir(path.substr(0, pos).c_str(), 0755);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    std::cerr << "standin: control socket " << path << ": " << std::strerror(errno) << std::endl;
    ::close(fd);
    return;
  }
  listen_ = fd;
  controlPath_ = path;
}

std::string StandIn::controlPath() const { return controlPath_; }

void StandIn::startThread() {
  if (threadRunning_) return;
  // The daemon's signals belong to its loop thread, never to the board's.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  int rc = pthread_create(&thread_, nullptr, &StandIn::threadMain, this);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (rc != 0) {
    std::cerr << "standin: cannot start the board thread: " << std::strerror(rc) << std::endl;
    return;
  }
  threadRunning_ = true;
}

void StandIn::stopThread() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!threadRunning_) return;
    stop_ = true;
  }
  wake();
  pthread_join(thread_, nullptr);
  std::lock_guard<std::mutex> g(mutex_);
  threadRunning_ = false;
  for (auto& c : clients_) ::close(c.first);
  clients_.clear();
  if (listen_ >= 0) {
    ::close(listen_);
    listen_ = -1;
    ::unlink(controlPath_.c_str());
  }
}

void StandIn::wake() {
  if (wake_ < 0) return;
  uint64_t one = 1;
  ssize_t n = ::write(wake_, &one, sizeof one);
  (void)n;
}

void* StandIn::threadMain(void* arg) {
  static_cast<StandIn*>(arg)->run();
  return nullptr;
}

void StandIn::run() {
  std::vector<pollfd> fds;
  std::vector<ino_t> owners;  // the session of each end entry
  for (;;) {
    fds.clear();
    owners.clear();
    size_t firstEnd;
    {
      std::lock_guard<std::mutex> g(mutex_);
      if (stop_) return;
      buryLocked();
      // Closed only here, between polls, so that no end number is reused
      // while a poll still watches it.
      for (int fd : toClose_) closeEnd(fd);
      toClose_.clear();
      fds.push_back({wake_, POLLIN, 0});
      if (listen_ >= 0) fds.push_back({listen_, POLLIN, 0});
      for (auto& c : clients_)
        fds.push_back({c.first, short(POLLIN | (c.second.out.empty() ? 0 : POLLOUT)), 0});
      firstEnd = fds.size();
      for (auto& e : sessions_) {
        Session& s = *e.second;
        short ev = short((s.draining_ ? POLLIN : 0) | (s.out_.empty() ? 0 : POLLOUT));
        fds.push_back({s.end_, ev, 0});
        owners.push_back(e.first);
      }
    }
    int n = ::poll(fds.data(), fds.size(), -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::cerr << "standin: poll: " << std::strerror(errno) << std::endl;
      return;
    }
    if (fds[0].revents) {
      uint64_t v;
      ssize_t r = ::read(wake_, &v, sizeof v);
      (void)r;
    }
    {
      std::lock_guard<std::mutex> g(mutex_);
      for (size_t i = firstEnd; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        auto it = sessions_.find(owners[i - firstEnd]);
        if (it == sessions_.end() || it->second->end_ != fds[i].fd) continue;
        serviceEnd(*it->second, fds[i].revents);
      }
    }
    // The control socket and its clients, without the lock: each command
    // takes it itself.
    for (size_t i = 1; i < firstEnd; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == listen_) {
        for (;;) {
          int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
          if (c < 0) break;
          clients_[c];
        }
        continue;
      }
      auto it = clients_.find(fds[i].fd);
      if (it == clients_.end()) continue;
      if (!serveClient(it->first, it->second, fds[i].revents)) {
        ::close(it->first);
        clients_.erase(it);
      }
    }
  }
}

bool StandIn::serveClient(int fd, Client& c, short revents) {
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    char buf[4096];
    for (;;) {
      ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        c.in.append(buf, size_t(n));
        if (c.in.size() > 65536) return false;  // no sane command is that long
        continue;
      }
      if (n == 0) {
        if (c.out.empty() && c.in.find('\n') == std::string::npos) return false;
        break;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      return false;
    }
    size_t nl;
    while ((nl = c.in.find('\n')) != std::string::npos) {
      std::string line = c.in.substr(0, nl);
      c.in.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      c.out += command(line);
      c.out += ".\n";
    }
  }
  while (!c.out.empty()) {
    ssize_t n = ::send(fd, c.out.data(), c.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      c.out.erase(0, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Sessions

int StandIn::open(const char* path, int flags) {
  std::lock_guard<std::mutex> g(mutex_);
  buryLocked();
  std::string p = path ? path : "";
  auto f = openFailures_.find(p);
  if (f != openFailures_.end()) {
    int err = f->second.error;
    if (f->second.once) openFailures_.erase(f);
    errno = err;
    return -1;
  }
  auto m = models_.find(p);
  if (m == models_.end()) {
    errno = ENOENT;  // as on a board without that driver
    return -1;
  }
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return -1;
  int daemonEnd = sv[0], boardEnd = sv[1];
  if (flags & O_NONBLOCK) ::fcntl(daemonEnd, F_SETFL, ::fcntl(daemonEnd, F_GETFL) | O_NONBLOCK);
  if (!(flags & O_CLOEXEC)) ::fcntl(daemonEnd, F_SETFD, 0);
  ::fcntl(boardEnd, F_SETFL, ::fcntl(boardEnd, F_GETFL) | O_NONBLOCK);
  struct stat st;
  if (::fstat(daemonEnd, &st) != 0) {
    int err = errno;
    ::close(daemonEnd);
    ::close(boardEnd);
    errno = err;
    return -1;
  }
  auto s = std::make_unique<Session>();
  s->board_ = this;
  s->model_ = m->second.get();
  s->id_ = nextSession_++;
  s->flags_ = flags;
  s->end_ = boardEnd;
  s->ino_ = st.st_ino;
  int err = s->model_->open(*s);
  if (err != 0) {
    ::close(daemonEnd);
    ::close(boardEnd);
    errno = err;
    return -1;
  }
  severed_.erase(st.st_ino);
  auto old = sessions_.find(st.st_ino);
  if (old != sessions_.end()) endLocked(*old->second);  // a stale inode, reused
  sessions_[st.st_ino] = std::move(s);
  wake();
  return daemonEnd;
}

void StandIn::endLocked(Session& s) {
  if (s.ended_) return;
  s.ended_ = true;
  s.model_->closed(s);
  s.out_.clear();
  // The daemon reads end of file at once when the board cuts the session.
  ::shutdown(s.end_, SHUT_RDWR);
  toClose_.push_back(s.end_);
  auto it = sessions_.find(s.ino_);
  if (it != sessions_.end() && it->second.get() == &s) {
    graveyard_.push_back(std::move(it->second));
    sessions_.erase(it);
  }
  wake();
}

void StandIn::flushLocked(Session& s) {
  while (!s.out_.empty() && !s.ended_) {
    const std::string& f = s.out_.front();
    ssize_t n = ::send(s.end_, f.data(), f.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      s.out_.pop_front();
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return;
    if (errno == EMSGSIZE) {
      std::cerr << "standin: " << s.model_->path() << " s" << s.id_ << ": frame of " << f.size()
                << " bytes too large, dropped" << std::endl;
      s.out_.pop_front();
      continue;
    }
    s.out_.clear();  // the daemon is gone; its hang-up follows
    return;
  }
}

void StandIn::serviceEnd(Session& s, short revents) {
  if (revents & POLLNVAL) return;
  if (revents & POLLOUT) flushLocked(s);
  bool hup = revents & (POLLHUP | POLLERR);
  if (!(revents & POLLIN) && !hup) return;
  if (!s.draining_ && !hup) return;
  static thread_local std::string buf;
  buf.resize(kFrameMax);
  for (;;) {
    ssize_t n = ::recv(s.end_, &buf[0], buf.size(), MSG_DONTWAIT);
    if (n > 0) {
      s.model_->received(s, std::string(buf.data(), size_t(n)));
      if (s.ended_) return;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    endLocked(s);  // end of file: the last dup was closed
    return;
  }
  if (hup) endLocked(s);
}

void StandIn::serviceLocked() {
  std::vector<pollfd> fds;
  std::vector<ino_t> owners;
  for (auto& e : sessions_) {
    Session& s = *e.second;
    fds.push_back({s.end_, short((s.draining_ ? POLLIN : 0) | (s.out_.empty() ? 0 : POLLOUT)), 0});
    owners.push_back(e.first);
  }
  if (fds.empty() || ::poll(fds.data(), fds.size(), 0) <= 0) return;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    auto it = sessions_.find(owners[i]);
    if (it == sessions_.end() || it->second->end_ != fds[i].fd) continue;
    serviceEnd(*it->second, fds[i].revents);
  }
}

void StandIn::sync() {
  std::lock_guard<std::mutex> g(mutex_);
  serviceLocked();
}

std::vector<std::pair<unsigned, std::string>> StandIn::sessions() {
  std::lock_guard<std::mutex> g(mutex_);
  serviceLocked();
  std::map<unsigned, std::string> byId;
  for (auto& e : sessions_) byId[e.second->id_] = e.second->model_->path();
  return {byId.begin(), byId.end()};
}

// ---------------------------------------------------------------------------
// Requests

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
  if (!requestFailures_.empty()) {
    for (const std::string& dev : {s.model_->path(), std::string()}) {
      auto f = requestFailures_.find({dev, word});
      if (f == requestFailures_.end()) continue;
      rep = Reply::fail(f->second.error);
      if (f->second.once) requestFailures_.erase(f);
      injected = true;
      break;
    }
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
  log_.push_back(std::move(e));
  if (log_.size() > kLogLimit) {
    log_.pop_front();
    ++dropped_;
  }
  g.unlock();
  if (rep.error) {
    errno = rep.error;
    return -1;
  }
  return int(rep.result);
}

// ---------------------------------------------------------------------------
// Log and failures

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
  log_.clear();
  dropped_ = 0;
}

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
// Control commands

std::string StandIn::command(const std::string& line) {
  std::vector<std::string> args = split(line);
  std::lock_guard<std::mutex> g(mutex_);
  buryLocked();
  serviceLocked();
  return commandLocked(args);
}

std::string StandIn::commandLocked(const std::vector<std::string>& args) {
  std::ostringstream out;
  auto error = [&](const std::string& text) { return "error: " + text + "\n"; };
  if (args.empty()) return error("empty command (try help)");
  const std::string& cmd = args[0];
  if (cmd == "help") {
    out << "log [WORD...]          the request log, optionally only these request words\n"
           "log clear              empties the request log\n"
           "sessions               open device sessions\n"
           "fail open DEVICE ERRNO [once]          opens of DEVICE fail with ERRNO\n"
           "fail request WORD ERRNO [once] [DEVICE] requests WORD fail with ERRNO\n"
           "fail list | fail clear                 injected failures\n";
    for (auto& m : models_) m.second->help(out);
    return out.str();
  }
  if (cmd == "log") {
    if (args.size() == 2 && args[1] == "clear") {
      log_.clear();
      dropped_ = 0;
      return "";
    }
    std::vector<uint32_t> words;
    for (size_t i = 1; i < args.size(); ++i) {
      unsigned long w;
      if (!parseNumber(args[i], w) || w > 0xFFFFFFFFul) return error("bad request word " + args[i]);
      words.push_back(uint32_t(w));
    }
    if (dropped_) out << "(" << dropped_ << " older requests dropped)\n";
    for (const LogEntry& e : log_)
      if (matches(e, words)) out << e.text() << "\n";
    return out.str();
  }
  if (cmd == "sessions") {
    std::map<unsigned, const Session*> byId;
    for (auto& e : sessions_) byId[e.second->id_] = e.second.get();
    for (auto& e : byId) {
      int acc = e.second->flags_ & O_ACCMODE;
      out << "s" << e.first << " " << e.second->model_->path() << " "
          << (acc == O_RDONLY ? "O_RDONLY" : acc == O_WRONLY ? "O_WRONLY" : "O_RDWR")
          << ((e.second->flags_ & O_NONBLOCK) ? "|O_NONBLOCK" : "")
          << " pending=" << e.second->out_.size()
          << " draining=" << (e.second->draining_ ? "on" : "off") << "\n";
    }
    return out.str();
  }
  if (cmd == "fail") {
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
      std::string path = m ? m->path() : args[2];
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
        else return error("unknown device " + args[i]);
      }
      requestFailures_[{dev, uint32_t(w)}] = Failure{err, once};
      return "";
    }
    return error("usage: fail open|request|list|clear ...");
  }
  for (auto& m : models_) {
    if (m.second->name() != cmd) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    std::ostringstream mout;
    if (!m.second->command(rest, mout)) {
      std::string text = mout.str();
      return text.rfind("error: ", 0) == 0 ? text : error("unknown " + cmd + " command (try help)");
    }
    return mout.str();
  }
  return error("unknown command " + cmd + " (try help)");
}

}  // namespace Board
