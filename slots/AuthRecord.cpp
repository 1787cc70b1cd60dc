#include "slots/AuthRecord.h"

#include <arpa/inet.h>

#include <cstring>

#include "protocol/BASE/BASE.h"
#include "protocol/TERM/TERM.h"

namespace Auth {

namespace {

uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

// The four address bytes in network order.
void putAddress(std::vector<uint8_t>& out, const std::string& dotted) {
  in_addr a;
  if (::inet_pton(AF_INET, dotted.c_str(), &a) != 1) a.s_addr = 0xFFFFFFFF;
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&a.s_addr);
  out.insert(out.end(), b, b + 4);
}

void put64(BASE::INTEGER64Bits& v, uint32_t high, uint32_t low) {
  v.set_high(static_cast<int>(high));
  v.set_low(static_cast<int>(low));
}

}  // namespace

uint32_t Record::word(size_t at) const { return be32(bytes + at); }
uint32_t Record::type() const { return word(4); }
uint32_t Record::session() const { return word(8); }

std::vector<uint8_t> accept(int session) {
  std::vector<uint8_t> out;
  put32(out, kAcceptSize);
  put32(out, Accept);
  put32(out, static_cast<uint32_t>(session));
  put32(out, 1);
  return out;
}

std::vector<uint8_t> ip(int session, const TERM::ModemUserParameters& user) {
  std::vector<uint8_t> out;
  put32(out, kIpSize);
  put32(out, Ip);
  put32(out, static_cast<uint32_t>(session));
  put32(out, 0);
  putAddress(out, user.get_remoteAddr());
  putAddress(out, user.get_netmask());
  putAddress(out, user.get_gateway());
  putAddress(out, user.get_dns());
  put32(out, static_cast<uint32_t>(user.get_mtu().getValue()));
  return out;
}

std::string text(const Record& r, size_t at) {
  const char* p = reinterpret_cast<const char*>(r.bytes + at);
  return std::string(p, strnlen(p, kTextSize));
}

void accounting(const Record& r, TERM::MdmAccounting& out) {
  put64(out.set_octetsOut(), r.word(24), r.word(28));
  put64(out.set_octetsIn(), r.word(32), r.word(36));
  put64(out.set_packetsOut(), r.word(40), r.word(44));
  put64(out.set_packetsIn(), r.word(48), r.word(52));
  put64(out.set_time(), 0, r.word(56));
}

}  // namespace Auth
