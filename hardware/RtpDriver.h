#pragma once
// The RTP driver's records as the daemon lays them out ("/dev/rtp" and
// "/dev/rtp_ext"; host byte order unless a field says otherwise). Bytes
// not named are 0.
#include <cstddef>
#include <cstdint>

// Begin-session record, 44 bytes.
struct rtp_connection_params {
  uint32_t dst_addr;       // peer's IPv4 address, network byte order
  uint16_t dst_port;       // peer's RTP port
  uint16_t reserved0;
  uint32_t src_addr;       // local IPv4 address, network byte order; 0: none
  uint16_t src_port;       // local RTP port
  uint16_t rx_pt;          // driver codec, receive direction
  uint16_t tx_pt;          // driver codec, transmit direction
  uint16_t packet_factor;  // 0: none given
  uint8_t vad;
  uint8_t rate;
  uint16_t reserved1;
  uint32_t ssrc;
  uint8_t reserved2[8];
  int32_t ttl;  // 0: none given
  int32_t tos;  // -1: none given
};

// The channel part of the add-channel record.
struct rtp_channel_info {
  int32_t tdm;
  int32_t dev_no;
  int32_t chn;
};

// Header-extension session record, 20 bytes.
struct rtp_ext_init_params {
  uint16_t etype;  // header-extension profile
  uint16_t reserved;
  uint32_t params[4];
};

// Attaches a header-extension session to an RTP session, 8 bytes.
struct rtp_ext_attach_session_params {
  int32_t fd_rtp;
  int32_t pid_rtp;
};

// Attaches another process's RTP session, 8 bytes.
struct rtp_attach_session_params {
  int32_t fd_rtp;
  int32_t pid_rtp;
};

// An event of an RTP session, 12 bytes; type 1 is packet detection.
struct rtp_event {
  uint32_t type;
  uint32_t value;
  uint32_t timeout;
};

static_assert(sizeof(rtp_connection_params) == 44, "rtp_connection_params");
static_assert(offsetof(rtp_connection_params, rx_pt) == 14, "rx_pt");
static_assert(offsetof(rtp_connection_params, tx_pt) == 16, "tx_pt");
static_assert(offsetof(rtp_connection_params, packet_factor) == 18, "packet_factor");
static_assert(offsetof(rtp_connection_params, ssrc) == 24, "ssrc");
static_assert(offsetof(rtp_connection_params, ttl) == 36, "ttl");
static_assert(sizeof(rtp_channel_info) == 12, "rtp_channel_info");
static_assert(sizeof(rtp_ext_init_params) == 20, "rtp_ext_init_params");
static_assert(sizeof(rtp_ext_attach_session_params) == 8, "rtp_ext_attach_session_params");
static_assert(sizeof(rtp_attach_session_params) == 8, "rtp_attach_session_params");
static_assert(sizeof(rtp_event) == 12, "rtp_event");
