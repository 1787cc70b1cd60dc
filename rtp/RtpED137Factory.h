#pragma once
// The maker of ED-137 radio slots: it takes the `rtp` create parameters
// whose radio request carries an ED-137 status, opens the RTP session as
// every RTP factory does, and builds a gateway slot whose radio control
// speaks R2S in the session's header extensions. It reports the voice
// engine's codec capacity in the resources.
#include <cstdint>
#include <ostream>

#include "rtp/VoiceCapacity.h"
#include "slots/SlotFactory.h"

class RtpED137Factory : public SlotFactory, public VoiceCapacity {
 public:
  static RtpED137Factory& instance();

  const char* GetName() const override { return "RTP Ext ED137"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // "rtp ext ED137[<g723>,<g729>,<g711>,<universal>]: "
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  RtpED137Factory();
  // Every count afresh from the voice engine; 0 where it cannot tell.
  void IQuery();
};
