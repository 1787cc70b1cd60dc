#include "hardware/Device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/Netif.h"
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

namespace {

// Where the settings header of a SIOCWANDEV request keeps its pointer: after
// the interface name (16 bytes), its type and size words.
constexpr size_t kSettingsPointerAt = 16 + 8;

}  // namespace

int netSocket() {
  if (standIn()) return Board::StandIn::instance().open(Board::kNetifPath, O_RDWR | O_CLOEXEC);
  return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

int netRequest(int sock, unsigned long word, void* ifr, size_t size, void* settings, size_t settingsSize) {
  if (settings && size >= kSettingsPointerAt + sizeof(void*))
    std::memcpy(static_cast<char*>(ifr) + kSettingsPointerAt, &settings, sizeof(void*));
  if (standIn()) {
    // The board takes the request and the settings it points at as one
    // record, so that it never follows a pointer of the daemon.
    std::vector<uint8_t> rec(static_cast<const uint8_t*>(ifr), static_cast<const uint8_t*>(ifr) + size);
    if (settings) rec.insert(rec.end(), static_cast<uint8_t*>(settings), static_cast<uint8_t*>(settings) + settingsSize);
    bool handled;
    int r = Board::StandIn::instance().request(sock, static_cast<uint32_t>(word), Board::Arg::Record, 0, rec.data(),
                                               rec.size(), handled);
    if (handled) {
      const int saved = errno;
      std::memcpy(ifr, rec.data(), size);
      if (settings) std::memcpy(settings, rec.data() + size, settingsSize);
      if (settings && size >= kSettingsPointerAt + sizeof(void*))
        std::memcpy(static_cast<char*>(ifr) + kSettingsPointerAt, &settings, sizeof(void*));
      errno = saved;
      return r;
    }
  }
  return ::ioctl(sock, word, ifr);
}

}  // namespace Device
