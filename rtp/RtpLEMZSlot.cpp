#include "rtp/RtpLEMZSlot.h"

namespace {

using RTPSignalling::LemzRadioGWControl;
using RTPSignalling::LemzRadioWSControl;
using RTPSignalling::RadioControl;

// The attach names the slot's own RTP descriptor, whatever number the
// factory's copy had: that copy is closed once the slot exists.
rtp_ext_attach_session_params ownSession(rtp_ext_attach_session_params a, int fd) {
  a.fd_rtp = fd;
  return a;
}

}  // namespace

void RtpLEMZSlot::Own(RTPSignalling::LemzRadioControl* c, bool timer, RadioControl::RadioControlMode mode) {
  control.reset(c);
  radioControl = c;
  c->Bind(this);
  c->SetDebug(false);
  c->SetTimerEnable(timer);
  c->SetRadioControlMode(mode);
}

RtpLEMZSlot::~RtpLEMZSlot() {
  if (!control) return;
  control->UnBind();
  control->SetTimerEnable(false);
  radioControl = nullptr;
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                       bool timer, int32_t bss)
    : RtpLEMZSlot(channel, std::move(rtp), params, attach, init, bss) {
  Own(new LemzRadioGWControl(channel, ownSession(attach, GetRtpFd()), init), timer, RadioControl::Gateway);
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init, int32_t bss)
    : RtpLEMZSlot(channel, std::move(rtp), params, init, bss) {
  Own(new LemzRadioGWControl(init), false, RadioControl::Gateway);
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach, int32_t bss)
    : RtpLEMZSlot(channel, std::move(rtp), params, attach, bss) {
  Own(new LemzRadioGWControl(channel, Fd(rtpFd), attach), false, RadioControl::Gateway);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                       int32_t bss)
    : RtpLEMZSlot(channel, std::move(rtp), params, attach, init, bss) {
  Own(new LemzRadioWSControl(channel, ownSession(attach, GetRtpFd()), init), false, RadioControl::Workstation);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init, int32_t bss)
    : RtpLEMZSlot(channel, std::move(rtp), params, init, bss) {
  Own(new LemzRadioWSControl(init), false, RadioControl::Workstation);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int channel, Fd rtp, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach, int32_t bss)
    : RtpLEMZSlot(channel, std::move(rtp), params, attach, bss) {
  Own(new LemzRadioWSControl(channel, Fd(rtpFd), attach), false, RadioControl::Workstation);
}

