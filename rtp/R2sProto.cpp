#include "rtp/R2sProto.h"

#include <cstring>

namespace {

// Type-length bytes: type in bits 7-4, value bytes in bits 3-0.
constexpr unsigned char kRxSqi = 0x11;
constexpr unsigned char kRrcShort = 0x31;
constexpr unsigned char kRxRrcLong = 0x34;
constexpr unsigned char kRxMam = 0x4C;
constexpr unsigned char kTxTimeDelay = 0x21;
constexpr unsigned char kTxRrm = 0x43;

constexpr int kHeaderBytes = 2;
// A packet without features still carries two zero bytes after its header.
constexpr int kEmptyPacketBytes = 4;

template <typename Value>
int add(r2s_proto* p, unsigned long kind, const Value* v) {
  if (!p || !v || p->count >= R2S_MAX_FEATURES) return 0;
  r2s_proto_additional& a = p->additionals[p->count];
  std::memset(&a, 0, sizeof a);
  a.kind = uint32_t(kind);
  std::memcpy(a.value, v, sizeof(Value));
  ++p->count;
  return 0;
}

template <typename Value>
Value value_of(const r2s_proto_additional& a) {
  Value v;
  std::memcpy(&v, a.value, sizeof v);
  return v;
}

template <typename Value>
void store(r2s_proto_additional& a, unsigned long kind, const Value& v) {
  std::memset(&a, 0, sizeof a);
  a.kind = uint32_t(kind);
  std::memcpy(a.value, &v, sizeof v);
}

unsigned char flags_byte(const uint32_t (&flags)[8]) {
  unsigned char b = 0;
  for (int i = 0; i < 8; ++i) b |= (flags[i] & 1) << (7 - i);
  return b;
}

void read_flags(unsigned char b, uint32_t (&flags)[8]) {
  for (int i = 0; i < 8; ++i) flags[i] = (b >> (7 - i)) & 1;
}

// A flag bit and a 23-bit value in three bytes.
void put_flag23(unsigned char* out, uint32_t flag, uint32_t value) {
  out[0] = (unsigned char)((flag & 1) << 7 | (value >> 16 & 0x7F));
  out[1] = (unsigned char)(value >> 8);
  out[2] = (unsigned char)value;
}

void get_flag23(const unsigned char* in, uint32_t& flag, uint32_t& value) {
  flag = in[0] >> 7;
  value = uint32_t(in[0] & 0x7F) << 16 | uint32_t(in[1]) << 8 | in[2];
}

void put16(unsigned char* out, uint32_t v) {
  out[0] = (unsigned char)(v >> 8);
  out[1] = (unsigned char)v;
}

uint32_t get16(const unsigned char* in) { return uint32_t(in[0]) << 8 | in[1]; }

// Header byte 0 and the PTT id's upper bits; byte 1 without X.
void put_header(unsigned char* out, uint32_t type, uint32_t squ, uint32_t id, uint32_t pm, uint32_t ptts,
                uint32_t sct, bool x) {
  id &= 0x3F;
  out[0] = (unsigned char)((type & 7) << 5 | (squ & 1) << 4 | id >> 2);
  out[1] = (unsigned char)((id & 3) << 6 | (pm & 1) << 5 | (ptts & 1) << 4 | (sct & 1) << 3 | (x ? 1 : 0));
}

// Writes the features of one direction after the header; the caller has
// checked the header fits. `write` handles one feature: it returns the room
// the feature needs (0: not of this direction) or a negative error, and
// writes only when `room` covers that need.
template <typename Write>
int pack_features(r2s_proto* p, unsigned char* buf, int len, Write write) {
  long need = kHeaderBytes;
  int written = kHeaderBytes;
  const uint32_t count = p->count > R2S_MAX_FEATURES ? R2S_MAX_FEATURES : p->count;
  for (uint32_t i = 0; i < count; ++i) {
    int n = write(p->additionals[i], nullptr);
    if (n < 0) return n;
    if (n == 0) continue;
    need += n;
    if (need > len) return R2S_ESHORT;
    int r = write(p->additionals[i], buf + written);
    if (r < 0) return r;
    written += r;
  }
  return written;
}

// One rx feature: with `out` null, the room it needs; otherwise the bytes
// written.
int write_rx(const r2s_proto_additional& a, unsigned char* out) {
  switch (a.kind) {
    case R2S_FEATURE_SQI: {
      if (!out) return 2;
      auto v = value_of<r2s_proto_rx_additional_sqi>(a);
      out[0] = kRxSqi;
      out[1] = (unsigned char)((v.quality & 0x1F) << 3 | (v.method & 7));
      return 2;
    }
    case R2S_FEATURE_RRC: {
      auto v = value_of<r2s_proto_rx_additional_rrc>(a);
      if (v.form > 1) return R2S_EKIND;
      // Room for the long form whichever is written.
      if (!out) return 5;
      if (v.form == 0) {
        out[0] = kRrcShort;
        out[1] = flags_byte(v.flags);
        return 2;
      }
      out[0] = kRxRrcLong;
      out[1] = flags_byte(v.flags);
      out[2] = (unsigned char)((v.long_flag1 & 1) << 7 | (v.long_flag2 & 1) << 6);
      out[3] = (unsigned char)v.long_byte1;
      out[4] = (unsigned char)v.long_byte2;
      return 5;
    }
    case R2S_FEATURE_MAM: {
      if (!out) return 13;
      auto v = value_of<r2s_proto_rx_additional_mam>(a);
      out[0] = kRxMam;
      put_flag23(out + 1, v.flag1, v.value1);
      put_flag23(out + 4, v.flag2, v.value2);
      put16(out + 7, v.value3);
      put16(out + 9, v.value4);
      put16(out + 11, v.value5);
      return 13;
    }
    default:
      return 0;
  }
}

int write_tx(const r2s_proto_additional& a, unsigned char* out) {
  switch (a.kind) {
    case R2S_FEATURE_TIME_DELAY:
      if (out) {
        out[0] = kTxTimeDelay;
        out[1] = (unsigned char)value_of<r2s_proto_tx_additional_climax_time_delay>(a).delay;
      }
      return 2;
    case R2S_FEATURE_RRC:
      if (out) {
        out[0] = kRrcShort;
        out[1] = flags_byte(value_of<r2s_proto_tx_additional_rrc>(a).flags);
      }
      return 2;
    case R2S_FEATURE_RRM:
      if (out) {
        auto v = value_of<r2s_proto_tx_additional_rrm>(a);
        out[0] = kTxRrm;
        put_flag23(out + 1, v.flag, v.value);
      }
      return 4;
    default:
      return 0;
  }
}

template <typename Write>
int pack(r2s_proto* p, unsigned char* buf, int len, bool rx, Write write) {
  if (!p || !buf) return 0;
  if (len < kHeaderBytes) return R2S_ESHORT;
  std::memset(buf, 0, size_t(len));
  int result;
  if (p->count == 0) {
    if (len < kEmptyPacketBytes) return R2S_ESHORT;
    result = kEmptyPacketBytes;
  } else {
    result = pack_features(p, buf, len, write);
  }
  // The header is written also when a feature did not fit.
  const uint32_t* h = p->header;
  if (rx)
    put_header(buf, h[R2S_RX_PTT_TYPE], h[R2S_RX_SQU], h[R2S_RX_PTT_ID], h[R2S_RX_PM], h[R2S_RX_PTTS],
               h[R2S_RX_SCT], p->count != 0);
  else
    put_header(buf, h[R2S_TX_PTT_TYPE], 0, h[R2S_TX_PTT_ID], h[R2S_TX_PM], h[R2S_TX_PTTS], 0, p->count != 0);
  return result;
}

// One known feature of the direction, from exactly its value bytes; false
// for a type-length pair the direction does not know.
bool read_rx(unsigned type, unsigned length, const unsigned char* v, r2s_proto_additional& a) {
  if (type == R2S_FEATURE_SQI && length == 1) {
    r2s_proto_rx_additional_sqi s{uint32_t(v[0] >> 3), uint32_t(v[0] & 7)};
    store(a, R2S_FEATURE_SQI, s);
    return true;
  }
  if (type == R2S_FEATURE_RRC && (length == 1 || length == 4)) {
    r2s_proto_rx_additional_rrc r{};
    read_flags(v[0], r.flags);
    if (length == 4) {
      r.form = 1;
      r.long_flag1 = v[1] >> 7;
      r.long_flag2 = (v[1] >> 6) & 1;
      r.long_byte1 = v[2];
      r.long_byte2 = v[3];
    }
    store(a, R2S_FEATURE_RRC, r);
    return true;
  }
  if (type == R2S_FEATURE_MAM && length == 12) {
    r2s_proto_rx_additional_mam m{};
    get_flag23(v, m.flag1, m.value1);
    get_flag23(v + 3, m.flag2, m.value2);
    m.value3 = get16(v + 6);
    m.value4 = get16(v + 8);
    m.value5 = get16(v + 10);
    store(a, R2S_FEATURE_MAM, m);
    return true;
  }
  return false;
}

bool read_tx(unsigned type, unsigned length, const unsigned char* v, r2s_proto_additional& a) {
  if (type == R2S_FEATURE_TIME_DELAY && length == 1) {
    store(a, R2S_FEATURE_TIME_DELAY, r2s_proto_tx_additional_climax_time_delay{v[0]});
    return true;
  }
  if (type == R2S_FEATURE_RRC && length == 1) {
    r2s_proto_tx_additional_rrc r{};
    read_flags(v[0], r.flags);
    store(a, R2S_FEATURE_RRC, r);
    return true;
  }
  if (type == R2S_FEATURE_RRM && length == 3) {
    r2s_proto_tx_additional_rrm r{};
    get_flag23(v, r.flag, r.value);
    store(a, R2S_FEATURE_RRM, r);
    return true;
  }
  return false;
}

template <typename Read>
int unpack(r2s_proto* p, const unsigned char* buf, int len, bool rx, Read read) {
  if (!p || !buf) return R2S_ENULL;
  if (len < kHeaderBytes) return R2S_ESHORT;
  const unsigned id = (buf[0] & 0x0F) << 2 | buf[1] >> 6;
  const unsigned type = buf[0] >> 5, pm = (buf[1] >> 5) & 1, ptts = (buf[1] >> 4) & 1;
  std::memset(p->header, 0, sizeof p->header);
  if (rx) {
    p->kind = R2S_KIND_RX;
    p->header[R2S_RX_PTT_TYPE] = type;
    p->header[R2S_RX_SQU] = (buf[0] >> 4) & 1;
    p->header[R2S_RX_PTT_ID] = id;
    p->header[R2S_RX_PM] = pm;
    p->header[R2S_RX_PTTS] = ptts;
    p->header[R2S_RX_SCT] = (buf[1] >> 3) & 1;
  } else {
    p->kind = R2S_KIND_TX;
    p->header[R2S_TX_PTT_TYPE] = type;
    p->header[R2S_TX_PTT_ID] = id;
    p->header[R2S_TX_PM] = pm;
    p->header[R2S_TX_PTTS] = ptts;
  }
  p->count = 0;
  if (!(buf[1] & 1)) return 0;

  int result = 0;
  uint32_t count = 0;
  int pos = kHeaderBytes;
  while (pos < len && count < R2S_MAX_FEATURES) {
    const unsigned tl = buf[pos++];
    const int length = int(tl & 0x0F);
    if (length > len - pos) {
      result = R2S_ESHORT;
      break;
    }
    // Zero bytes (type 0, length 0) pad the extension and fall through here.
    if (read(tl >> 4, unsigned(length), buf + pos, p->additionals[count])) ++count;
    pos += length;
  }
  p->count = count;
  return result;
}

}  // namespace

