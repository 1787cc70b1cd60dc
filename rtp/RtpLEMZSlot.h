#pragma once
// The LEMZ radio slots: RTP extension slots that own a LEMZ radio control.
// The gateway slot (the one a create builds) owns a gateway control with
// its status cycle; the workstation slot, its mirror, no request builds.
#include <memory>

#include "rtp/LemzRadioControl.h"
#include "rtp/RtpExtSlot.h"

class RtpLEMZSlot : public RtpExtSlot {
 public:
  using RtpExtSlot::RtpExtSlot;
  // Unbinds, stops and deletes the control before the RTP slot goes.
  ~RtpLEMZSlot() override;
  const char* GetName() const override { return "rtp ext LEMZ"; }

 protected:
  void Own(RTPSignalling::LemzRadioControl* control, bool timer, RTPSignalling::RadioControl::RadioControlMode mode);

 private:
  std::unique_ptr<RTPSignalling::LemzRadioControl> control;
};

class RtpLEMZRadioGWSlot : public RtpLEMZSlot {
 public:
  // Own session: the control creates a header-extension session and
  // attaches it to this slot's RTP session; timer: the status cycle runs.
  RtpLEMZRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init, bool timer,
                     int32_t bss = 0);
  // Extension only: a session that is not attached.
  RtpLEMZRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init,
                     int32_t bss = 0);
  // Attach: the signalling of another process's RTP session.
  RtpLEMZRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach, int32_t bss = 0);
  const char* GetName() const override { return "rtp ext LEMZ (GW)"; }
};

class RtpLEMZRadioWSSlot : public RtpLEMZSlot {
 public:
  RtpLEMZRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init, int32_t bss = 0);
  RtpLEMZRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init,
                     int32_t bss = 0);
  RtpLEMZRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                     rtp_attach_session_params const& attach, int32_t bss = 0);
  const char* GetName() const override { return "rtp ext LEMZ (WS)"; }
};
