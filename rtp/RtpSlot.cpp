#include "rtp/RtpSlot.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/HwMux.h"
#include "rtp/RtpSession.h"

namespace {

// The operator contact items of the source description. The daemon reads
// no setting for them, so they go out empty.
const char* const kContactEmail = "";
const char* const kContactPhone = "";

// Driver codecs of the G.711 laws that a codec mode names.
constexpr uint16_t kAlaw = 8;
constexpr uint16_t kUlaw = 0;

}  // namespace

RtpSlot::RtpSlot(int channel, Fd rtp, rtp_connection_params const& params, int32_t bss)
    : channel(channel), rtpFd(std::move(rtp)), params(params), defaultCodec(params.rx_pt), bss(bss) {
  rtpEvent.Bind<RtpSlot>("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
  rtpEvent.Schedule(rtpFd, POLLIN);
}

RtpSlot::~RtpSlot() {
  send(RTPC::BYE(params.ssrc, "session end"));
  rtcpSocket.close();
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
}

std::ostream& RtpSlot::PutHeader(std::ostream& os) const { return os << "rtp[" << channel << "]: "; }

void RtpSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

void RtpSlot::closeSession() {
  rtpEvent.Release();
  rtpFd.close();
}

bool RtpSlot::IBeforeDestroy() {
  // The driver's answers change nothing here: the session goes regardless.
  int fd = rtpFd.lowlevel_fd();
  Device::requestValue(fd, RtpSession::kTeardown1, 0);
  Device::requestValue(fd, RtpSession::kTeardown2, 0);
  Device::requestValue(fd, RtpSession::kTeardown3, 0);
  uint32_t one = 1;
  Device::requestRecord(fd, RtpSession::kResetPd, &one, sizeof one);
  closeSession();
  HwMux::instance()->Disable(channel);
  return true;
}

void RtpSlot::startRTPC(Fd& socket, sockaddr_in const& peer) {
  rtcpPeer = peer;
  rtcpSocket = socket;
  RTPC::SDES sdes(params.ssrc);
  sdes.add(RTPC::SDES::Item::CNAME, kCname);
  sdes.add(RTPC::SDES::Item::EMAIL, kContactEmail);
  sdes.add(RTPC::SDES::Item::PHONE, kContactPhone);
  send(sdes);
}

void RtpSlot::send(RTPC::Msg const& msg) {
  if (!rtcpSocket.is_valid()) return;
  char buffer[kRtcpBuffer];
  unsigned int n = msg.encode(buffer, sizeof buffer);
  if (n == 0) return;
  ::sendto(rtcpSocket.lowlevel_fd(), buffer, n, MSG_DONTWAIT, reinterpret_cast<sockaddr const*>(&rtcpPeer),
           sizeof rtcpPeer);
}

bool RtpSlot::inputStream(bool on) {
  inputStreamOn = on;
  return Device::requestValue(rtpFd.lowlevel_fd(), on ? RtpSession::kInputOn : RtpSession::kInputOff, 0) >= 0;
}

bool RtpSlot::IOnInputStream() {
  if (transmissionDependOnSQU) return true;
  inputStream(true);
  return true;
}

void RtpSlot::IOnInputRelease() { inputStream(false); }

// The driver's event records: whole records of kEventSize bytes, read until
// none is left. A record that arrives short is not used (its words would be
// what the buffer held before); a descriptor that fails or ends is no longer
// watched, since it would report the same on every pass of the loop.
void RtpSlot::OnRtpEvent(int fd, short events) {
  if (!(events & (POLLIN | POLLERR | POLLHUP))) return;
  for (;;) {
    uint8_t rec[kEventSize] = {};
    ssize_t n = Device::read(fd, rec, sizeof rec);
    if (n == ssize_t(sizeof rec)) {
      rtp_event e;
      std::memcpy(&e, rec, sizeof e);  // the words this daemon reads lead the record
      std::clog << "rtp[" << channel << "]: " << "rtp event: " << " type=" << e.type << std::endl;
      processRtpEvent(e);
      continue;
    }
    if (n > 0) {
      PutHeader(std::cerr) << "short rtp event record of " << n << " bytes dropped" << std::endl;
      continue;
    }
    if (n < 0 && errno == EAGAIN) return;
    if (n < 0) {
      Errno e;
      PutHeader(std::cerr) << "fail to read from rtp: " << e << std::endl;
    }
    rtpEvent.Release();
    return;
  }
}

bool RtpSlot::enablePD(LGCP::PDParams const& p) {
  uint32_t timeout = uint32_t(p.get_timeout().getValue());
  RtpSession::rtp_event_pd_params rec{{1, 0, timeout, 0, 0, timeout, 0, 0, 0}};
  if (Device::requestRecord(rtpFd.lowlevel_fd(), RtpSession::kSetPd, &rec, sizeof rec) < 0) {
    Errno e;
    PutHeader(std::cerr) << "RTP SET EVENT PD fail:" << " errno=\"" << e << "\"" << std::endl;
    return false;
  }
  PutHeader(std::clog) << "RTP SET EVENT PD " << "timeout=" << timeout << std::endl;
  return true;
}

bool RtpSlot::disablePD() {
  uint32_t one = 1;
  if (Device::requestRecord(rtpFd.lowlevel_fd(), RtpSession::kResetPd, &one, sizeof one) < 0) {
    Errno e;
    PutHeader(std::cerr) << "RTP RESET EVENT PD fail:" << " errno=\"" << e << "\"" << std::endl;
    return false;
  }
  PutHeader(std::clog) << "RTP RESET EVENT PD" << std::endl;
  return true;
}

// The old session goes first, so that the driver has its channel free for
// the new one: a session's last descriptor takes its channel with it.
bool RtpSlot::restart() {
  closeSession();
  Fd fresh = RtpSession::reopen(params, channel, bss);
  if (!fresh.is_valid()) return false;
  rtpFd = std::move(fresh);
  rtpEvent.Schedule(rtpFd, POLLIN);
  if (inputStreamOn) inputStream(true);
  return true;
}

uint16_t RtpSlot::translate_payload(LGCP::CodecMode const& mode) const {
  switch (mode.asInt()) {
    case LGCP::CodecMode::alaw:
      return kAlaw;
    case LGCP::CodecMode::ulaw:
      return kUlaw;
  }
  return defaultCodec;
}

bool RtpSlot::changeCodec(LGCP::IoctlParams const& ioctl, LGCP::CodecMode const& mode, bool tx) {
  if (tx) PutHeader(std::clog) << "do restart RTP session (change tx payload):" << ioctl;
  uint16_t codec = translate_payload(mode);
  uint16_t& field = tx ? params.tx_pt : params.rx_pt;
  if (codec == field) {
    if (tx) std::clog << " - Nothing to do" << std::endl;
    return true;
  }
  field = codec;
  if (!restart()) {
    if (tx) std::clog << std::endl;
    PutHeader(std::cerr) << "fail to restart RTP session!" << std::endl;
    return false;
  }
  if (tx) std::clog << " - OK" << std::endl;
  return true;
}

// The controller's ioctls, in the order they are tested.
bool RtpSlot::Ioctl(LGCP::IoctlParams const& p) {
  using Tonec = Hardware::TonecReceiver;
  using DSProc = Hardware::DSProcReceiver;
  if (p.echoSuppressor_isSelected()) return Tonec::echoCancel(p.get_echoSuppressor());
  if (p.dtmf_enable_isSelected()) return Tonec::enableDTMF(p.get_dtmf_enable());
  if (p.dtmf_reject_enable_isSelected()) return Tonec::enableDTMFReject(p.get_dtmf_reject_enable());
  if (p.activateWaitTone_isSelected()) {
    Tonec::activateAudibleCall();
    return true;
  }
  if (p.deactivateWaitTone_isSelected()) {
    Tonec::cancelAudibleCall();
    return true;
  }
  if (p.translateDTMF_isSelected()) {
    Tonec::translateDTMF(p.get_translateDTMF());
    return true;
  }
  if (p.dtmf_params_isSelected()) return Tonec::configureDTMF(p.get_dtmf_params());
  if (p.vad_enable_isSelected()) return DSProc::enableVAD(p.get_vad_enable());
  if (p.vad_disable_isSelected()) return DSProc::disableVAD();
  if (p.vad_params_isSelected()) return DSProc::configureVAD(p.get_vad_params());
  if (p.sd_enable_isSelected()) return DSProc::enableSD(p.get_sd_enable());
  if (p.sd_disable_isSelected()) return DSProc::disableSD();
  if (p.sd_params_isSelected()) return DSProc::configureSD();  // the parameters are the DSP's own
  if (p.pd_enable_isSelected()) return enablePD(p.get_pd_enable());
  if (p.pd_disable_isSelected()) return disablePD();
  if (p.encoder_mode_isSelected()) return changeCodec(p, p.get_encoder_mode(), true);
  if (p.decoder_mode_isSelected()) return changeCodec(p, p.get_decoder_mode(), false);
  if (p.rx_gain_isSelected()) {
    // The DSP takes the gain in one signed octet.
    DSProc::configureRxGain(char(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
    return true;
  }
  if (p.tone_filter_isSelected()) {
    LGCP::ToneFilter const& f = p.get_tone_filter();
    DSProc::configureToneFilter(unsigned(f.get_freq().getValue()), bool(f.get_enable()),
                                f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
    return true;
  }
  if (p.selcal_isSelected()) {
    Tonec::translateSelcal(p.get_selcal());
    return true;
  }
  return false;
}