int r2s_proto_init(r2s_proto* p, unsigned long kind) {
  if (!p) return 0;
  std::memset(p, 0, sizeof *p);
  p->kind = uint32_t(kind);
  return 0;
}

int r2s_proto_set_type(r2s_proto* p, unsigned long kind) {
  if (p) p->kind = uint32_t(kind);
  return 0;
}

int r2s_proto_set_tx_header(r2s_proto* p, unsigned long ptt_type, unsigned long ptt_id, unsigned long pm,
                            unsigned long ptts) {
  if (!p) return 0;
  p->kind = R2S_KIND_TX;
  p->header[R2S_TX_PTT_TYPE] = uint32_t(ptt_type);
  p->header[R2S_TX_PTT_ID] = uint32_t(ptt_id);
  p->header[R2S_TX_PM] = uint32_t(pm);
  p->header[R2S_TX_PTTS] = uint32_t(ptts);
  return 0;
}

int r2s_proto_set_rx_header(r2s_proto* p, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long pm, unsigned long ptts, unsigned long sct) {
  if (!p) return 0;
  p->kind = R2S_KIND_RX;
  p->header[R2S_RX_PTT_TYPE] = uint32_t(ptt_type);
  p->header[R2S_RX_SQU] = uint32_t(squ);
  p->header[R2S_RX_PTT_ID] = uint32_t(ptt_id);
  p->header[R2S_RX_PM] = uint32_t(pm);
  p->header[R2S_RX_PTTS] = uint32_t(ptts);
  p->header[R2S_RX_SCT] = uint32_t(sct);
  return 0;
}

