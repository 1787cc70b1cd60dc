#pragma once
// The stand-in's "/dev/voice": the voice engine, as far as the daemon asks
// it anything: how many channels of a codec class it can still serve. The
// request's argument is the class (a host-order 32-bit word); its result is
// the capacity. A class the engine does not know answers 0. It also gives
// its driver's version: five host-order 32-bit words.
#include <cstdint>
#include <map>

#include "board/Model.h"

namespace Board {

class Voice : public Model {
 public:
  static constexpr uint32_t kCapacity = 0x40045602;  // {class} -> result = capacity
  static constexpr uint32_t kVersion = 0x4014560A;   // -> five version words

  explicit Voice(StandIn& board);

  // For tests; each takes the board's lock. A negative capacity makes the
  // request fail with EINVAL for that class.
  void setCapacity(int32_t codecClass, int capacity);
  int capacity(int32_t codecClass) const;
  // The version words the driver gives.
  void setVersion(const uint32_t (&words)[5]);

  Reply request(Session& s, Request& r) override;
  std::string describe(const LogEntry& e) const override;
  bool command(const std::vector<std::string>& args, std::ostream& out) override;
  void help(std::ostream& out) const override;

 private:
  int capacityLocked(int32_t codecClass) const;
  // Classes 4, 2, 1, 8 and 65: G.729, G.723, G.711, G.711 on the HDLC
  // controller, any codec.
  uint32_t version_[5] = {1, 0, 0, 0, 0};
  std::map<int32_t, int> capacity_ = {{4, 32}, {2, 32}, {1, 64}, {8, 64}, {65, 64}};
};

}  // namespace Board
