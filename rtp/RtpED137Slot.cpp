#include "rtp/RtpED137Slot.h"

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                         rtp_ext_attach_session_params const& attach,
                                         rtp_ext_init_params const& init, RTPSignalling::ED137RadioParams const& radio,
                                         int32_t bss)
    : RtpED137Slot(channel, std::move(rtp), params, attach, init, bss) {
  // The attach names the slot's own RTP descriptor, whatever number the
  // factory's copy had: that copy is closed once the slot exists.
  rtp_ext_attach_session_params own = attach;
  own.fd_rtp = GetRtpFd();
  control.reset(new RTPSignalling::ED137RadioGWControl(channel, own, init));
  radioControl = control.get();
  control->SetParams(radio);
  control->Bind(this);
  control->SetDebug(false);
  control->SetTimerInterval(radio.keepAlivePeriod * radio.keepAliveMultiplier / 2);
  control->SetTimerEnable(true);
  control->SetRadioControlMode(RTPSignalling::RadioControl::Gateway);
}

RtpED137RadioGWSlot::~RtpED137RadioGWSlot() {
  control->UnBind();
  control->SetTimerEnable(false);
  radioControl = nullptr;
}
