#include "board/StandIn.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace Board {

namespace {

StandIn* g_board = nullptr;
std::atomic<bool> g_forked{false};

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
  control_.close();
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
    int wait;
    {
      std::lock_guard<std::mutex> g(mutex_);
      if (stop_) return;
      buryLocked();
      // Closed only here, between polls, so that no end number is reused
      // while a poll still watches it.
      for (int fd : toClose_) closeEnd(fd);
      toClose_.clear();
      fds.push_back({wake_, POLLIN, 0});
      wait = control_.prepare(fds);
      firstEnd = fds.size();
      for (auto& e : sessions_) {
        Session& s = *e.second;
        short ev = short((s.draining_ ? POLLIN : 0) | (s.out_.empty() ? 0 : POLLOUT));
        fds.push_back({s.end_, ev, 0});
        owners.push_back(e.first);
      }
    }
    int n = ::poll(fds.data(), fds.size(), wait);
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
    fds.resize(firstEnd);
    control_.service(fds, 1);
  }
}

}  // namespace Board
