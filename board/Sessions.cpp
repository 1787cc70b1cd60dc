#include "board/StandIn.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace Board {

namespace {

// Largest frame the board reads from a session in one piece.
constexpr size_t kFrameMax = 65536;

}  // namespace

// Closes the board's end of a cut session. Frames the daemon wrote that the
// board never took are dropped first: closing a socket with unread data
// gives its peer ECONNRESET instead of the end of file that a cut session
// reads as (EIO through the access layer), so the error would depend on
// timing.
void StandIn::closeEnd(int fd) {
  char buf[512];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  ::close(fd);
}

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

Session* StandIn::sessionOfLocked(int fd) {
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
  auto it = sessions_.find(st.st_ino);
  return it == sessions_.end() || it->second->ended() ? nullptr : it->second.get();
}

int StandIn::open(const char* path, int flags) {
  std::lock_guard<std::mutex> g(mutex_);
  buryLocked();
  std::string p = path ? path : "";
  int injected;
  if (injectedOpenLocked(p, injected)) {
    errno = injected;
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

}  // namespace Board
