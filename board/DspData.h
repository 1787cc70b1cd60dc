#pragma once
// The stand-in's "/dev/dsp-data": the DSP's data channels, each one open
// file carrying one QSIG D channel. The D channel has a switch channel of
// its own (the time-slot request gives it), takes one frame per write
// (captured here) and gives one received frame per read (injected here).
// Each D channel may add up to three B channels, which get switch channels
// next to it: D-channel n has B channels n+1, n+2 and n+3.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "board/Model.h"

namespace Board {

class DspData : public Model {
 public:
  // Declares a 4-byte record but is issued without one; result = D channel.
  static constexpr uint32_t kTimeslot = 0x40044211;
  static constexpr uint32_t kAddB = 0x8008420F;     // {index 0-2, time-slot} -> time-slot filled in
  static constexpr uint32_t kRemoveB = 0x80044210;  // {index}
  static constexpr unsigned kBChannels = 3;
  // Switch channels of data channels: clear of every other device's.
  static constexpr uint32_t kFirstChannel = 32768;
  static constexpr unsigned kChannels = 256;
  // The largest frame a read gives.
  static constexpr size_t kMaxFrame = 512;

  struct Link {
    uint32_t channel;  // the D channel's switch channel
    unsigned session;
    bool b[kBChannels];
    size_t captured;
    size_t pending;
  };

  explicit DspData(StandIn& board);

  // For tests; each takes the board's lock and brings the board up to date.
  std::vector<Link> links();
  std::vector<std::string> captured(uint32_t channel, bool take = false);
  bool inject(uint32_t channel, const std::string& frame);
  // Every add and remove of a B channel, as "add CH B" / "remove CH B".
  std::vector<std::string> journal();

  int open(Session& s) override;
  Reply request(Session& s, Request& r) override;
  void received(Session& s, std::string&& frame) override;
  void closed(Session& s) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  struct Channel : Session::Data {
    uint32_t channel = 0;
    bool b[kBChannels] = {};
    std::deque<std::string> captured;
  };
  static Channel* of(Session& s) { return static_cast<Channel*>(s.data.get()); }
  Session* find(uint32_t channel);
  bool injectLocked(uint32_t channel, const std::string& frame);

  std::vector<Session*> byIndex_ = std::vector<Session*>(kChannels, nullptr);
  std::vector<std::string> journal_;
};

}  // namespace Board
