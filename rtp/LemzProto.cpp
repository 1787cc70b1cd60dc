#include "rtp/LemzProto.h"

#include <arpa/inet.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kHeader = 4;

void putBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

uint32_t getBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void putFloat(uint8_t* p, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  putBE32(p, bits);
}

float getFloat(const uint8_t* p) {
  uint32_t bits = getBE32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// The session address travels with its octets reversed: the first octet of
// the dotted form last. Working on the octets in memory (network order)
// gives the same bytes on hosts of either byte order.
void putAddr(uint8_t* p, in_addr a) {
  uint8_t m[4];
  std::memcpy(m, &a.s_addr, 4);
  for (int i = 0; i < 4; ++i) p[i] = m[3 - i];
}

in_addr getAddr(const uint8_t* p) {
  uint8_t m[4];
  for (int i = 0; i < 4; ++i) m[i] = p[3 - i];
  in_addr a;
  std::memcpy(&a.s_addr, m, 4);
  return a;
}

void putHeader(uint8_t* b, const sig_proto& p) {
  b[0] = uint8_t(p.type);
  b[1] = uint8_t(((p.priority & 15) << 4) | ((p.flag_t & 1) << 3) | ((p.flag_p & 1) << 2) |
                 ((p.flag_r & 1) << 1) | (p.flag_s & 1));
  b[2] = uint8_t(((p.flag_b & 1) << 7) | ((p.flag_rv & 1) << 6) | ((p.flag_sh & 1) << 5) |
                 ((p.flag_pw & 1) << 4) | ((p.status >> 5) & 15));
  b[3] = uint8_t(((p.status & 31) << 3) | ((p.flag_c & 3) << 1) | (p.flag_rs & 1));
}

int roundUp4(int n) { return (n + 3) & ~3; }

bool hasBody(uint32_t type) {
  return type == GW_ADJUST_CHAN || (type >= GW_SEL_CALL && type <= GW_ADJUST_STANDBY) ||
         (type >= WM_TRANS && type <= WM_STANDBY);
}

// The buffer a body needs; for the caller-ID types more than is written.
int packNeed(const sig_proto& p) {
  switch (p.type) {
    case GW_ADJUST_CHAN:
    case WM_TRANS:
      return 12;
    case GW_SEL_CALL:
      return 12 + p.gw_sel_call.callerID_length;
    case WM_CHAN:
      return 16;
    case WM_SEL_CALL_TRANS:
      return 20 + p.wm_sel_call_trans.callerID_length;
    default:
      return 8;  // 10 to 13, 131, 134, 135
  }
}

}  // namespace

