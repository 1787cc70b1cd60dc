#pragma once
// Shared bits of the hardware layer: the paths of the board's character
// devices (every user opens its device through these, so the paths live in
// one place), the texts of codec numbers and RTP error codes, and log
// printers of the RTP driver's records.
#include <ostream>

#include "hardware/RtpDriver.h"

char const* GetVoiceDevName();
char const* GetMixerDevName();
char const* GetDTMFDevName();
char const* GetDSPDevName();
char const* GetRtpDevName();
char const* GetRtpExtDevName();
char const* GetModemDevName();
char const* GetMaintenance();
char const* GetSpiTdmDevName();

// "unknown", "g711", ... "conf" for 0 to 8; "invalid" otherwise.
char const* GetCodecAsStr(int codec);

// The text of an RTP error code. An unlisted code is formatted into one
// static buffer, valid until the next such call.
char const* RTPStrError(int code);

// A failed RTP driver call: the errno of the moment and the driver's code.
class RtpErr {
 public:
  explicit RtpErr(int code);
  // Writes the system's text of the captured errno.
  void Put(std::ostream& out) const;
  int err;
  int code;
};

std::ostream& operator<<(std::ostream& out, RtpErr const& e);
std::ostream& operator<<(std::ostream& out, rtp_connection_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_attach_session_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_ext_attach_session_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_ext_init_params const& p);
std::ostream& operator<<(std::ostream& out, rtp_channel_info const& p);
