#pragma once
// The stand-in's "/dev/mcc/ctl": the multi-channel HDLC controller. Each
// open file may allocate one controller channel of a type (pools with
// capacities), learns its switch channel, then writes one frame per write
// (captured here) and reads one received frame per read (injected here,
// never longer than the channel's rxPacketSize). Closing the last dup frees
// the channel.
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "board/Model.h"

namespace Board {

class Mcc : public Model {
 public:
  static constexpr uint32_t kAllocate = 0x40144D00;  // {type, rxPacketSize, reserved, rxThreshold, txThreshold}
  static constexpr uint32_t kTimeslot = 0x20004D02;  // no argument; result = switch channel
  static constexpr uint32_t kCounts = 0x80104D03;    // -> {data, bri, transparent, ss7} free channels
  enum Type : uint32_t { Data = 0, Bri = 1, Transparent = 2, Ss7 = 3, Types = 4 };
  // Switch channels of controller channels: above every trunk (< 8192) and
  // shared bus (8192-10239) channel.
  static constexpr uint32_t kFirstChannel = 16384;
  static constexpr uint32_t kChannelRange = 4096;
  // Largest receive unit a channel may ask for.
  static constexpr uint32_t kMaxPacket = 65536;

  struct Params {
    uint32_t type = 0, rxPacketSize = 0, reserved = 0, rxThreshold = 0, txThreshold = 0;
  };
  struct Allocation {
    uint32_t channel;
    unsigned session;
    Params params;
    size_t captured;  // frames the daemon sent, not yet taken
    size_t pending;   // frames waiting to be read by the daemon
    bool draining;
  };

  explicit Mcc(StandIn& board);

  // For tests; each takes the board's lock and first brings the board up to
  // date (StandIn::sync), so what the daemon did before is seen.
  std::vector<Allocation> allocations();
  // Frames the daemon sent on the channel, oldest first; take removes them.
  std::vector<std::string> captured(uint32_t channel, bool take = false);
  // Queues bytes for the daemon to read, cut into units of rxPacketSize;
  // false when no channel has that number or bytes is empty.
  bool inject(uint32_t channel, const std::string& bytes);
  // Stops or resumes taking the daemon's frames (write back-pressure).
  bool setDraining(uint32_t channel, bool on);
  // Fails the channel as a dying driver would: the daemon reads an error.
  bool sever(uint32_t channel);
  // Joins two channels back to back, as a line between two D channels:
  // what the daemon writes on one it reads on the other (and nothing is
  // captured). false when either channel is missing.
  bool join(uint32_t a, uint32_t b);
  // Loses every n-th frame the daemon writes on the channel (0: none).
  bool dropEvery(uint32_t channel, unsigned n);
  // Frames lost so far on the channel.
  unsigned long dropped(uint32_t channel);
  // Loops two trunk time-slots (switch channels, 32 x trunk + time-slot)
  // back to back, as a line between two trunks: what a controller channel
  // sends into one (the time-slot listens to it) reaches the controller
  // channel that listens to the other, in both directions. Each way, every
  // lose-th unit carried is lost, and every corrupt-th arrives damaged,
  // fails the receiving controller's frame check and is dropped there
  // (0: none). A channel in SS7 mode repeats its last unit while it has
  // nothing new to send, so on its line a unit that did not arrive is
  // followed by its repetition: the lost FISU or LSSU itself, or a FISU
  // with the sequence octets of the lost MSU. For the same reason a looped
  // time-slot that starts to hear a channel in SS7 mode carries that
  // repetition of the channel's last unit at once. Looping a time-slot
  // again changes its damage and keeps its counts.
  bool loop(uint32_t a, uint32_t b, unsigned lose = 0, unsigned corrupt = 0);
  // Ends the loop of a time-slot (and of its other end).
  void unloop(uint32_t a);
  struct LineStats {
    uint32_t from, to;  // time-slots, the direction counted
    unsigned lose, corrupt;
    unsigned long carried, lost, corrupted;
  };
  std::vector<LineStats> lines();
  void setCapacity(Type t, unsigned n);
  unsigned capacity(Type t);
  unsigned used(Type t);

  Reply request(Session& s, Request& r) override;
  // Channels freed by a close are back in their pool for the next request.
  bool syncBeforeRequest() const override { return true; }
  void received(Session& s, std::string&& frame) override;
  void closed(Session& s) override;
  // For the switch, with the board's lock held: the time-slot now listens
  // to the source channel.
  void heardLocked(uint32_t timeslot, uint32_t source);
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  struct Channel : Session::Data {
    Params params;
    uint32_t channel = 0;
    std::deque<std::string> captured;
    bool joined = false;
    uint32_t peer = 0;          // joined: the channel that reads our frames
    unsigned dropEvery = 0;
    unsigned long written = 0;  // frames the daemon wrote
    unsigned long dropped = 0;
    std::string last;  // SS7 mode: the last unit, which the channel repeats
  };
  // One direction of a looped line, kept by the time-slot it starts from.
  struct Line {
    uint32_t to = 0;
    unsigned lose = 0, corrupt = 0;
    unsigned long carried = 0, lost = 0, corrupted = 0;
  };
  static Channel* of(Session& s) { return static_cast<Channel*>(s.data.get()); }
  Session* find(uint32_t channel);
  // Carries a frame of the session's channel over a looped line; false
  // when the channel sends into no looped time-slot.
  bool overLineLocked(Session& s, std::string& frame);
  // Loops a and b; an error text, or empty.
  std::string loopLocked(uint32_t a, uint32_t b, unsigned lose, unsigned corrupt);
  // The controller channel that listens to the time-slot, or null.
  Session* listenerLocked(uint32_t timeslot);
  bool injectLocked(uint32_t channel, const std::string& bytes);

  unsigned capacity_[Types] = {32, 16, 64, 32};
  unsigned used_[Types] = {};
  std::map<uint32_t, Session*> channels_;  // switch channel -> its session
  std::map<uint32_t, Line> lines_;         // time-slot -> its way over the loop
  unsigned long unallocatedWrites_ = 0;
};

}  // namespace Board
