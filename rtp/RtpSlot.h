#pragma once
// One voice channel between the TDM switch and an RTP peer. The media runs
// in the RTP driver ("/dev/rtp"): the slot holds one driver session, whose
// TDM channel is both of its switch channels, configures it through the
// controller's ioctls, reads the driver's event records, and switches the
// driver's input stream on and off as its source comes and goes. Beside the
// driver it announces the session to the peer with an RTCP source
// description when it starts and ends it with a goodbye.
//
// The slot's channel is also a time-slot of the tone and voice-processing
// DSPs: the slot receives their events for it and configures them through
// its ioctls. The factories reach those functions too (the echo canceller,
// a radio's delays and best-signal selection).
//
// A factory begins the session and adds the channel before it builds the
// slot (rtp/RtpSession.h); the slot re-begins it itself when a codec
// changes.
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "hardware/DSProcReceiver.h"
#include "hardware/RtpDriver.h"
#include "hardware/TonecReceiver.h"
#include "protocol/LGCP/LGCP.h"
#include "rtp/Rtcp.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "slots/Slot.h"

class RtpSlot : public Slot, public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
 public:
  // The CNAME of every session this board starts.
  static constexpr const char* kCname = "Kavrel Sonmark";
  static constexpr size_t kEventSize = 36;  // one driver event record
  static constexpr unsigned kRtcpBuffer = 1024;

  // rtp: the session's descriptor, begun and with the channel added; bss:
  // the add-channel record's flag, which a restart gives again.
  RtpSlot(int channel, Fd rtp, rtp_connection_params const& params, int32_t bss = 0);
  ~RtpSlot() override;

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override;
  void IOnOutputRelease() override {}
  void IOnInputRelease() override;
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "rtp"; }

  void tonec_event(Hardware::TonecReceiver::Params const& p) override { processTonecEvent(p); }
  uint32_t tonec_timeslot() const override { return uint32_t(channel); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
  void dsproc_bss_event(::dsproc_bss_event const* e) override { processBSSEvent(e); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
  void dsproc_tone_flt_event(::dsproc_tone_event const* e) override { processToneFltEvent(e); }
  void dsproc_flags_event(::dsproc_flags_event const* e) override { processFlagsEvent(e); }
  uint32_t dsproc_timeslot() const override { return uint32_t(channel); }

  // Keeps the socket and the peer's RTCP address, then sends the source
  // description.
  void startRTPC(Fd& socket, sockaddr_in const& peer);
  // One RTCP packet to the peer; one that cannot be sent is dropped.
  void send(RTPC::Msg const& msg);

  bool enablePD(LGCP::PDParams const& params);
  bool disablePD();
  // Begins the session again with the current record on a new descriptor.
  bool restart();
  uint16_t translate_payload(LGCP::CodecMode const& mode) const;
  // While set, a source does not switch the input stream on: the radio's
  // squelch does.
  void setTransmissionDependOnSQU(bool on) { transmissionDependOnSQU = on; }

  int GetChannel() const { return channel; }
  rtp_connection_params const& GetParams() const { return params; }
  bool InputStreamOn() const { return inputStreamOn; }
  // The session's descriptor (radio signalling attaches to it); -1 while
  // the session is gone.
  int GetRtpFd() const { return rtpFd.lowlevel_fd(); }

 protected:
  // "rtp[<channel>]: "
  std::ostream& PutHeader(std::ostream& os) const;
  // Switches the driver's input stream; false when the driver refused.
  bool inputStream(bool on);

  int channel;
  Fd rtpFd;
  Event rtpEvent;
  rtp_connection_params params;
  sockaddr_in rtcpPeer{};
  Fd rtcpSocket;
  uint16_t defaultCodec;
  bool inputStreamOn = false;
  bool transmissionDependOnSQU = false;
  int32_t bss;

 private:
  void OnRtpEvent(int fd, short events);
  // An encoder-mode (tx) or decoder-mode (rx) ioctl.
  bool changeCodec(LGCP::IoctlParams const& ioctl, LGCP::CodecMode const& mode, bool tx);
  // Stops reading events and closes the session.
  void closeSession();
};
