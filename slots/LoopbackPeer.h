#pragma once
// Which process is at the other end of a TCP connection made on this
// machine: the far end's socket, found by its addresses in the system's
// table of TCP sockets (of the network the caller is in), and whether a
// process or one of its descendants has that socket open. Both come from
// the system's /proc, which is no board file and so not under the root.

namespace LoopbackPeer {

// The inode of the socket at the far end of the connected IPv4 socket fd,
// when that end is on this machine; 0 when it cannot be found.
unsigned long inode(int fd);

// Whether process pid, or a process descended from it, has the socket with
// this inode open.
bool heldBy(int pid, unsigned long inode);

}  // namespace LoopbackPeer
