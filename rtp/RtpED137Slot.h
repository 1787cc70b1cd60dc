#pragma once
// The ED-137 radio slots: RTP extension slots whose radio control speaks
// R2S. The gateway slot, the one a create builds, owns a gateway control
// that makes the board the radio end of the session and keeps its
// keep-alive running on the control's timer.
#include <memory>

#include "rtp/ED137RadioControl.h"
#include "rtp/RtpExtSlot.h"

class RtpED137Slot : public RtpExtSlot {
 public:
  using RtpExtSlot::RtpExtSlot;
  const char* GetName() const override { return "rtp ext ed137"; }
};

class RtpED137RadioGWSlot : public RtpED137Slot {
 public:
  // Own session: the control creates a header-extension session of the
  // R2S profile and attaches it to this slot's RTP session.
  RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                      rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                      RTPSignalling::ED137RadioParams const& radio, int32_t bss = 0);
  // Unbinds, stops and deletes the control before the RTP slot goes.
  ~RtpED137RadioGWSlot() override;
  const char* GetName() const override { return "rtp ext ED137 (GW)"; }

 private:
  std::unique_ptr<RTPSignalling::ED137RadioGWControl> control;
};
