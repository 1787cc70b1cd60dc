#include "hardware/Device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "board/StandIn.h"
#include "runtime/Root.h"

namespace Device {

namespace {

bool readChoice() {
  const char* v = std::getenv("QUORVAD_BOARD");
  return v && std::strcmp(v, "standin") == 0;
}

std::atomic<bool>& choice() {
  static std::atomic<bool> standin{readChoice()};
  return standin;
}

}  // namespace

bool standIn() { return choice().load(std::memory_order_relaxed); }

void reload() { choice().store(readChoice()); }

int open(const char* path, int flags) {
  if (standIn()) return Board::StandIn::instance().open(path, flags);
  return ::open(Root::path(path).c_str(), flags);
}

int close(int fd) { return ::close(fd); }

ssize_t read(int fd, void* buf, size_t size) {
  ssize_t n = ::read(fd, buf, size);
  if (n == 0 && size > 0 && standIn()) {
    // The board never sends an empty record: end of file means that it cut
    // the session.
    errno = EIO;
    return -1;
  }
  return n;
}

ssize_t write(int fd, const void* buf, size_t size) {
  if (!standIn()) return ::write(fd, buf, size);
  ssize_t n = ::send(fd, buf, size, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) return ::write(fd, buf, size);
  return n;
}

int requestValue(int fd, uint32_t word, long value) {
  if (standIn()) {
    bool handled;
    int r = Board::StandIn::instance().request(fd, word, Board::Arg::Value, value, nullptr, 0,
                                               handled);
    if (handled) return r;
  }
  return ::ioctl(fd, static_cast<unsigned long>(word), value);
}

int requestRecord(int fd, uint32_t word, void* record, size_t size) {
  if (standIn()) {
    bool handled;
    int r = Board::StandIn::instance().request(fd, word, Board::Arg::Record, 0, record, size,
                                               handled);
    if (handled) return r;
  }
  return ::ioctl(fd, static_cast<unsigned long>(word), record);
}

}  // namespace Device
