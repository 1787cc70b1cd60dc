#pragma once
// The stand-in's "/dev/rtp": the RTP engine. Each open file is one media
// session: it is begun with the connection record, gets a TDM channel from
// the engine's pool (or the one it asks for), switches its input stream on
// and off, keeps its packet-detection setting, may be attached to another
// session (named by a process's descriptor of it) and records the teardown
// steps it receives. Closing the last dup frees the channel. Tests inject
// 36-byte event records into the session of a channel.
//
// The driver's records are in host byte order (the connection record's
// addresses in network order), as the daemon lays them out.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/Model.h"

namespace Board {

class Rtp : public Model {
 public:
  // Request words (type 'R').
  static constexpr uint32_t kBegin = 0xC02C5200;       // 44-byte connection record
  static constexpr uint32_t kAddChannel = 0xC0105202;  // {tdm, dev_no, chn, bss} -> tdm given
  static constexpr uint32_t kTeardown2 = 0x20005203;
  static constexpr uint32_t kInputOn = 0x20005204;
  static constexpr uint32_t kInputOff = 0x20005205;
  static constexpr uint32_t kAttach = 0xC0085209;      // {fd of a "/dev/rtp" session, its pid or -1}
  static constexpr uint32_t kTeardown1 = 0x2000520A;
  static constexpr uint32_t kTeardown3 = 0x2000520B;
  static constexpr uint32_t kSetPd = 0xC024520C;       // nine words {1, 0, timeout, 0, 0, timeout, 0, 0, 0}
  static constexpr uint32_t kResetPd = 0x8004520D;     // {1}
  static constexpr size_t kEventSize = 36;             // {type, value, timeout, 6 words}
  // The engine's TDM channels: above every trunk and shared bus channel,
  // below the HDLC controller's.
  static constexpr int32_t kFirstChannel = 12288;
  static constexpr unsigned kMaxChannels = 4096;

  // The connection record as the engine read it.
  struct Connection {
    uint32_t dstAddr = 0, srcAddr = 0;  // network byte order
    uint16_t dstPort = 0, srcPort = 0;
    uint16_t rxPt = 0, txPt = 0, packetFactor = 0;
    uint8_t vad = 0, rate = 0;
    uint32_t ssrc = 0;
    int32_t ttl = 0, tos = 0;
  };
  struct SessionInfo {
    unsigned session = 0;
    bool begun = false;
    Connection connection;
    int32_t channel = -1;  // -1 before the channel was added
    uint32_t bss = 0;
    bool inputOn = false;
    bool pd = false;
    uint32_t pdTimeout = 0;
    std::vector<uint32_t> teardown;  // the teardown words in the order received
    unsigned attached = 0;           // the session this one is attached to; 0: none
  };

  explicit Rtp(StandIn& board);

  // For tests; each takes the board's lock and first brings the board up to
  // date (StandIn::sync), so that sessions the daemon closed are gone.
  std::vector<SessionInfo> sessions();
  // The session holding the channel; false when none does.
  bool session(int32_t channel, SessionInfo& out);
  // Queues an event record {type, value, timeout, 0...} for the daemon to
  // read on the channel's session; false when no session holds it.
  bool inject(int32_t channel, uint32_t type, uint32_t value, uint32_t timeout);
  // Queues any bytes as one record (a driver that misbehaves).
  bool injectRaw(int32_t channel, const std::string& bytes);
  // Fails the channel's session as a dying driver would: the daemon reads
  // an error.
  bool sever(int32_t channel);
  void setCapacity(unsigned channels);

  Reply request(Session& s, Request& r) override;
  // Channels freed by a close are back in the pool for the next request.
  bool syncBeforeRequest() const override { return true; }
  void closed(Session& s) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  struct State : Session::Data {
    SessionInfo info;
  };
  static State* of(Session& s) { return static_cast<State*>(s.data.get()); }
  Session* find(int32_t channel);
  bool injectLocked(int32_t channel, const std::string& record);
  Reply addChannel(Session& s, Request& r);
  Reply attach(Session& s, Request& r);

  unsigned capacity_ = 256;
  std::map<int32_t, Session*> channels_;  // TDM channel -> its session
};

}  // namespace Board
