#pragma once
// The R2S radio signalling carried in the RTP header extension of profile
// 0x0167: a plain record, `r2s_proto`, and the free functions that pack it
// into and unpack it from the extension's bytes. Only the bytes after the
// extension's profile and length words are handled here; the extension
// channel adds and strips those words.
//
// Two directions: tx carries push-to-talk towards the radio; rx reports the
// radio's receiver state and adds the squelch (SQU) and SCT bits.
//
// Results are a byte count or 0 on success, or one of the R2S_* codes. The
// functions hold no state, allocate nothing and never touch a byte outside
// the length they are given.
#include <cstdint>

enum : int {
  R2S_ENULL = -7,     // null record (or buffer, when unpacking)
  R2S_EKIND = -8,     // a kind the packer does not know, or an rx RRC of an unknown form
  R2S_ESHORT = -9,    // the buffer is too short
};

enum : unsigned long {
  R2S_KIND_EMPTY = 0,
  R2S_KIND_TX = 1,
  R2S_KIND_RX = 2,
};

// Feature kinds: the feature's type number on the wire.
enum : unsigned long {
  R2S_FEATURE_SQI = 1,          // rx
  R2S_FEATURE_TIME_DELAY = 2,   // tx: climax time delay
  R2S_FEATURE_RRC = 3,          // rx and tx
  R2S_FEATURE_MAM = 4,          // rx
  R2S_FEATURE_RRM = 4,          // tx
};

constexpr int R2S_MAX_FEATURES = 16;
constexpr int R2S_FEATURE_WORDS = 13;

// Header words by direction.
enum : int {
  R2S_RX_PTT_TYPE = 0, R2S_RX_SQU, R2S_RX_PTT_ID, R2S_RX_PM, R2S_RX_PTTS, R2S_RX_SCT,
};
enum : int {
  R2S_TX_PTT_TYPE = 0, R2S_TX_PTT_ID, R2S_TX_PM, R2S_TX_PTTS,
};

struct r2s_proto_additional {
  uint32_t kind;
  uint32_t value[R2S_FEATURE_WORDS];
};

struct r2s_proto {
  uint32_t source_addr;  // IPv4 of the sender, network order; never packed
  uint32_t source_ssrc;  // the sender's SSRC; never packed
  uint32_t kind;         // R2S_KIND_*
  uint32_t header[6];    // R2S_RX_* or R2S_TX_* words
  uint32_t count;        // features in use, 0..16
  r2s_proto_additional additionals[R2S_MAX_FEATURES];
};

// Value records, copied word by word into a feature's value words.
struct r2s_proto_rx_additional_sqi {
  uint32_t quality;  // 0..31
  uint32_t method;   // 0..7
};
struct r2s_proto_tx_additional_climax_time_delay {
  uint32_t delay;  // 0..255
};
struct r2s_proto_rx_additional_rrc {
  uint32_t flags[8];  // flag 1 first, one bit each
  uint32_t form;      // 0 short, 1 long
  uint32_t long_flag1;
  uint32_t long_flag2;
  uint32_t long_byte1;
  uint32_t long_byte2;
};
struct r2s_proto_tx_additional_rrc {
  uint32_t flags[8];
};
struct r2s_proto_rx_additional_mam {
  uint32_t flag1;   // 1 bit
  uint32_t value1;  // 23 bits
  uint32_t flag2;
  uint32_t value2;
  uint32_t value3;  // 16 bits each
  uint32_t value4;
  uint32_t value5;
};
struct r2s_proto_tx_additional_rrm {
  uint32_t flag;   // 1 bit
  uint32_t value;  // 23 bits
};

static_assert(sizeof(r2s_proto_rx_additional_rrc) <= R2S_FEATURE_WORDS * 4, "rrc fits a feature");
static_assert(sizeof(r2s_proto_rx_additional_mam) <= R2S_FEATURE_WORDS * 4, "mam fits a feature");

int r2s_proto_init(r2s_proto* p, unsigned long kind);
int r2s_proto_set_type(r2s_proto* p, unsigned long kind);
int r2s_proto_set_tx_header(r2s_proto* p, unsigned long ptt_type, unsigned long ptt_id, unsigned long pm,
                            unsigned long ptts);
int r2s_proto_set_rx_header(r2s_proto* p, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long pm, unsigned long ptts, unsigned long sct);
int r2s_proto_reset_additionals(r2s_proto* p);

// Each appends one feature; a null argument or a full record changes nothing.
int r2s_proto_add_rx_sqi(r2s_proto* p, r2s_proto_rx_additional_sqi* v);
int r2s_proto_add_rx_sqi(r2s_proto* p, unsigned long quality, unsigned long method);
int r2s_proto_add_rx_rrc(r2s_proto* p, r2s_proto_rx_additional_rrc* v);
int r2s_proto_add_rx_mam(r2s_proto* p, r2s_proto_rx_additional_mam* v);
int r2s_proto_add_tx_time_delay(r2s_proto* p, r2s_proto_tx_additional_climax_time_delay* v);
int r2s_proto_add_tx_rrc(r2s_proto* p, r2s_proto_tx_additional_rrc* v);
int r2s_proto_add_tx_rrm(r2s_proto* p, r2s_proto_tx_additional_rrm* v);

// Packs by the record's kind; bytes written or an error.
int r2s_proto_pack(r2s_proto* p, unsigned char* buf, int len);
int r2s_proto_pack_rx(r2s_proto* p, unsigned char* buf, int len);
int r2s_proto_pack_tx(r2s_proto* p, unsigned char* buf, int len);

// 0, or an error; features decoded before a short one are kept.
int r2s_proto_unpack_rx(r2s_proto* p, unsigned char* buf, int len);
int r2s_proto_unpack_tx(r2s_proto* p, unsigned char* buf, int len);

// 0 when both came from the same sender (kind, SSRC and address); the sign
// of the first difference otherwise; -1 when either is null.
int cmp_r2s_proto_source(r2s_proto* a, r2s_proto* b);
