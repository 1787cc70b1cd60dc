#pragma once
// An SNMPv2c trap (an SNMPv2-Trap-PDU inside a community message) built in
// BER into a fixed buffer of the caller's context: initialise, open, add
// the variable bindings one by one, close, then take the first `length`
// octets of `buffer`. The encoding itself is net-snmp's; this only keeps the
// order of the elements and fills in the lengths once they are known.
//
// Every SEQUENCE header (message, PDU, binding list, each binding) has the
// fixed four-octet form (type, 0x82, two length octets), so that a length
// can be written in place after the contents.
#include <cstddef>
#include <cstdint>

namespace SnmpTrap {

struct Context {
  static const size_t kBufferSize = 2048;
  static const size_t kCommunitySize = 32;

  enum State { Initialised = 0, Opened = 1, Filled = 2, Closed = 3 };

  uint32_t version = 0;
  uint32_t pduType = 0;
  uint32_t requestId = 0;
  uint32_t errorStatus = 0;
  uint32_t errorIndex = 0;
  char community[kCommunitySize] = {};
  uint32_t state = Initialised;
  unsigned char buffer[kBufferSize] = {};
  size_t room = 0;
  size_t length = 0;

  unsigned char* afterMessageHeader = nullptr;
  unsigned char* pduHeader = nullptr;
  unsigned char* afterPduHeader = nullptr;
  unsigned char* bindingsHeader = nullptr;
  unsigned char* afterBindingsHeader = nullptr;
  unsigned char* write = nullptr;
};

// Stores the seed from which trap_init derives the request-id. 0.
int snmp_session_seed(Context* c, uint32_t seed);

// Version 1 (SNMPv2c), PDU type 0xA7, request-id from the seed, the
// community (at most 31 characters; null: "marlow"), an empty buffer. 0.
int trap_init(Context* c, const char* community);

// Writes everything up to the binding list's header. -1 unless just
// initialised, or when the buffer is too small.
int trap_pack_begin(Context* c);

// Appends one binding: the identifier (count sub-identifiers), the value's
// BER type and its octets. An INTEGER, Counter32, Gauge32 or TimeTicks value
// is a `long` (value_len sizeof(long)) as net-snmp's encoder takes it; an
// OCTET STRING or IpAddress the octets themselves; an OBJECT IDENTIFIER an
// array of unsigned long sub-identifiers; NULL no octets. -1 when
// not opened, or when the binding cannot be built (after which the context
// takes no further binding and cannot be closed).
int trap_pack_add(Context* c, const uint32_t* name, size_t count, unsigned char type, const void* value,
                  size_t value_len);

// Fills in the lengths of the binding list, the PDU and the message, and
// the total length. -1 unless opened with every position set.
int trap_pack_end(Context* c);

// The system's uptime in hundredths of a second (for a sysUpTime binding).
int get_uptime();

// Splits a dotted identifier ("1.3.6.1.2.1.1.3.0"; at most 127 characters
// read, empty parts skipped) into at most max decimal sub-identifiers; the
// count.
int parse_oid(uint32_t* out, int max, const char* text);

}  // namespace SnmpTrap
