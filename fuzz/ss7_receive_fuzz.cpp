// libFuzzer target: the receive path of SS7 level 2. The first octet sets
// the link up (bit 0 emergency, bit 1 every trace switch, bit 2 brought
// into service by a scripted peer first, bit 3 its transmitter refusing
// every third unit); the rest is a series of records, each a length octet
// and that many octets: a signal unit received, or (length octet with
// bit 7 set) an MSU to send.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "hardware/HDLC.h"
#include "signalling/SLC.h"

namespace {

// Whatever the peer sends, every unit that goes out is well formed: a
// header, and a length indicator that tells the payload (63 for longer
// ones); an LSSU carries all ones in its sequence octets.
struct Sink : GenericHDLC {
  unsigned units = 0;
  bool refuse = false;
  bool hdlc_transmit(Packet& f) override {
    const unsigned n = f.length();
    if (n < 3) std::abort();
    const unsigned li = f[2], payload = n - 3;
    if (li != (payload < 63 ? payload : 63)) std::abort();
    if ((li == 1 || li == 2) && (f[0] != 0xFF || f[1] != 0xFF || f[3] > 3)) std::abort();
    ++units;
    return !(refuse && units % 3 == 0);
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }
};

void feed(SS7::SLC& link, const char* hex) {
  Packet p;
  p.reserve_head(0);
  for (const char* c = hex; c[0] && c[1]; c += 2) p.put8(static_cast<unsigned char>(std::strtoul(std::string(c, 2).c_str(), nullptr, 16)));
  link.receive(p);
}

struct Quiet {
  std::ostringstream sink;
  std::streambuf* oldLog = std::clog.rdbuf(sink.rdbuf());
  std::streambuf* oldErr = std::cerr.rdbuf(sink.rdbuf());
  ~Quiet() {
    std::clog.rdbuf(oldLog);
    std::cerr.rdbuf(oldErr);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  if (size == 0) return 0;
  Quiet quiet;
  Sink sink;
  SS7::SLC link;
  link.hdlc(&sink);
  link.set_emergency(data[0] & 1);
  if (data[0] & 2) {
    SS7::SLC::Trace& t = link.trace();
    t.state = t.rawReceive = t.rawTransmit = t.mtpTransmit = t.mtpReceive = t.mtpActivate = t.timers =
        t.msuProcessing = true;
  }
  if (data[0] & 4) {
    link.local_activate();
    feed(link, "FFFF0100");  // SIO
    feed(link, "FFFF0101");  // SIN
    feed(link, "FFFF00");    // FISU: in service
  }
  sink.refuse = data[0] & 8;
  std::size_t pos = 1;
  while (pos < size) {
    unsigned len = data[pos] & 0x7F;
    const bool send = data[pos] & 0x80;
    ++pos;
    if (len > size - pos) len = unsigned(size - pos);
    Packet p;
    p.reserve_head(send ? 3 : 0);
    for (unsigned i = 0; i < len; ++i) p.put8(data[pos + i]);
    pos += len;
    if (send)
      link.message(p);
    else
      link.receive(p);
    if (link.rtbCount() > SS7::SLC::kMaxOutstanding || link.tbCount() > SS7::SLC::kTbNew + SS7::SLC::kMaxOutstanding)
      std::abort();
    if (data[0] & 8) link.on_hdlc_ready();
  }
  return 0;
}
