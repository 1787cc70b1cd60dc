#include "monitoring/Trap.h"

#include <sys/sysinfo.h>
#include <sys/time.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/types.h>
#include <net-snmp/library/asn1.h>
#include <net-snmp/library/snmp.h>

namespace SnmpTrap {

namespace {

const char kDefaultCommunity[] = "marlow";
const unsigned char kSequence = ASN_SEQUENCE | ASN_CONSTRUCTOR;
// The sequence header net-snmp writes: type, 0x82, two length octets.
const size_t kSeqHeader = 4;

// Writes a four-octet SEQUENCE-style header with the given type and length
// at p; the position after it, or null.
unsigned char* header(unsigned char* p, unsigned char type, size_t length) {
  size_t room = kSeqHeader;
  return asn_build_sequence(p, &room, type, length);
}

}  // namespace

int snmp_session_seed(Context* c, uint32_t seed) {
  if (c) c->requestId = seed;
  return 0;
}

int trap_init(Context* c, const char* community) {
  if (!c) return 0;
  const uint32_t seed = c->requestId;
  c->version = 1;
  c->pduType = 0xA7;
  c->requestId = ((seed * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
  c->errorStatus = 0;
  c->errorIndex = 0;
  std::memset(c->community, 0, sizeof c->community);
  std::strncpy(c->community, community ? community : kDefaultCommunity, Context::kCommunitySize - 1);
  std::memset(c->buffer, 0, sizeof c->buffer);
  c->room = Context::kBufferSize;
  c->length = 0;
  c->state = Context::Initialised;
  c->afterMessageHeader = c->pduHeader = c->afterPduHeader = nullptr;
  c->bindingsHeader = c->afterBindingsHeader = c->write = nullptr;
  return 0;
}

int trap_pack_begin(Context* c) {
  if (!c || c->state != Context::Initialised) return -1;
  unsigned char* p = c->buffer;
  size_t room = Context::kBufferSize;
  const long version = long(c->version);
  const long requestId = long(c->requestId);
  const long errorStatus = long(c->errorStatus);
  const long errorIndex = long(c->errorIndex);
  const unsigned char intType = ASN_UNIVERSAL | ASN_PRIMITIVE | ASN_INTEGER;

  p = asn_build_sequence(p, &room, kSequence, 0);
  if (!p) return -1;
  unsigned char* afterMessage = p;
  p = asn_build_int(p, &room, intType, &version, sizeof version);
  if (p)
    p = asn_build_string(p, &room, ASN_UNIVERSAL | ASN_PRIMITIVE | ASN_OCTET_STR,
                         reinterpret_cast<const u_char*>(c->community), std::strlen(c->community));
  if (!p) return -1;
  unsigned char* pdu = p;
  p = asn_build_sequence(p, &room, static_cast<unsigned char>(c->pduType), 0);
  if (!p) return -1;
  unsigned char* afterPdu = p;
  p = asn_build_int(p, &room, intType, &requestId, sizeof requestId);
  if (p) p = asn_build_int(p, &room, intType, &errorStatus, sizeof errorStatus);
  if (p) p = asn_build_int(p, &room, intType, &errorIndex, sizeof errorIndex);
  if (!p) return -1;
  unsigned char* bindings = p;
  p = asn_build_sequence(p, &room, kSequence, 0);
  if (!p) return -1;

  c->state = Context::Opened;
  c->afterMessageHeader = afterMessage;
  c->pduHeader = pdu;
  c->afterPduHeader = afterPdu;
  c->bindingsHeader = bindings;
  c->afterBindingsHeader = p;
  c->write = p;
  c->room = room;
  return 0;
}

int trap_pack_add(Context* c, const uint32_t* name, size_t count, unsigned char type, const void* value,
                  size_t value_len) {
  if (!c || (c->state != Context::Opened && c->state != Context::Filled) || !c->write) return -1;
  if (!name || count == 0 || count > MAX_OID_LEN) {
    c->write = nullptr;
    return -1;
  }
  oid id[MAX_OID_LEN];
  for (size_t i = 0; i < count; ++i) id[i] = name[i];
  size_t idLen = count;
  size_t room = c->room;
  unsigned char* p = snmp_build_var_op(c->write, id, &idLen, type, value_len,
                                       static_cast<u_char*>(const_cast<void*>(value)), &room);
  c->write = p;
  if (!p) return -1;
  c->room = room;
  c->state = Context::Filled;
  return 0;
}

int trap_pack_end(Context* c) {
  if (!c || (c->state != Context::Opened && c->state != Context::Filled)) return -1;
  if (!c->afterMessageHeader || !c->pduHeader || !c->afterPduHeader || !c->bindingsHeader ||
      !c->afterBindingsHeader || !c->write)
    return -1;
  unsigned char* end = c->write;
  if (!header(c->bindingsHeader, kSequence, size_t(end - c->afterBindingsHeader)) ||
      !header(c->pduHeader, static_cast<unsigned char>(c->pduType), size_t(end - c->afterPduHeader)) ||
      !header(c->buffer, kSequence, size_t(end - c->afterMessageHeader)))
    return -1;
  c->length = size_t(end - c->buffer);
  c->state = Context::Closed;
  return 0;
}

int get_uptime() {
  struct sysinfo si;
  if (::sysinfo(&si) != 0) si.uptime = 0;
  timeval tv;
  ::gettimeofday(&tv, nullptr);
  return int(si.uptime * 100 + tv.tv_usec / 10000);
}

int parse_oid(uint32_t* out, int max, const char* text) {
  if (!out || !text || max <= 0) return 0;
  const std::string t(text, strnlen(text, 127));
  int n = 0;
  size_t pos = 0;
  while (pos <= t.size() && n < max) {
    size_t dot = t.find('.', pos);
    if (dot == std::string::npos) dot = t.size();
    if (dot > pos) out[n++] = uint32_t(std::strtoul(t.substr(pos, dot - pos).c_str(), nullptr, 10));
    pos = dot + 1;
  }
  return n;
}

}  // namespace SnmpTrap
