#include "log/SysLog.h"

#include "runtime/Clock.h"
#include "runtime/Root.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace {

const char kDefaultIdentity[] = "syslog-vx";
const int kFacilityMask = 0x3F8;

union ManagerStorage {
  constexpr ManagerStorage() : none() {}
  ~ManagerStorage() {}
  char none;
  SysLogManager manager;
};
ManagerStorage g_manager_storage;
bool g_manager_built = false;

}  // namespace

SysLogManager& syslogManager = g_manager_storage.manager;

detail::SysLogManagerInit::SysLogManagerInit() {
  if (!g_manager_built) {
    new (&g_manager_storage.manager) SysLogManager();
    g_manager_built = true;
  }
}

// ---------------------------------------------------------------- client

SysLogManager::SysLogManager() : ident_(kDefaultIdentity) {
  std::memset(&address_, 0, sizeof address_);
  address_.sun_family = AF_UNIX;
  std::memset(&header_, 0, sizeof header_);
  message_[0] = 0;
}

int SysLogManager::setlogmask(int mask) {
  int old = mask_;
  mask_ = mask;
  return old;
}

void SysLogManager::close_socket() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connected_ = false;
}

void SysLogManager::openlog(const char* ident, int options, int facility) {
  if (ident) ident_ = ident;
  options_ = options;
  if (facility != 0 && (facility & ~kFacilityMask) == 0) facility_ = facility;

  for (int attempt = 0; attempt < 2; ++attempt) {
    if (fd_ == -1) {
      // Resolved anew for every socket: the root is absolute, so the path
      // holds after daemon mode moved the working directory to "/".
      const std::string path = Root::path("/dev/log");
      if (path.size() >= sizeof address_.sun_path) return;
      std::memset(&address_, 0, sizeof address_);
      address_.sun_family = AF_UNIX;
      std::memcpy(address_.sun_path, path.data(), path.size());
      if (options_ & LOG_NDELAY) {
        fd_ = ::socket(AF_UNIX, type_ | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
          fd_ = -1;
          return;
        }
      }
    }
    if (fd_ < 0 || connected_) return;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address_), kAddressLength) == 0) {
      connected_ = true;
      return;
    }
    const int err = errno;
    close_socket();
    if (err != EPROTOTYPE) return;
    type_ = type_ == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
  }
}

void SysLogManager::closelog() {
  close_socket();
  ident_ = kDefaultIdentity;
  type_ = SOCK_DGRAM;
  batch_length_ = 0;
  count_ = 0;
}

void SysLogManager::syslog(int priority, const char* format, ...) {
  const int level = priority & LOG_PRIMASK;
  if (!(mask_ & (1 << level))) return;
  if (!(priority & kFacilityMask)) priority |= facility_;

  // At most kMessageSize - 1 characters: every piece is cut to the room
  // that is left.
  const std::size_t limit = kMessageSize - 1;
  std::size_t pos = 0;
  auto room = [&]() { return limit - pos; };
  auto advance = [&](int n) {
    if (n > 0) pos += static_cast<std::size_t>(n) < room() ? static_cast<std::size_t>(n) : room();
  };
  std::memset(message_, 0, sizeof message_);

  advance(std::snprintf(message_, room() + 1, "<%d>", priority));

  const std::size_t body = pos;
  if (room() > 0) {
    std::time_t now = static_cast<std::time_t>(Mux::seconds());
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[64];
    std::size_t n = std::strftime(stamp, sizeof stamp, "%h %e %T ", &tm);
    if (n > room()) n = room();
    std::memcpy(message_ + pos, stamp, n);
    pos += n;
  }
  if (!ident_.empty() && room() > 0) {
    std::size_t n = ident_.size() < room() ? ident_.size() : room();
    std::memcpy(message_ + pos, ident_.data(), n);
    pos += n;
  }
  if ((options_ & LOG_PID) && room() > 0) advance(std::snprintf(message_ + pos, room() + 1, "[%d]", static_cast<int>(::getpid())));
  if (!ident_.empty() && room() > 0) advance(std::snprintf(message_ + pos, room() + 1, ": "));
  if (room() > 0) {
    va_list ap;
    va_start(ap, format);
    advance(std::vsnprintf(message_ + pos, room() + 1, format, ap));
    va_end(ap);
  }
  message_[pos] = 0;

  if (options_ & LOG_PERROR) {
    iovec out[2];
    out[0].iov_base = message_ + body;
    out[0].iov_len = pos - body;
    out[1].iov_base = const_cast<char*>("\n");
    out[1].iov_len = 1;
    const bool ends = pos > body && message_[pos - 1] == '\n';
    ssize_t r = ::writev(2, out, ends ? 1 : 2);
    (void)r;
  }

  if (!connected_) openlog(nullptr, options_ | LOG_NDELAY, 0);

  const unsigned int length = static_cast<unsigned int>(pos + 1);
  if (connected_ && sendmsg_internal(message_, length) >= 0) return;
  if (connected_) {
    close_socket();
    openlog(nullptr, options_ | LOG_NDELAY, 0);
    if (connected_ && sendmsg_internal(message_, length) >= 0) return;
  }
  close_socket();
  if (options_ & LOG_CONS) {
    int fd = ::open(Root::path("/dev/console").c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      dprintf(fd, "%s\r\n", message_ + body);
      ::close(fd);
    }
  }
}

