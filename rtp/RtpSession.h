#pragma once
// Opening an RTP driver session for a slot: what every RTP factory (plain
// voice and the radio gateways) does before it builds its slot. From the
// controller's `rtp` create parameters it checks the codec, binds the UDP
// socket the slot's RTCP packets leave from (local RTP port + 1), opens
// "/dev/rtp", begins the session with the connection record and adds the
// TDM channel. Every failure is logged after the factory's header and
// leaves nothing open.
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "hardware/RtpDriver.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "runtime/Fd.h"

namespace RtpSession {

// Request words of "/dev/rtp" (type 'R').
constexpr uint32_t kBegin = 0xc02c5200;       // rtp_connection_params, in and out
constexpr uint32_t kAddChannel = 0xc0105202;  // rtp_channel_params, in and out
constexpr uint32_t kTeardown2 = 0x20005203;
constexpr uint32_t kInputOn = 0x20005204;
constexpr uint32_t kInputOff = 0x20005205;
constexpr uint32_t kAttach = 0xc0085209;      // rtp_attach_session_params
constexpr uint32_t kTeardown1 = 0x2000520a;
constexpr uint32_t kTeardown3 = 0x2000520b;
constexpr uint32_t kSetPd = 0xc024520c;       // rtp_event_pd_params
constexpr uint32_t kResetPd = 0x8004520d;     // unsigned 32-bit 1

// Add-channel record: the channel part, then the best-signal-selection
// flag (1 = on). tdm -1 asks the driver to choose; it answers the channel.
struct rtp_channel_params {
  rtp_channel_info info;
  int32_t bss;
};
static_assert(sizeof(rtp_channel_params) == 16, "rtp_channel_params");

// Packet-detection record: {1, 0, timeout, 0, 0, timeout, 0, 0, 0}.
struct rtp_event_pd_params {
  uint32_t words[9];
};
static_assert(sizeof(rtp_event_pd_params) == 36, "rtp_event_pd_params");

// The driver codec of a payload; false for a payload the driver has no
// codec for (T.38, the reserved values, R2S).
bool driverCodec(int payload, uint16_t& codec);
// The driver codec of a payload, 0 without one (0 is also mu-law's: test
// with driverCodec whether there is one).
uint16_t translateCodec(TERM::Payload::NamedNumber payload);
// The same, except that a direction asking for the other G.711 law than
// the payload gets that law: only the law may differ per direction.
uint16_t translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction);

// The connection record of the create parameters: addresses, ports, the
// two directions' codecs, packetisation, VAD, rate, SSRC (the controller's
// or a pseudo-random one), TTL and TOS.
rtp_connection_params connectionParams(LGCP::CreateRtpParams const& p);

// How a factory's sessions differ.
struct Options {
  bool reuseAddress = true;  // SO_REUSEADDR on the RTCP socket
  int32_t bss = 0;           // the add-channel record's BSS word
};

// An opened session: the session begun on the driver descriptor with its
// channel added, and the RTCP socket bound.
struct Opened {
  Fd rtp;
  Fd rtcp;
  int channel = -1;
  rtp_connection_params params{};
  sockaddr_in rtcpPeer{};  // the peer's RTP port + 1
};

// Opens the session for create parameters p; header starts every log line
// (the factory's). False, logged and with nothing left open, on failure.
bool open(LGCP::CreateRtpParams const& p, Options const& options, std::string const& header,
          Opened& out);

// Begins a session again on a new descriptor, as a codec change needs:
// open "/dev/rtp", begin with params, add the given channel. The new
// descriptor, or an empty one (nothing left open) on failure; nothing is
// logged.
Fd reopen(rtp_connection_params const& params, int channel, int32_t bss);

}  // namespace RtpSession
