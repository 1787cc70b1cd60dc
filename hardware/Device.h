#pragma once
// The daemon's one way to the board's character devices ("/dev/hal",
// "/dev/mcc/ctl", ...). Everything above it works on plain descriptors and
// never knows whether a real driver or the stand-in board answers:
//
// - on the board, the calls are ::open (of the fixed path placed under
//   Root::path), ::read, ::write, ::close and ::ioctl with the driver's own
//   request words;
// - with QUORVAD_BOARD=standin (read once), an open gives a socket served by
//   the stand-in board of this process (board/StandIn.h); reads, writes,
//   poll and dup work on it unchanged, so the event loop can watch it, and
//   dups stay one device session.
//
// Descriptor 0 is a valid device descriptor like any other: a failed open
// is -1, nothing else.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "runtime/ByteOrder.h"

namespace Device {

// Opens the device at its board path (such as "/dev/hal") with open(2)
// flags; a descriptor, or -1 with errno.
int open(const char* path, int flags);
int close(int fd);
// One read is one event record or one frame. End of file on a device that
// the stand-in cut reads as -1 with EIO, as a failing driver would answer.
ssize_t read(int fd, void* buf, size_t size);
// One write is one frame. A device that went away gives -1 with EPIPE,
// never a SIGPIPE.
ssize_t write(int fd, const void* buf, size_t size);

// A driver request whose argument is the value itself (also the requests
// that take no argument: pass 0). The driver's result, or -1 with errno.
int requestValue(int fd, uint32_t word, long value);
// A driver request whose argument points at a record of size bytes, which
// the driver may fill. The size is what the driver expects, also for words
// that carry no size bits. The driver's result, or -1 with errno.
int requestRecord(int fd, uint32_t word, void* record, size_t size);

// The network interfaces' requests (SIOCGIFFLAGS, SIOCWANDEV... on hdlcN):
// a socket to issue them on (a UDP socket on the board), or -1 with errno.
int netSocket();
// One interface request on a netSocket(). ifr is the system's struct ifreq
// (size bytes); for SIOCWANDEV, settings (settingsSize bytes, in and out)
// is what its settings header points at, and the header's pointer is set
// here. The request's result, or -1 with errno.
int netRequest(int sock, unsigned long word, void* ifr, size_t size, void* settings = nullptr,
               size_t settingsSize = 0);

// Whether the stand-in board answers (QUORVAD_BOARD=standin).
bool standIn();
// Reads QUORVAD_BOARD again; for tests that change the environment.
void reload();

// Big-endian 32-bit words, the byte order of the board's records.
using ByteOrder::getBE32;
using ByteOrder::putBE32;

}  // namespace Device