bool is_little_endian() {
  const uint16_t probe = 1;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

int sig_proto_init(sig_proto* p) {
  if (p) std::memset(p, 0, sizeof *p);
  return 0;
}

int sig_proto_pack(const sig_proto* p, uint8_t* buf, int len) {
  if (!p || !buf) return 0;
  if (len < kHeader) return SIG_PROTO_ESHORT;
  std::memset(buf, 0, size_t(len));
  putHeader(buf, *p);
  if (p->type > WM_STANDBY || !hasBody(p->type)) return kHeader;
  if (len < packNeed(*p)) return SIG_PROTO_ESHORT;
  uint8_t* b = buf + kHeader;
  switch (p->type) {
    case GW_ADJUST_CHAN:
      putBE32(b, p->gw_adjust_chan.id);
      putFloat(b + 4, p->gw_adjust_chan.freq);
      return 12;
    case GW_SEL_CALL: {
      int n = p->gw_sel_call.callerID_length;
      b[0] = uint8_t(n);
      std::memcpy(b + 1, p->gw_sel_call.callerID, size_t(n));
      return roundUp4(5 + n);
    }
    case GW_SELECT_RC_CHAN:
      b[0] = p->gw_select_rc_chan.interface;
      b[1] = p->gw_select_rc_chan.channel;
      return 8;
    case GW_ADJUST_SQUELSHE:
      b[0] = p->gw_adjust_squelsh.squelsh;
      return 8;
    case GW_ADJUST_RTE:
      b[0] = p->gw_adjust_rte.rte;
      return 8;
    case GW_ADJUST_STANDBY:
      b[0] = p->gw_adjust_standby.state;
      return 8;
    case WM_TRANS:
      putAddr(b, p->wm_trans.session_addr);
      putBE32(b + 4, p->wm_trans.ssrc);
      return 12;
    case WM_RADIO_QUALITY:
      putFloat(b, p->wm_radio_quality.radio_quality);
      return 8;
    case WM_CHAN:
      putBE32(b, p->wm_chan.id);
      putFloat(b + 4, p->wm_chan.freq);
      b[8] = p->wm_chan.squelsh;
      b[9] = p->wm_chan.rte;
      return 16;
    case WM_SEL_CALL_TRANS: {
      int n = p->wm_sel_call_trans.callerID_length;
      putAddr(b, p->wm_sel_call_trans.session_addr);
      putBE32(b + 4, p->wm_sel_call_trans.ssrc);
      b[8] = uint8_t(n);
      std::memcpy(b + 9, p->wm_sel_call_trans.callerID, size_t(n));
      return roundUp4(13 + n);
    }
    case WM_SELECT_RC_CHAN:
      b[0] = p->wm_select_rc_chan.interface;
      b[1] = p->wm_select_rc_chan.channel;
      return 8;
    case WM_STANDBY:
      b[0] = p->wm_standby.state;
      b[1] = p->wm_standby.group;
      b[2] = p->wm_standby.receiver_state;
      return 8;
  }
  return kHeader;
}

int sig_proto_unpack(sig_proto* p, const uint8_t* data, int len) {
  if (!p || !data) return SIG_PROTO_ENULL;
  if (len < kHeader) return SIG_PROTO_ESHORT;
  sig_proto h = *p;  // header and body are committed together on success
  h.type = data[0];
  h.priority = data[1] >> 4;
  h.flag_t = (data[1] >> 3) & 1;
  h.flag_p = (data[1] >> 2) & 1;
  h.flag_r = (data[1] >> 1) & 1;
  h.flag_s = data[1] & 1;
  h.flag_b = data[2] >> 7;
  h.flag_rv = (data[2] >> 6) & 1;
  h.flag_sh = (data[2] >> 5) & 1;
  h.flag_pw = (data[2] >> 4) & 1;
  h.status = (uint32_t(data[2] & 15) << 5) | (data[3] >> 3);
  h.flag_c = (data[3] >> 1) & 3;
  h.flag_rs = data[3] & 1;
  const uint8_t* b = data + kHeader;
  switch (h.type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_FLAG_BSS:
    case GW_FLAG_RV:
    case GW_FLAG_SH:
    case GW_FLAG_PW:
    case GW_FLAG_RS:
    case WM_FLAG:
      break;
    case GW_ADJUST_CHAN:
      if (len < 12) return SIG_PROTO_ESHORT;
      h.gw_adjust_chan.id = getBE32(b);
      h.gw_adjust_chan.freq = getFloat(b + 4);
      break;
    case GW_SEL_CALL: {
      if (len < 5) return SIG_PROTO_ESHORT;
      int n = b[0];
      if (len < 5 + n) return SIG_PROTO_ESHORT;
      h.gw_sel_call.callerID_length = uint8_t(n);
      // Only the announced bytes: nothing of an earlier packet stays behind.
      std::memset(h.gw_sel_call.callerID, 0, sizeof h.gw_sel_call.callerID);
      std::memcpy(h.gw_sel_call.callerID, b + 1, size_t(n));
      break;
    }
    case GW_SELECT_RC_CHAN:
      if (len < 8) return SIG_PROTO_ESHORT;
      h.gw_select_rc_chan.interface = b[0];
      h.gw_select_rc_chan.channel = b[1];
      break;
    case GW_ADJUST_SQUELSHE:
      if (len < 8) return SIG_PROTO_ESHORT;
      h.gw_adjust_squelsh.squelsh = b[0];
      break;
    case GW_ADJUST_RTE:
      if (len < 8) return SIG_PROTO_ESHORT;
      h.gw_adjust_rte.rte = b[0];
      break;
    case GW_ADJUST_STANDBY:
      if (len < 8) return SIG_PROTO_ESHORT;
      h.gw_adjust_standby.state = b[0];
      break;
    case WM_TRANS:
      if (len < 12) return SIG_PROTO_ESHORT;
      h.wm_trans.session_addr = getAddr(b);
      h.wm_trans.ssrc = getBE32(b + 4);
      break;
    case WM_RADIO_QUALITY:
      if (len < 8) return SIG_PROTO_ESHORT;
      h.wm_radio_quality.radio_quality = getFloat(b);
      break;
    case WM_CHAN:
      if (len < 16) return SIG_PROTO_ESHORT;
      h.wm_chan.id = getBE32(b);
      h.wm_chan.freq = getFloat(b + 4);
      h.wm_chan.squelsh = b[8];
      h.wm_chan.rte = b[9];
      break;
    case WM_SEL_CALL_TRANS: {
      if (len < 13) return SIG_PROTO_ESHORT;
      int n = b[8];
      if (len < 13 + n) return SIG_PROTO_ESHORT;
      h.wm_sel_call_trans.session_addr = getAddr(b);
      h.wm_sel_call_trans.ssrc = getBE32(b + 4);
      h.wm_sel_call_trans.callerID_length = uint8_t(n);
      std::memset(h.wm_sel_call_trans.callerID, 0, sizeof h.wm_sel_call_trans.callerID);
      std::memcpy(h.wm_sel_call_trans.callerID, b + 9, size_t(n));
      break;
    }
    case WM_SELECT_RC_CHAN:
      if (len < 8) return SIG_PROTO_ESHORT;
      h.wm_select_rc_chan.interface = b[0];
      h.wm_select_rc_chan.channel = b[1];
      break;
    case WM_STANDBY:
      if (len < 8) return SIG_PROTO_ESHORT;
      h.wm_standby.state = b[0];
      h.wm_standby.group = b[1];
      h.wm_standby.receiver_state = b[2];
      break;
    default:
      p->type = h.type;
      return SIG_PROTO_ETYPE;
  }
  *p = h;
  return 0;
}

int sig_proto_set_base(sig_proto* p, int priority, int flag_t, int flag_p, int flag_r, int flag_s,
                       int flag_b, int flag_rv, int flag_sh, int flag_pw, int flag_rs, int flag_c,
                       int status) {
  if (!p) return 0;
  auto set = [](uint32_t& field, int v) {
    if (v >= 0) field = uint32_t(v);
  };
  set(p->priority, priority);
  set(p->flag_t, flag_t);
  set(p->flag_p, flag_p);
  set(p->flag_r, flag_r);
  set(p->flag_s, flag_s);
  set(p->flag_b, flag_b);
  set(p->flag_rv, flag_rv);
  set(p->flag_sh, flag_sh);
  set(p->flag_pw, flag_pw);
  set(p->flag_rs, flag_rs);
  set(p->flag_c, flag_c);
  set(p->status, status);
  return 0;
}

int sig_proto_set_ptt(sig_proto* p, int ptt) {
  if (p && ptt >= 0) p->flag_p = uint32_t(ptt);
  return 0;
}

bool sig_proto_is_ptt_command(const sig_proto* p) {
  if (!p) return false;
  switch (p->type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
      return true;
  }
  return false;
}

namespace {

void setCallerID(uint8_t (&field)[256], uint8_t& length, const char* text, uint8_t n) {
  std::memset(field, 0, sizeof field);
  if (text) std::strncpy(reinterpret_cast<char*>(field), text, sizeof field - 1);
  length = text ? n : 0;
}

}  // namespace

int sig_proto_set_gw_adjust_chan(sig_proto* p, unsigned id, float freq) {
  if (p) p->gw_adjust_chan = {id, freq};
  return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* p, uint8_t squelsh) {
  if (p) p->gw_adjust_squelsh.squelsh = squelsh;
  return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* p, uint8_t rte) {
  if (p) p->gw_adjust_rte.rte = rte;
  return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* p, uint8_t state) {
  if (p) p->gw_adjust_standby.state = state;
  return 0;
}

int sig_proto_set_gw_selcall(sig_proto* p, const char* callerID, uint8_t length) {
  if (p) setCallerID(p->gw_sel_call.callerID, p->gw_sel_call.callerID_length, callerID, length);
  return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel) {
  if (p) p->gw_select_rc_chan = {interface, channel};
  return 0;
}

int sig_proto_set_wm_transmite(sig_proto* p, in_addr address, unsigned ssrc) {
  if (p) p->wm_trans = {address, ssrc};
  return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* p, float quality) {
  if (p) p->wm_radio_quality.radio_quality = quality;
  return 0;
}

int sig_proto_set_wm_chan(sig_proto* p, unsigned id, float freq, uint8_t squelsh, uint8_t rte) {
  if (p) p->wm_chan = {id, freq, squelsh, rte};
  return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr address, unsigned ssrc,
                                       const char* callerID, uint8_t length) {
  if (!p) return 0;
  p->wm_sel_call_trans.session_addr = address;
  p->wm_sel_call_trans.ssrc = ssrc;
  setCallerID(p->wm_sel_call_trans.callerID, p->wm_sel_call_trans.callerID_length, callerID,
              length);
  return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel) {
  if (p) p->wm_select_rc_chan = {interface, channel};
  return 0;
}

int sig_proto_set_wm_standby(sig_proto* p, uint8_t state, uint8_t group, uint8_t receiver_state) {
  if (p) p->wm_standby = {state, group, receiver_state};
  return 0;
}

int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b) {
  if (!a || !b) return -1;
  if (b->type != a->type) return int(b->type - a->type);
  if (b->src_ssrc != a->src_ssrc) return int(b->src_ssrc - a->src_ssrc);
  return int(b->src_addr - a->src_addr);
}

