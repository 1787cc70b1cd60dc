#pragma once
// TPKT framing (RFC 1006): 03 00, then the frame length including these
// four header bytes, big-endian, then one message. The receive side cuts
// the byte stream into messages whatever the chunking; framing errors are
// logged and resynchronised, never fatal; a frame left incomplete for
// 3000 ms after its last chunk is dropped.
//
// The octets skipped while looking for the next header make one log line
// per run, with the first fault's text and the count: said when a header
// is found, when the stream has been quiet for 3000 ms, when it ends, and
// after every kResyncLineOctets, so that a stream of noise costs the log a
// line per run, not per octet.
#include "runtime/Packet.h"
#include "runtime/Protocol.h"
#include "runtime/Timer.h"

#include <string>

class Tpkt_protocol : public Protocol {
public:
  static const unsigned kReassemblyMs = 3000;
  static const unsigned kHeaderSize = 4;
  // The length field counts the header too.
  static const unsigned kMaxPayload = 0xFFFF - kHeaderSize;
  static const unsigned kResyncLineOctets = 65536;

  enum State { Idle = 0, WaitReserved = 1, LengthHigh = 2, LengthLow = 3, Body = 4, Ignore = 5 };

  Tpkt_protocol() = default;

  const Protocol_name& name() const override { return name_; }
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }

  void message(Packet& p) override;
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void receive(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;

  void reset();
  void on_timeout(Timer*);

  State state() const { return state_; }
  bool timer_running() const { return timer_.is_running(); }

  // Octets of the resynchronisation run not yet logged.
  unsigned resync_octets() const { return resyncOctets_; }

private:
  void deliver();
  void skipped(unsigned octets, const std::string& text);
  void endResync();

  Protocol_name_str name_{"TPKT"};
  Timer timer_;
  State state_ = Idle;
  unsigned remaining_ = 0;
  Packet body_;
  std::string resyncText_;
  unsigned resyncOctets_ = 0;
};
