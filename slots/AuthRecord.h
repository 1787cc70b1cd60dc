#pragma once
// The records that pppd's authentication plug-in and the daemon exchange
// over the loopback bridge: big-endian 32-bit words, a 12-byte header
// {length of the whole record, type, session} first. The session is the
// modem slot's number for the plug-in (a DSP modem's number, -1 for every
// digital modem).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/TERM/TERMFwd.h"

namespace Auth {

constexpr size_t kHeaderSize = 12;
// A length word outside these ends the connection.
constexpr size_t kMinLength = 4;
constexpr size_t kMaxLength = 512;

enum Type : uint32_t { Request = 1, Accept = 2, Ip = 3, Accounting = 4 };

constexpr size_t kRequestSize = 140;     // header, user name (64), password (64)
constexpr size_t kUserAt = 12;
constexpr size_t kPasswordAt = 76;
constexpr size_t kTextSize = 64;
constexpr size_t kAccountingSize = 64;
constexpr size_t kAcceptSize = 16;
constexpr size_t kIpSize = 36;

// A received record: a view of length bytes, length at least kHeaderSize.
struct Record {
  const uint8_t* bytes;
  size_t length;
  uint32_t type() const;
  uint32_t session() const;
  uint32_t word(size_t at) const;
};

// {16, 2, session, 1}.
std::vector<uint8_t> accept(int session);
// {36, 3, session, 0, remote, netmask, gateway, dns, mtu}: the addresses
// from dotted decimal, 255.255.255.255 for a text that is not one.
std::vector<uint8_t> ip(int session, const TERM::ModemUserParameters& user);

// The user name and password of an auth request (each up to its first NUL,
// at most 64 bytes).
std::string text(const Record& r, size_t at);

// The accounting figures as the controller's accounting record.
void accounting(const Record& r, TERM::MdmAccounting& out);

}  // namespace Auth
