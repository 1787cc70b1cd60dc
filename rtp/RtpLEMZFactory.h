#pragma once
// The maker of LEMZ radio slots: it takes the `rtp` create parameters
// whose radio request has the `lemz` status, opens the RTP session as the
// plain factory does (without SO_REUSEADDR on the RTCP socket, and with the
// radio's best-signal selection), builds a gateway slot with its radio
// control and applies the radio's DSP settings.
#include <cstdint>
#include <ostream>

#include "rtp/VoiceCapacity.h"
#include "slots/SlotFactory.h"

class RtpLEMZFactory : public SlotFactory, public VoiceCapacity {
 public:
  // The header-extension profile of LEMZ signalling.
  static constexpr uint16_t kProfile = 0x1337;

  static RtpLEMZFactory& instance();

  const char* GetName() const override { return "RTP Ext LEMZ"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // "rtp ext LEMZ[<g723>,<g729>,<g711>,<universal>]: "
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  RtpLEMZFactory();
  // Every count afresh from the voice engine; 0 where it cannot tell.
  void IQuery();
};
