#pragma once
// The maker of plain voice RTP slots: it takes the `rtp` create parameters
// that carry no radio request (the radio factories take those) and reports
// the voice engine's codec capacity in the resources.
#include <cstdint>
#include <ostream>

#include "rtp/VoiceCapacity.h"
#include "slots/SlotFactory.h"

class RtpFactory : public SlotFactory, public VoiceCapacity {
 public:
  static RtpFactory& instance();

  const char* GetName() const override { return "RTP"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // "rtp[<g723>,<g729>,<g711>,<universal>]: "
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  RtpFactory();
  void IQuery();
};
