#include "runtime/Accept.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

SpareAccept::SpareAccept() { takeSpare(); }

SpareAccept::~SpareAccept() {
  if (spare_ >= 0) ::close(spare_);
}

void SpareAccept::takeSpare() {
  // Any descriptor will do; an event counter holds nothing else.
  if (spare_ < 0) spare_ = ::eventfd(0, EFD_CLOEXEC);
}

void SpareAccept::endRun() {
  if (!exhausted_) return;
  exhausted_ = false;
  ended_ = true;
  reported_dropped_ = dropped_;
  dropped_ = 0;
}

int SpareAccept::accept(int listener, sockaddr* addr, socklen_t* len, int flags, Outcome& outcome) {
  began_ = ended_ = false;
  const socklen_t room = len ? *len : 0;
  for (;;) {
    if (len) *len = room;
    int fd = ::accept4(listener, addr, len, flags);
    if (fd >= 0) {
      takeSpare();
      endRun();
      outcome = Outcome::Accepted;
      return fd;
    }
    const int err = errno;
    switch (err) {
      case EINTR:
        continue;
      case EAGAIN:
#if EWOULDBLOCK != EAGAIN
      case EWOULDBLOCK:
#endif
        takeSpare();
        outcome = Outcome::Empty;
        errno = err;
        return -1;
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM:
        break;
      default:
        outcome = Outcome::Failed;
        errno = err;
        return -1;
    }
    began_ = !exhausted_;
    exhausted_ = true;
    if ((err == EMFILE || err == ENFILE) && spare_ >= 0) {
      ::close(spare_);
      spare_ = -1;
      const int dropped = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      const int dropErr = errno;
      if (dropped >= 0) ::close(dropped);
      takeSpare();
      if (dropped >= 0) {
        ++dropped_;
        outcome = Outcome::Dropped;
        errno = err;
        return -1;
      }
      // A full table fails accept() before it looks at the queue: with a
      // descriptor free, it says whether anybody was waiting at all.
      if (dropErr == EAGAIN || dropErr == EWOULDBLOCK) {
        outcome = Outcome::Empty;
        errno = dropErr;
        return -1;
      }
    }
    outcome = Outcome::Exhausted;
    errno = err;
    return -1;
  }
}