int SysLogManager::sendmsg_internal(void* data, unsigned int length) {
  if (!data || length == 0) return 0;
  if (batch_length_ + length >= kCapacity || count_ >= kMaxPieces) return send_batch();

  std::memcpy(batch_ + batch_length_, data, length);
  pieces_[count_].iov_base = batch_ + batch_length_;
  pieces_[count_].iov_len = length;
  ++count_;
  batch_length_ += length;

  if (count_ > kMaxPieces - 1 || batch_length_ > kHighWater) return send_batch();
  return 0;
}

int SysLogManager::sendmsg() {
  const int result = send_batch();
  // A stream connection whose receiver went away (the log daemon
  // restarted) refuses every later send: closed now, the next message
  // connects afresh instead of losing every line from here on.
  if (result < 0) close_socket();
  return result;
}

int SysLogManager::send_batch() {
  int result = 0;
  if (batch_length_ != 0 && count_ != 0 && fd_ >= 0) {
    std::memset(&header_, 0, sizeof header_);
    // A connected stream socket takes no destination.
    if (type_ == SOCK_DGRAM) {
      header_.msg_name = &address_;
      header_.msg_namelen = kAddressLength;
    }
    header_.msg_iov = pieces_;
    header_.msg_iovlen = static_cast<std::size_t>(count_);
    // Never wait for the receiver, never die of a receiver gone.
    result = static_cast<int>(::sendmsg(fd_, &header_, MSG_DONTWAIT | MSG_NOSIGNAL));
  }
  batch_length_ = 0;
  count_ = 0;
  return result;
}

// ---------------------------------------------------------------- stream buffers

namespace {

void send_system(int priority, const char* line) { ::syslog(priority, "%s", line); }

void send_managed(int priority, const char* line) { syslogManager.syslog(priority, "%s", line); }

}  // namespace

SysLogStreamBuf::SysLogStreamBuf(int facility, int level) : priority_(facility * 8 + level) {
  setbuf(new char[1024], 1024);
}

SysLogStreamBuf::~SysLogStreamBuf() { delete[] buffer_; }

std::streambuf* SysLogStreamBuf::setbuf(char* area, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] buffer_;
  buffer_ = area;
  setp(area, area + size - 1);
  return this;
}

bool SysLogStreamBuf::cut_lines(void (*send)(int, const char*)) {
  char* const start = pbase();
  char* const end = pptr();
  *end = 0;
  if (std::memchr(start, '\n', static_cast<std::size_t>(end - start))) {
    char* p = start;
    while (char* nl = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) {
      *nl = 0;
      send(priority_, p);
      p = nl + 1;
    }
    if (p < end) send(priority_, p);
    setp(buffer_, epptr());
    return true;
  }
  if (end == epptr()) {
    send(priority_, start);
    setp(buffer_, epptr());
    return true;
  }
  return false;
}

int SysLogStreamBuf::sync() {
  if (!buffer_) return 0;
  cut_lines(&send_system);
  return 0;
}

int SysLogStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  return sputc(traits_type::to_char_type(c));
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int level) : SysLogStreamBuf(facility, level) {
  setbuf(new char[SysLogManager::kCapacity], SysLogManager::kCapacity);
}

int ManagedSysLogStreamBuf::sync() {
  if (!pbase()) return 0;
  cut_lines(&send_managed);
  syslogManager.sendmsg();
  return 0;
}