int r2s_proto_reset_additionals(r2s_proto* p) {
  if (p) p->count = 0;
  return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* p, r2s_proto_rx_additional_sqi* v) { return add(p, R2S_FEATURE_SQI, v); }

int r2s_proto_add_rx_sqi(r2s_proto* p, unsigned long quality, unsigned long method) {
  r2s_proto_rx_additional_sqi v{uint32_t(quality), uint32_t(method)};
  return add(p, R2S_FEATURE_SQI, &v);
}

int r2s_proto_add_rx_rrc(r2s_proto* p, r2s_proto_rx_additional_rrc* v) { return add(p, R2S_FEATURE_RRC, v); }
int r2s_proto_add_rx_mam(r2s_proto* p, r2s_proto_rx_additional_mam* v) { return add(p, R2S_FEATURE_MAM, v); }
int r2s_proto_add_tx_time_delay(r2s_proto* p, r2s_proto_tx_additional_climax_time_delay* v) {
  return add(p, R2S_FEATURE_TIME_DELAY, v);
}
int r2s_proto_add_tx_rrc(r2s_proto* p, r2s_proto_tx_additional_rrc* v) { return add(p, R2S_FEATURE_RRC, v); }
int r2s_proto_add_tx_rrm(r2s_proto* p, r2s_proto_tx_additional_rrm* v) { return add(p, R2S_FEATURE_RRM, v); }

