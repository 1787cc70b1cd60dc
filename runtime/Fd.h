#pragma once
// Owning descriptor handle and the small descriptor helpers. Every
// descriptor an Fd holds is close-on-exec, so the child programs the daemon
// starts inherit none of its sockets and devices.
#include <iosfwd>

// The errno of the moment of construction, printed as the system's text:
// messages about failed calls read "<fixed text>: " << Errno().
class Errno {
public:
  Errno();
  explicit Errno(int value) : value_(value) {}
  int value() const { return value_; }
  void Put(std::ostream& os) const;

private:
  int value_;
};

std::ostream& operator<<(std::ostream& os, const Errno& e);

bool NonBlockMode(int fd);
bool BlockMode(int fd);
void SetCloexec(int fd, bool on);

class Fd {
public:
  struct BoolResult;

  Fd() : fd_(-1) {}
  // Takes ownership; sets close-on-exec on a valid descriptor.
  explicit Fd(int fd);
  // A copy holds its own duplicate.
  Fd(const Fd& other);
  Fd& operator=(const Fd& other);
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept;
  ~Fd();

  // A close-on-exec duplicate, or -1 (errno untouched when nothing is held).
  int dup() const;
  // Closes what is held, then opens an existing file or device.
  bool open(const char* path, int flags);
  // -1 with EBADF when nothing is held.
  int close();
  bool NonBlock();
  bool is_valid() const { return fd_ >= 0; }
  operator BoolResult*() const { return is_valid() ? reinterpret_cast<BoolResult*>(1) : nullptr; }
  int lowlevel_fd() const { return fd_; }
  // Gives up ownership without closing.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_;
};

long read(Fd& fd, void* buf, unsigned int n);
long write(Fd& fd, const void* buf, unsigned int n);
int close(Fd& fd);
