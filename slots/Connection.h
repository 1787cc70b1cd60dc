#pragma once
// The media graph's operations: the logical links of Slot, the hardware
// paths and the stream signals kept in step.
//
// Connect and Disconnect are what the controller's commands do.
// llConnect and llDisconnect choose which of the two slots makes or breaks
// the hardware path (the one of the higher connection priority; with equal
// priorities the sink makes it and the source breaks it). MuxConnect and
// MuxDisconnect are the default hardware path: a connection on the TDM
// switch from the source's transmit channel to the sink's receive channel.
class Slot;

// The number of slot numbers.
constexpr unsigned MaxSlots = 1024;
// The first switch channel of the shared buses (bus b channel c is
// SharedChannelsBase + 128b + c).
constexpr int SharedChannelsBase = 8192;

// Makes src the source of dst, replacing an earlier source. On a failed
// re-connection dst keeps its old source only with its old path back;
// when that path cannot be made again either, dst is left without source.
bool Connect(Slot& src, Slot& dst);
// Removes the source of dst; false when the hardware path could not be
// broken (the logical link is gone all the same).
bool Disconnect(Slot& dst);
bool llConnect(Slot& src, Slot& dst);
bool llDisconnect(Slot& dst);
bool MuxConnect(Slot& src, Slot& dst);
bool MuxDisconnect(Slot& dst);
