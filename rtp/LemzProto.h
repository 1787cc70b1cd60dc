#pragma once
// The LEMZ radio signalling packets that ride in the RTP header extension
// (profile 0x1337): the packet record, its packer and unpacker, and the
// small helpers around them. Plain functions over caller-owned records:
// nothing is allocated, nothing is logged, every result is an integer code.
//
// A packet is a 4-byte header and the body of its type, big-endian, padded
// with zeros to a multiple of 4 bytes; the one exception is the session
// address of WM_TRANS and WM_SEL_CALL_TRANS, whose octets travel reversed.
#include <netinet/in.h>

#include <cstdint>

// Result codes of the codec.
enum : int {
  SIG_PROTO_ENULL = -7,    // a null record or null data
  SIG_PROTO_ETYPE = -8,    // a type that is not one of the twenty
  SIG_PROTO_ESHORT = -9,   // data or buffer too short
};

// Packet types: commands to a radio gateway (GW_*) and its reports (WM_*).
enum : uint32_t {
  GW_FLAG = 1,
  GW_ADJUST_CHAN = 2,
  GW_FLAG_PTT = 3,
  GW_FLAG_BSS = 4,
  GW_FLAG_RV = 5,
  GW_FLAG_SH = 6,
  GW_FLAG_PW = 7,
  GW_FLAG_RS = 8,
  GW_SEL_CALL = 9,
  GW_SELECT_RC_CHAN = 10,
  GW_ADJUST_SQUELSHE = 11,
  GW_ADJUST_RTE = 12,
  GW_ADJUST_STANDBY = 13,
  WM_FLAG = 129,
  WM_TRANS = 130,
  WM_RADIO_QUALITY = 131,
  WM_CHAN = 132,
  WM_SEL_CALL_TRANS = 133,
  WM_SELECT_RC_CHAN = 134,
  WM_STANDBY = 135,
};

struct sig_proto_gw_adjust_chan {
  uint32_t id;
  float freq;
};

struct sig_proto_gw_sel_call {
  uint8_t callerID_length;
  uint8_t callerID[256];
};

struct sig_proto_select_rc_chan {
  uint8_t interface;
  uint8_t channel;
};

struct sig_proto_gw_adjust_squelsh {
  uint8_t squelsh;
};

struct sig_proto_gw_adjust_rte {
  uint8_t rte;
};

struct sig_proto_gw_adjust_standby {
  uint8_t state;
};

struct sig_proto_wm_trans {
  in_addr session_addr;
  uint32_t ssrc;
};

struct sig_proto_wm_radio_quality {
  float radio_quality;
};

struct sig_proto_wm_chan {
  uint32_t id;
  float freq;
  uint8_t squelsh;
  uint8_t rte;
};

struct sig_proto_wm_sel_call_trans {
  in_addr session_addr;
  uint32_t ssrc;
  uint8_t callerID_length;
  uint8_t callerID[256];
};

struct sig_proto_wm_standby {
  uint8_t state;
  uint8_t group;
  uint8_t receiver_state;
};

struct sig_proto {
  // The sender: IPv4 address (network order) and SSRC. Filled by the
  // receiver from the channel's packet descriptor, or by the sender from its
  // state; never on the wire, never touched by pack or unpack.
  uint32_t src_addr;
  uint32_t src_ssrc;

  uint32_t type;
  uint32_t priority;  // 4 bits on the wire
  uint32_t flag_t, flag_p, flag_r, flag_s, flag_b, flag_rv, flag_sh, flag_rs, flag_pw;  // 1 bit each
  uint32_t flag_c;  // 2 bits
  uint32_t status;  // 9 bits

  union {
    sig_proto_gw_adjust_chan gw_adjust_chan;
    sig_proto_gw_sel_call gw_sel_call;
    sig_proto_select_rc_chan gw_select_rc_chan;
    sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
    sig_proto_gw_adjust_rte gw_adjust_rte;
    sig_proto_gw_adjust_standby gw_adjust_standby;
    sig_proto_wm_trans wm_trans;
    sig_proto_wm_radio_quality wm_radio_quality;
    sig_proto_wm_chan wm_chan;
    sig_proto_wm_sel_call_trans wm_sel_call_trans;
    sig_proto_select_rc_chan wm_select_rc_chan;
    sig_proto_wm_standby wm_standby;
  };
};

struct s_sig_proto_table_name {
  int id;
  const char* name;
};

// The packet names, ended by a row of id -1; 128 rows in all.
extern const s_sig_proto_table_name sig_proto_packet_const_name[128];

struct sig_proto_queue {
  sig_proto records[32];
  uint8_t area[128];
};

// The types the first records of a queue are preset with.
extern const uint32_t init_sig_proto_type[17];

// Wire bytes of a record: the byte count (4 or more); -9 when the buffer is
// too small (nothing written below 4 bytes, the header alone otherwise); 0
// for a null record or buffer. The whole buffer is cleared first.
int sig_proto_pack(const sig_proto* p, uint8_t* buf, int len);
// A record from received bytes: 0; -7 null; -8 unknown type (only `type`
// set); -9 too short (record unchanged). Bytes after the body are ignored.
int sig_proto_unpack(sig_proto* p, const uint8_t* data, int len);
int sig_proto_init(sig_proto* p);

// Negative arguments leave their field alone.
int sig_proto_set_base(sig_proto* p, int priority, int flag_t, int flag_p, int flag_r, int flag_s,
                       int flag_b, int flag_rv, int flag_sh, int flag_pw, int flag_rs, int flag_c,
                       int status);
int sig_proto_set_ptt(sig_proto* p, int ptt);
bool sig_proto_is_ptt_command(const sig_proto* p);

int sig_proto_set_gw_adjust_chan(sig_proto* p, unsigned id, float freq);
int sig_proto_set_gw_adjust_squelsh(sig_proto* p, uint8_t squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* p, uint8_t rte);
int sig_proto_set_gw_adjust_standby(sig_proto* p, uint8_t state);
int sig_proto_set_gw_selcall(sig_proto* p, const char* callerID, uint8_t length);
int sig_proto_set_gw_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel);
int sig_proto_set_wm_transmite(sig_proto* p, in_addr address, unsigned ssrc);
int sig_proto_set_wm_radio_quality(sig_proto* p, float quality);
int sig_proto_set_wm_chan(sig_proto* p, unsigned id, float freq, uint8_t squelsh, uint8_t rte);
int sig_proto_set_wm_selcall_transmite(sig_proto* p, in_addr address, unsigned ssrc,
                                       const char* callerID, uint8_t length);
int sig_proto_set_wm_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel);
int sig_proto_set_wm_standby(sig_proto* p, uint8_t state, uint8_t group, uint8_t receiver_state);

// 0 when a and b have the same type and sender; -1 when either is null.
int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b);
// Compare the full text dumps / the flag-only dumps; 0 means equal.
int cmp_sig_proto(const sig_proto* a, const sig_proto* b);
int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b);

// Text dump modes: 1 type as a number, 2 type by name, 4 flags only.
int sprintf_sig_proto(char* buf, long size, const sig_proto* p, int mode);

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id);
int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name);

int init_sig_proto_queue(sig_proto_queue* q);
bool is_little_endian();
