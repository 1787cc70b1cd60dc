#pragma once
// The stand-in's "/dev/rtp_ext": the RTP header-extension channel. Each open
// file may create one extension session (with its profile), attach it to an
// RTP session of this process ("/dev/rtp", named by its descriptor number),
// and set a source filter. What the daemon writes is one extension packet
// per write; what a test injects (with the sender's SSRC and address) is
// read one packet per read, after the next-packet request has described it.
// A journal keeps the packets both ways.
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "board/Model.h"

namespace Board {

class RtpExt : public Model {
 public:
  static constexpr uint32_t kCreate = 0xC0144500;      // {u16 etype, u16 0, 4 words}
  static constexpr uint32_t kAttach = 0xC0084501;      // {fd of a "/dev/rtp" session, pid or -1}
  static constexpr uint32_t kDetach = 0x20004502;      // pointer as value
  static constexpr uint32_t kPacketInfo = 0xC00C4503;  // -> {ssrc, IPv4 network order, 0}
  static constexpr uint32_t kSetFilter = 0xC0084504;   // {IPv4 network order, 0}
  static constexpr uint32_t kClearFilter = 0x20004505; // pointer as value
  // The RTP device whose sessions an attach names.
  static constexpr const char* kRtpPath = "/dev/rtp";
  // Largest packet either way.
  static constexpr size_t kMaxPacket = 1024;
  // Packets a session's journal keeps, the newest.
  static constexpr size_t kJournalLimit = 10000;

  enum class Way { Out, In, Dropped };
  struct Packet {
    Way way;
    uint64_t usec;   // wall clock
    uint32_t ssrc;   // In and Dropped: the sender
    uint32_t addr;   // IPv4, network order
    std::string bytes;
    std::string text() const;
  };
  struct Info {
    unsigned session;
    bool created;
    uint16_t etype;
    uint32_t params[4];
    unsigned rtpSession;  // 0: not attached
    bool filter;
    uint32_t filterAddr;
    size_t waiting;  // injected packets not yet read
    size_t journal;
  };

  explicit RtpExt(StandIn& board);

  // For tests; each takes the board's lock after bringing it up to date.
  std::vector<Info> sessions();
  // A packet from a sender for the daemon to read on a created session.
  // False when there is no such session, it has no extension session yet,
  // the packet is empty or too long, or the source filter drops it (the
  // journal then says so).
  bool inject(unsigned session, uint32_t ssrc, uint32_t addr, const std::string& bytes);
  // The session's journal, oldest first; take empties it.
  std::vector<Packet> journal(unsigned session, bool take = false);

  int open(Session& s) override;
  Reply request(Session& s, Request& r) override;
  void received(Session& s, std::string&& frame) override;
  void closed(Session& s) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  struct Pending {
    uint32_t ssrc, addr;
    bool described;
  };
  struct Channel : Session::Data {
    bool created = false;
    uint16_t etype = 0;
    uint32_t params[4] = {};
    unsigned rtpSession = 0;
    bool filter = false;
    uint32_t filterAddr = 0;
    std::deque<Pending> pending;  // delivered packets, in the order of the reads
    std::deque<Packet> journal;
  };
  static Channel* of(Session& s) { return static_cast<Channel*>(s.data.get()); }
  Session* find(unsigned session);
  Reply attach(Session& s, Request& r);
  Reply packetInfo(Session& s, Request& r);
  // Journals the packet and hands it to the daemon unless the filter drops it.
  bool injectLocked(Session& s, uint32_t ssrc, uint32_t addr, const std::string& bytes);

  std::map<unsigned, Session*> open_;  // by session id
  unsigned long strayWrites_ = 0;      // written before a session was created
};

}  // namespace Board
