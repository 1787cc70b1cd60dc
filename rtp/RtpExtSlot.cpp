#include "rtp/RtpExtSlot.h"

RtpExtSlot::RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params,
                       rtp_ext_attach_session_params const&, rtp_ext_init_params const&, int32_t bss)
    : RtpSlot(channel, std::move(rtp), params, bss) {}

RtpExtSlot::RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const&,
                       int32_t bss)
    : RtpSlot(channel, std::move(rtp), params, bss) {}

RtpExtSlot::RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params,
                       rtp_attach_session_params const&, int32_t bss)
    : RtpSlot(channel, std::move(rtp), params, bss) {}

void RtpExtSlot::IAfterCreate() {
  RtpSlot::IAfterCreate();
  if (radioControl) radioControl->SendASNToChan(radioStatus);
}

bool RtpExtSlot::IBeforeDestroy() {
  if (radioControl) radioControl->RtpExtStop();
  RtpSlot::IBeforeDestroy();
  return true;
}

bool RtpExtSlot::Ioctl(LGCP::IoctlParams const& params) {
  if (!radioControl) return RtpSlot::Ioctl(params);
  bool result;
  if (params.rtpExt_isSelected()) {
    result = radioControl->SendASNToChan(params.get_rtpExt());
  } else {
    // A codec change begins the RTP session again on a new descriptor: the
    // signalling leaves the old session first and joins the new one after.
    bool codec = params.encoder_mode_isSelected() || params.decoder_mode_isSelected();
    if (codec) radioControl->RtpExtStop();
    result = RtpSlot::Ioctl(params);
    if (codec && result) {
      radioControl->SetAttachDescriptor(GetRtpFd());
      result = radioControl->RtpExtStart(false);
    }
  }
  if (transmissionDependOnSQU) FollowSquelch();
  return result;
}

void RtpExtSlot::FollowSquelch() {
  bool open = radioControl->GetSQU();
  if (open && !inputStreamOn)
    inputStream(true);
  else if (!open && inputStreamOn)
    inputStream(false);
}

void RtpExtSlot::RadioControlNotify(TERM::RtpRadioRequest const& request) { OnRtpRadioEvent(request); }

void RtpExtSlot::RadioControlNotify(int code) { OnAbort(code); }
