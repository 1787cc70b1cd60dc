#include "rtp/VoiceCapacity.h"

#include <iostream>
#include <utility>

#include "hardware/Device.h"
#include "hardware/Utils.h"
#include "protocol/LGCP/LGCP.h"
#include "runtime/Fd.h"

void VoiceCapacity::query(std::string const& header) {
  int fd = Device::open(GetVoiceDevName(), 0);
  if (fd < 0) {
    Errno e;
    std::cerr << header << "device \"" << GetVoiceDevName()
              << "\" open fail: " << e << std::endl;
    return;
  }
  Fd voice(fd);
  const std::pair<int32_t, uint32_t*> counts[] = {
      {classG729, &g729}, {classG723, &g723}, {classG711, &g711}, {classG711mcc, &g711mcc}, {classUniversal, &universal}};
  for (auto const& c : counts) {
    int32_t codecClass = c.first;
    int n = Device::requestRecord(voice.lowlevel_fd(), kRequest, &codecClass, sizeof codecClass);
    if (n > 0) *c.second = uint32_t(n);
  }
}

void VoiceCapacity::report(LGCP::Resources& r) const {
  r.set_rtp_g729(int(g729));
  r.set_rtp_g723(int(g723));
  r.set_rtp_g711(int(g711));
  r.set_rtp_g711mcc(int(g711mcc));
  r.set_universal(int(universal));
}