// ---- text dump --------------------------------------------------------------

const s_sig_proto_table_name sig_proto_packet_const_name[128] = {
    {1, "GW_FLAG"},
    {2, "GW_ADJUST_CHAN"},
    {3, "GW_FLAG_PTT"},
    {4, "GW_FLAG_BSS"},
    {5, "GW_FLAG_RV"},
    {6, "GW_FLAG_SH"},
    {7, "GW_FLAG_PW"},
    {8, "GW_FLAG_RS"},
    {9, "GW_SEL_CALL"},
    {10, "GW_SELECT_RC_CHAN"},
    {11, "GW_ADJUST_SQUELSHE"},
    {12, "GW_ADJUST_RTE"},
    {13, "GW_ADJUST_STANDBY"},
    {129, "WM_FLAG"},
    {130, "WM_TRANS"},
    {131, "WM_RADIO_QUALITY"},
    {132, "WM_CHAN"},
    {133, "WM_SEL_CALL_TRANS"},
    {134, "WM_SELECT_RC_CHAN"},
    {135, "WM_STANDBY"},
    {-1, ""},
    // the remaining rows stay {0, null} and are never reached
};

const uint32_t init_sig_proto_type[17] = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id) {
  if (!table) return nullptr;
  for (int i = 0; i < 128 && table[i].id >= 0; ++i)
    if (table[i].id == id) return table[i].name;
  return nullptr;
}

