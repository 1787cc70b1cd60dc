#pragma once
// The daemon's own client of the local system log ("/dev/log" under the
// root, see runtime/Root.h) and the stream buffers that turn every line
// flushed on a stream into one system-log message.
//
// SysLogManager formats each message itself: "<pri>Mmm dd hh:mm:ss " (the
// loop clock's second, local time), the identity, "[pid]" with LOG_PID,
// ": " and the text, at most 1023 characters. Messages are queued in a
// batch, each with its terminating zero, and the batch leaves in one
// sendmsg(): on a datagram socket one datagram holds every message of a
// stream flush, one after another. A batch goes early past 12288 bytes or
// at 256 messages.
//
// Sends never wait: a receiver that stops reading costs the batch, never a
// stall of the loop. A failed send drops the batch; the next message
// reconnects.
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <syslog.h>

#include <cstdint>
#include <streambuf>
#include <string>

class SysLogManager {
public:
  static const unsigned int kCapacity = 16384;
  static const unsigned int kHighWater = kCapacity / 4 * 3;
  static const int kMaxPieces = 256;
  static const unsigned int kMessageSize = 1024;
  static const socklen_t kAddressLength = sizeof(sockaddr_un);

  SysLogManager();
  ~SysLogManager() = default;
  SysLogManager(const SysLogManager&) = delete;
  SysLogManager& operator=(const SysLogManager&) = delete;

  // ident null keeps the identity; facility 0 (or one with bits outside
  // the facility field) keeps the default facility. With LOG_NDELAY the
  // socket is made and connected at once; a stream socket is tried when
  // "/dev/log" refuses the datagram kind, and the other way round.
  void openlog(const char* ident, int options, int facility);
  void closelog();
  // Formats and queues one message; the batch leaves at the high-water
  // mark, at 256 messages or at the next sendmsg().
  void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Sends the queued messages in one call and empties the batch whatever
  // the result; the system call's result, 0 when nothing was sent. A
  // failed send closes the socket: the next message reconnects.
  int sendmsg();
  int fd() const { return fd_; }

  // Bit n set: messages of level n are sent. Returns the previous mask.
  int setlogmask(int mask);

  bool connected() const { return connected_; }
  int socket_type() const { return type_; }
  unsigned int queued_bytes() const { return batch_length_; }
  int queued_messages() const { return count_; }
  const std::string& identity() const { return ident_; }

private:
  int sendmsg_internal(void* data, unsigned int length);
  // The send itself; leaves the socket as it is, so that syslog() can
  // retry the message that triggered it on a fresh connection.
  int send_batch();
  void close_socket();

  int type_ = SOCK_DGRAM;
  int fd_ = -1;
  bool connected_ = false;
  int options_ = 0;
  std::string ident_;
  int facility_ = LOG_USER;
  int mask_ = 255;
  sockaddr_un address_;
  char message_[kMessageSize];
  char batch_[kCapacity];
  std::uint32_t batch_length_ = 0;
  msghdr header_;
  iovec pieces_[kMaxPieces];
  int count_ = 0;
};

// The process's client, built before any static initialisation that
// includes this header and never destroyed, so that the streams' last
// flush at exit still finds it.
extern SysLogManager& syslogManager;

namespace detail {
struct SysLogManagerInit {
  SysLogManagerInit();
};
static SysLogManagerInit sysLogManagerInit;
}  // namespace detail

// Cuts stream output into lines, each one system-log message at the
// buffer's priority through the system library's syslog. A flush sends
// every complete line and the text after the last line end; text without
// a line end waits for more unless the buffer is full. Unflushed text is
// lost at destruction.
class SysLogStreamBuf : public std::streambuf {
public:
  // facility 0..23, level 0 (emergency) .. 7 (debug).
  SysLogStreamBuf(int facility, int level);
  ~SysLogStreamBuf() override;
  SysLogStreamBuf(const SysLogStreamBuf&) = delete;
  SysLogStreamBuf& operator=(const SysLogStreamBuf&) = delete;

  int priority() const { return priority_; }

protected:
  // Below a size of 2 nothing happens; otherwise a flush, then the area
  // (now owned) becomes the put area with size - 1 usable bytes.
  std::streambuf* setbuf(char* area, std::streamsize size) override;
  int sync() override;
  int overflow(int c) override;

  // The line cutting of sync(), each line handed to send(priority, line);
  // false when the text was kept for later.
  bool cut_lines(void (*send)(int, const char*));

private:
  int priority_;
  char* buffer_ = nullptr;
};

// The same through syslogManager: the lines of one flush leave together.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
public:
  ManagedSysLogStreamBuf(int facility, int level);

protected:
  int sync() override;
};
