#include "runtime/Fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

Errno::Errno() : value_(errno) {}

void Errno::Put(std::ostream& os) const { os << std::strerror(value_); }

std::ostream& operator<<(std::ostream& os, const Errno& e) {
  e.Put(os);
  return os;
}

bool NonBlockMode(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags == -1) return false;
  return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool BlockMode(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags == -1) return false;
  return ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void SetCloexec(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags == -1) return;
  flags = on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC);
  ::fcntl(fd, F_SETFD, flags);
}

Fd::Fd(int fd) : fd_(fd) {
  if (fd_ >= 0) SetCloexec(fd_, true);
}

Fd::Fd(const Fd& other) : fd_(other.dup()) {}

Fd& Fd::operator=(const Fd& other) {
  if (this != &other) {
    close();
    fd_ = other.dup();
  }
  return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    int saved = errno;
    close();
    errno = saved;
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) {
    int saved = errno;
    ::close(fd_);
    errno = saved;
  }
}

int Fd::dup() const {
  if (fd_ < 0) return -1;
  int n = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  return n;
}

bool Fd::open(const char* path, int flags) {
  close();
  fd_ = ::open(path, flags | O_CLOEXEC);
  return fd_ >= 0;
}

int Fd::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  int r = ::close(fd_);
  fd_ = -1;
  return r;
}

bool Fd::NonBlock() {
  if (fd_ < 0) return false;
  return NonBlockMode(fd_);
}

long read(Fd& fd, void* buf, unsigned int n) { return ::read(fd.lowlevel_fd(), buf, n); }

long write(Fd& fd, const void* buf, unsigned int n) { return ::write(fd.lowlevel_fd(), buf, n); }

int close(Fd& fd) { return fd.close(); }