int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < 128 && table[i].id >= 0; ++i)
    if (table[i].name && std::strcmp(table[i].name, name) == 0) return table[i].id;
  return -1;
}

int init_sig_proto_queue(sig_proto_queue* q) {
  if (!q) return 0;
  std::memset(q, 0, sizeof *q);
  for (int i = 0; i < 32; ++i) q->records[i].type = i < 17 ? init_sig_proto_type[i] : uint32_t(-1);
  return 0;
}

namespace {

// Appends to a cleared text buffer, never past its size.
class Text {
 public:
  Text(char* buf, long size) : buf_(buf), size_(size) { buf_[0] = '\0'; }
  __attribute__((format(printf, 2, 3))) void add(const char* fmt, ...) {
    if (len_ >= size_ - 1) return;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf_ + len_, size_t(size_ - len_), fmt, ap);
    va_end(ap);
    if (n > 0) len_ = n < size_ - len_ ? len_ + n : size_ - 1;
  }
  int length() const { return int(len_); }

 private:
  char* buf_;
  long size_;
  long len_ = 0;
};

void dumpCallerID(Text& t, const char* member, const uint8_t* id, int n) {
  t.add("%s.callerID_length: %d,\n", member, n);
  t.add("%s.callerID : \n", member);
  for (int i = 0; i < n; ++i) t.add("[%d] : 0x%02X,\n", i, id[i]);
}

std::string dotted(in_addr a) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

