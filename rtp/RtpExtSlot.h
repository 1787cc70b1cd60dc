#pragma once
// An RTP slot that carries radio signalling beside the voice: it holds a
// radio control (rtp/RadioControl.h) and joins it to the controller. The
// controller's radio modifiers arrive as the `rtpExt` ioctl and go to the
// control; the control's reports come back through IRadioControlNotify and
// leave as `rtpExt` and `abort` signals. The protocol's slot builds its
// control and stores it here; this class never deletes it.
#include "protocol/TERM/TERM.h"
#include "rtp/RadioControl.h"
#include "rtp/RtpSlot.h"

class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
 public:
  // One form per session kind of the control; the records after the
  // connection record are the subclass's, which builds the control.
  RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params,
             rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init, int32_t bss = 0);
  RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_ext_init_params const& init,
             int32_t bss = 0);
  RtpExtSlot(int channel, Fd rtp, rtp_connection_params const& params, rtp_attach_session_params const& attach,
             int32_t bss = 0);

  // The create's radio status, handed to the control after the create.
  void SetRadioStatus(TERM::RadioStatus const& status) { radioStatus = status; }

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  const char* GetName() const override { return "rtp ext"; }

  void RadioControlNotify(TERM::RtpRadioRequest const& request) override;
  void RadioControlNotify(int code) override;

  RTPSignalling::RadioControl* GetRadioControl() const { return radioControl; }

 protected:
  TERM::RadioStatus radioStatus;
  RTPSignalling::RadioControl* radioControl = nullptr;

 private:
  // With transmission following the squelch: the input stream on while the
  // radio's squelch is open, off while it is closed.
  void FollowSquelch();
};
