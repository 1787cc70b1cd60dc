#pragma once
// The voice engine's capacity per codec class, as the RTP factories report
// it in the resources: one request ('V' 2) per class on "/dev/voice".
#include <cstdint>
#include <string>

#include "protocol/LGCP/LGCPFwd.h"

struct VoiceCapacity {
  static constexpr uint32_t kRequest = 0x40045602;  // a codec class in, the channels left as the result
  enum CodecClass : int32_t { classG729 = 4, classG723 = 2, classG711 = 1, classG711mcc = 8, classUniversal = 65 };

  uint32_t g729 = 0;
  uint32_t g723 = 0;
  uint32_t g711 = 0;
  uint32_t g711mcc = 0;
  uint32_t universal = 0;

  // Asks the engine for every class: a positive answer becomes that count,
  // any other leaves it as it is. A device that cannot be opened is said
  // after the header on the error log, and changes nothing.
  void query(std::string const& header);
  // The five counts into the resources report.
  void report(LGCP::Resources& r) const;
};