void dumpBody(Text& t, const sig_proto& p) {
  switch (p.type) {
    case GW_ADJUST_CHAN:
      t.add("gw_adjust_chan.id   : %lu,\n", (unsigned long)p.gw_adjust_chan.id);
      t.add("gw_adjust_chan.freq : %4.4f,\n", double(p.gw_adjust_chan.freq));
      break;
    case GW_SEL_CALL:
      dumpCallerID(t, "gw_sel_call", p.gw_sel_call.callerID, p.gw_sel_call.callerID_length);
      break;
    case GW_SELECT_RC_CHAN:
      t.add("gw_select_rc_chan.interface : %d,\n", p.gw_select_rc_chan.interface);
      t.add("gw_select_rc_chan.channel   : %d,\n", p.gw_select_rc_chan.channel);
      break;
    case GW_ADJUST_SQUELSHE:
      t.add("gw_adjust_squelsh.squelsh   : %d,\n", p.gw_adjust_squelsh.squelsh);
      break;
    case GW_ADJUST_RTE:
      t.add("gw_adjust_rte.rte   : %d,\n", p.gw_adjust_rte.rte);
      break;
    case GW_ADJUST_STANDBY:
      t.add("gw_adjust_standby.state   : %d,\n", p.gw_adjust_standby.state);
      break;
    case WM_TRANS:
      t.add("wm_trans.session_addr : %s,\n", dotted(p.wm_trans.session_addr).c_str());
      t.add("wm_trans.ssrc         : 0x%08lX,\n", (unsigned long)p.wm_trans.ssrc);
      break;
    case WM_RADIO_QUALITY:
      t.add("wm_radio_quality.radio_quality : %4.5f,\n", double(p.wm_radio_quality.radio_quality));
      break;
    case WM_CHAN:
      t.add("wm_chan.id   : %lu,\n", (unsigned long)p.wm_chan.id);
      t.add("wm_chan.freq : %4.4f,\n", double(p.wm_chan.freq));
      t.add("wm_chan.squelsh : %d,\n", p.wm_chan.squelsh);
      t.add("wm_chan.rte     : %d,\n", p.wm_chan.rte);
      break;
    case WM_SEL_CALL_TRANS:
      t.add("wm_sel_call_trans.session_addr : %s,\n",
            dotted(p.wm_sel_call_trans.session_addr).c_str());
      t.add("wm_sel_call_trans.ssrc         : 0x%08lX,\n", (unsigned long)p.wm_sel_call_trans.ssrc);
      dumpCallerID(t, "wm_sel_call_trans", p.wm_sel_call_trans.callerID,
                   p.wm_sel_call_trans.callerID_length);
      break;
    case WM_SELECT_RC_CHAN:
      t.add("wm_select_rc_chan.interface : %d,\n", p.wm_select_rc_chan.interface);
      t.add("wm_select_rc_chan.channel   : %d,\n", p.wm_select_rc_chan.channel);
      break;
    case WM_STANDBY:
      t.add("wm_standby.state           : %d,\n", p.wm_standby.state);
      t.add("wm_standby.group           : %d,\n", p.wm_standby.group);
      t.add("wm_standby.receiver_state  : %d,\n", p.wm_standby.receiver_state);
      break;
  }
}

// Types 0 to 13 and 129 to 135 have a dump; the others none.
bool dumpable(uint32_t type) { return type <= GW_ADJUST_STANDBY || (type >= WM_FLAG && type <= WM_STANDBY); }

}  // namespace

int sprintf_sig_proto(char* buf, long size, const sig_proto* p, int mode) {
  if (!buf || !p || size < 1 || !dumpable(p->type)) return 0;
  Text t(buf, size);
  const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, int(p->type));
  if ((mode & 2) && name)
    t.add("type      : %s,\n", name);
  else if (mode & 3)
    t.add("type      : 0x%08lX,\n", (unsigned long)p->type);
  t.add("flag_t   : %lu,\n", (unsigned long)p->flag_t);
  t.add("flag_p   : %lu,\n", (unsigned long)p->flag_p);
  t.add("flag_r   : %lu,\n", (unsigned long)p->flag_r);
  t.add("flag_s   : %lu,\n", (unsigned long)p->flag_s);
  t.add("flag_b   : %lu,\n", (unsigned long)p->flag_b);
  t.add("flag_rv  : %lu,\n", (unsigned long)p->flag_rv);
  t.add("flag_sh  : %lu,\n", (unsigned long)p->flag_sh);
  t.add("flag_rs  : %lu,\n", (unsigned long)p->flag_rs);
  t.add("flag_pw  : %lu,\n", (unsigned long)p->flag_pw);
  t.add("flag_c   : %lu,\n", (unsigned long)p->flag_c);
  if (mode & 4) return t.length();
  t.add("priority : %lu,\n", (unsigned long)p->priority);
  t.add("status   : %lu,\n", (unsigned long)p->status);
  dumpBody(t, *p);
  return t.length();
}

namespace {

int compareDumps(const sig_proto* a, const sig_proto* b, int mode) {
  if (!a || !b) return -1;
  static thread_local char ta[8192], tb[8192];
  int la = sprintf_sig_proto(ta, sizeof ta, a, mode);
  int lb = sprintf_sig_proto(tb, sizeof tb, b, mode);
  if (la != lb) return lb - la;
  return std::strncmp(ta, tb, size_t(la));
}

}  // namespace

int cmp_sig_proto(const sig_proto* a, const sig_proto* b) { return compareDumps(a, b, 1); }

int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b) { return compareDumps(a, b, 4); }
