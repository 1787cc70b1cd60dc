#include "rtp/RtpSession.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cstdlib>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/Utils.h"

namespace RtpSession {

namespace {

struct CodecEntry {
  int payload;
  uint16_t codec;
};

// RTP payload types, plus 128 for the G.711 laws on the HDLC controller.
const CodecEntry kCodecs[] = {
    {TERM::Payload::ptG711_Alaw, 8},       {TERM::Payload::ptG711_Ulaw, 0},
    {TERM::Payload::ptG723, 4},            {TERM::Payload::ptG729, 18},
    {TERM::Payload::ptG711mcc_Alaw, 136},  {TERM::Payload::ptG711mcc_Ulaw, 128},
    {TERM::Payload::ptG728, 15},
};

bool isG711Law(int payload) {
  return payload == TERM::Payload::ptG711_Alaw || payload == TERM::Payload::ptG711_Ulaw;
}

// Opens the driver and begins the session with params, then adds the
// channel; the descriptor and the channel the driver gave, or an empty
// descriptor with errno of the failed step and which step it was.
enum class Step { none, open, begin, add };

// The session's events are read until none is left, on the loop's thread:
// a read must never wait, whatever the driver does when nothing is queued.
Fd beginAndAdd(rtp_connection_params params, int channel, int32_t bss, int& given, Step& failed) {
  int fd = Device::open(GetRtpDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failed = Step::open;
    return Fd();
  }
  Fd rtp(fd);
  if (Device::requestRecord(rtp.lowlevel_fd(), kBegin, &params, sizeof params) < 0) {
    failed = Step::begin;
    return Fd();
  }
  rtp_channel_params ch{};
  ch.info.tdm = channel;
  ch.info.dev_no = -1;
  ch.info.chn = -1;
  ch.bss = bss;
  if (Device::requestRecord(rtp.lowlevel_fd(), kAddChannel, &ch, sizeof ch) < 0) {
    failed = Step::add;
    return Fd();
  }
  given = ch.info.tdm;
  failed = Step::none;
  return rtp;
}

}  // namespace

bool driverCodec(int payload, uint16_t& codec) {
  for (CodecEntry const& e : kCodecs) {
    if (e.payload == payload) {
      codec = e.codec;
      return true;
    }
  }
  return false;
}

uint16_t translateCodec(TERM::Payload::NamedNumber payload) {
  uint16_t codec = 0;
  driverCodec(payload, codec);
  return codec;
}

uint16_t translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction) {
  if (direction != payload && isG711Law(direction)) return translateCodec(direction);
  return translateCodec(payload);
}

rtp_connection_params connectionParams(LGCP::CreateRtpParams const& p) {
  TERM::RtpParams const& rtp = p.get_codecRTP();
  auto payload = TERM::Payload::NamedNumber(rtp.get_payload().asInt());
  rtp_connection_params c{};
  c.dst_addr = inet_addr(rtp.get_dhost().get_iaddr().c_str());
  c.dst_port = uint16_t(rtp.get_dhost().get_port().getValue());
  if (rtp.shost_isPresent()) {
    c.src_addr = inet_addr(rtp.get_shost().get_iaddr().c_str());
    c.src_port = uint16_t(rtp.get_shost().get_port().getValue());
  } else {
    c.src_addr = 0;
    c.src_port = c.dst_port;
  }
  c.rx_pt = translateCodec(payload, TERM::Payload::NamedNumber(p.get_rxPayload().asInt()));
  c.tx_pt = translateCodec(payload, TERM::Payload::NamedNumber(p.get_txPayload().asInt()));
  c.packet_factor = rtp.pfactor_isPresent() ? uint16_t(rtp.get_pfactor().getValue()) : 0;
  c.vad = rtp.vad_isPresent() && bool(rtp.get_vad()) ? 1 : 0;
  c.rate = rtp.crate_isPresent() && rtp.get_crate().getValue() != 0 ? 1 : 0;
  c.ssrc = rtp.ssrc_isPresent() ? uint32_t(rtp.get_ssrc().getValue()) : uint32_t(std::rand());
  c.ttl = rtp.ttl_isPresent() ? rtp.get_ttl().getValue() : 0;
  c.tos = rtp.qos_dscp_isPresent() ? (rtp.get_qos_dscp().asInt() & 63) * 4 : -1;
  return c;
}

bool open(LGCP::CreateRtpParams const& p, Options const& options, std::string const& header,
          Opened& out) {
  TERM::RtpParams const& rtp = p.get_codecRTP();
  uint16_t codec;
  if (!driverCodec(rtp.get_payload().asInt(), codec)) {
    std::clog << header << "rtp do not created: payload " << rtp.get_payload() << "not found"
              << std::endl;
    return false;
  }

  Fd rtcp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  if (!rtcp.is_valid()) {
    Errno e;
    std::clog << header << "rtp do not created: can not create socket [errno=" << e << "]"
              << std::endl;
    return false;
  }
  if (options.reuseAddress) {
    int on = 1;
    setsockopt(rtcp.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  unsigned rtpPort = unsigned((rtp.shost_isPresent() ? rtp.get_shost() : rtp.get_dhost()).get_port().getValue());
  uint16_t rtcpPort = uint16_t(rtpPort + 1);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(rtcpPort);
  if (::bind(rtcp.lowlevel_fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    Errno e;
    std::clog << header << "rtp do not created: can not bind socket [errno=" << e
              << ", port=" << rtcpPort << "]" << std::endl;
    return false;
  }

  rtp_connection_params params = connectionParams(p);
  int channel = -1;
  Step failed = Step::none;
  Fd dev = beginAndAdd(params, -1, options.bss, channel, failed);
  switch (failed) {
    case Step::open: {
      Errno e;
      std::cerr << header << "device \"" << GetRtpDevName() << "\" open fail: " << e << std::endl;
      return false;
    }
    case Step::begin:
      std::cerr << header << "begin session fail !!! " << std::endl;
      return false;
    case Step::add:
      std::cerr << header << "add channel fail !!!" << std::endl;
      return false;
    case Step::none:
      break;
  }

  out.rtp = std::move(dev);
  out.rtcp = std::move(rtcp);
  out.channel = channel;
  out.params = params;
  out.rtcpPeer = sockaddr_in{};
  out.rtcpPeer.sin_family = AF_INET;
  out.rtcpPeer.sin_addr.s_addr = params.dst_addr;
  out.rtcpPeer.sin_port = htons(uint16_t(params.dst_port + 1));
  return true;
}

Fd reopen(rtp_connection_params const& params, int channel, int32_t bss) {
  int given = -1;
  Step failed = Step::none;
  return beginAndAdd(params, channel, bss, given, failed);
}

}  // namespace RtpSession
