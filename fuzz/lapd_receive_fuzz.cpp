// libFuzzer target: the receive paths of the Q.921 link and of the BRI
// network side. The first octet picks the link (bit 4: network side of a
// BRI, else the link with the side, BRI mode and tracing from bits 0-2);
// the rest is a series of records, each a length octet and that many
// octets: a frame received, or (length octet with bit 7 set) a layer-3
// message to send.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "hardware/HDLC.h"
#include "signalling/LapdTestUtil.h"  // tests/
#include "signalling/LAPD.h"
#include "signalling/LAPD_NT.h"

namespace {

// Whatever the peer sends, every frame that goes out keeps to Q.921.
void check(const Packet& f, bool fromNetwork) {
  if (!lapdtest::q921Fault(f, fromNetwork).empty()) std::abort();
}

struct Sink : GenericHDLC {
  unsigned frames = 0;
  bool network = false;
  bool hdlc_transmit(Packet& f) override {
    check(f, network);
    ++frames;
    return frames % 5 != 0;  // refuse now and then
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }
};

// The network side's frames go here instead of down a stack.
struct Network : ISDN::LAPD_NT {
  unsigned frames = 0;
  void transmit(Packet& f) override {
    check(f, true);
    ++frames;
  }
  void on_message(Packet&) override {}
};

// Records of the input: (octets, whether to send them from layer 3).
template <class F>
void records(uint8_t const* data, std::size_t size, F each) {
  std::size_t pos = 1;
  while (pos < size) {
    unsigned len = data[pos] & 0x7F;
    bool send = data[pos] & 0x80;
    ++pos;
    if (len > size - pos) len = unsigned(size - pos);
    Packet p;
    p.reserve_head(send ? 4 : 0);
    for (unsigned i = 0; i < len; ++i) p.put8(data[pos + i]);
    pos += len;
    each(p, send);
  }
}

struct Quiet {
  std::ostringstream sink;
  std::streambuf* old = std::clog.rdbuf(sink.rdbuf());
  ~Quiet() { std::clog.rdbuf(old); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  if (size == 0) return 0;
  Quiet quiet;
  if (data[0] & 16) {
    Network nt;
    nt.set_log(data[0] & 2 ? 2 : 0);
    if (data[0] & 8) nt.local_activate();
    records(data, size, [&](Packet& p, bool send) {
      if (send) nt.message(p);
      else nt.receive(p);
    });
    return 0;
  }
  Sink sink;
  sink.network = data[0] & 1;
  ISDN::LAPD link(data[0] & 1 ? ISDN::Side::network : ISDN::Side::user, data[0] & 2 ? 4 : 0);
  if (data[0] & 4) link.change_to_bri();
  link.hdlc(&sink);
  if (data[0] & 8) link.local_activate();
  records(data, size, [&](Packet& p, bool send) {
    if (send) link.message(p);
    else link.receive(p);
    link.on_hdlc_ready();
  });
  ACP::IsdnLinkInfo info;
  link.GetInfo(info);
  return 0;
}