int r2s_proto_pack(r2s_proto* p, unsigned char* buf, int len) {
  if (!p) return R2S_ENULL;
  switch (p->kind) {
    case R2S_KIND_TX:
      return r2s_proto_pack_tx(p, buf, len);
    case R2S_KIND_RX:
      return r2s_proto_pack_rx(p, buf, len);
    default:
      return R2S_EKIND;
  }
}

int r2s_proto_pack_rx(r2s_proto* p, unsigned char* buf, int len) { return pack(p, buf, len, true, write_rx); }
int r2s_proto_pack_tx(r2s_proto* p, unsigned char* buf, int len) { return pack(p, buf, len, false, write_tx); }

int r2s_proto_unpack_rx(r2s_proto* p, unsigned char* buf, int len) { return unpack(p, buf, len, true, read_rx); }
int r2s_proto_unpack_tx(r2s_proto* p, unsigned char* buf, int len) { return unpack(p, buf, len, false, read_tx); }

int cmp_r2s_proto_source(r2s_proto* a, r2s_proto* b) {
  if (!a || !b) return -1;
  auto sign = [](uint32_t x, uint32_t y) { return x < y ? -1 : x > y ? 1 : 0; };
  if (int d = sign(b->kind, a->kind)) return d;
  if (int d = sign(b->source_ssrc, a->source_ssrc)) return d;
  return sign(b->source_addr, a->source_addr);
}
