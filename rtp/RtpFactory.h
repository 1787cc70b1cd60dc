#pragma once
// The maker of plain voice RTP slots: it takes the `rtp` create parameters
// that carry no radio request (the radio factories take those) and reports
// the voice engine's codec capacity in the resources.
#include <cstdint>
#include <ostream>

#include "slots/SlotFactory.h"

class RtpFactory : public SlotFactory {
 public:
  // The voice engine's capacity request: a codec class in, the number of
  // channels it can still serve as the result.
  static constexpr uint32_t kVoiceCapacity = 0x40045602;
  // Codec classes of the engine.
  enum CodecClass : int32_t { classG729 = 4, classG723 = 2, classG711 = 1, classG711mcc = 8, classUniversal = 65 };

  static RtpFactory& instance();

  const char* GetName() const override { return "RTP"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // "rtp[<g723>,<g729>,<g711>,<universal>]: "
  std::ostream& PutHeader(std::ostream& os) const;

  uint32_t g729 = 0;
  uint32_t g723 = 0;
  uint32_t g711 = 0;
  uint32_t g711mcc = 0;
  uint32_t universal = 0;

 private:
  RtpFactory();
  void IQuery();
};
