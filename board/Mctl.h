#pragma once
// The stand-in's "/dev/mctl": the modem DSPs. The factory enumerates the
// modems (0xBB0C from -1 until ENODEV); a slot allocates one on its open
// file (0xBB0B), learns its switch channel (0xBB15), sets its data modes
// (0xBB16), its parameters (0xBB3A resets, 0xBB38 sets one) and its mode
// (0xBB03 answer, 0xBB04 originate, 0xBB40 fax originate). The last close
// of the file frees the modem. The words carry no size bits: the record
// sizes are the driver's own.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/Model.h"

namespace Board {

class Mctl : public Model {
 public:
  static constexpr uint32_t kAnswer = 0xBB03;
  static constexpr uint32_t kOriginate = 0xBB04;
  static constexpr uint32_t kAllocate = 0xBB0B;
  static constexpr uint32_t kEnumerate = 0xBB0C;
  static constexpr uint32_t kChannel = 0xBB15;
  static constexpr uint32_t kDataModes = 0xBB16;
  static constexpr uint32_t kSetParam = 0xBB38;
  static constexpr uint32_t kResetParams = 0xBB3A;
  static constexpr uint32_t kFaxOriginate = 0xBB40;
  // Switch channels of the modems: above the controller channels.
  static constexpr uint32_t kFirstChannel = 24576;
  static constexpr unsigned kMaxModems = 256;

  struct Modem {
    unsigned number = 0;
    uint32_t channel = 0;
    unsigned session = 0;
    uint32_t mask = 0;
    bool maskSet = false;
    std::vector<std::pair<int32_t, int32_t>> params;  // {offset, value} in order
    std::string mode;  // "", "answer", "originate", "fax-originate"
  };

  explicit Mctl(StandIn& board);

  // For tests, under the board's lock.
  std::vector<Modem> modems();
  void setCount(unsigned n);

  Reply request(Session& s, Request& r) override;
  bool syncBeforeRequest() const override { return true; }
  void closed(Session& s) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  struct Held : Session::Data {
    unsigned modem = 0;
  };
  Modem* held(Session& s);
  static void print(std::ostream& out, const Modem& m);

  unsigned count_ = 8;
  std::map<unsigned, Modem> allocated_;  // by number
};

}  // namespace Board
