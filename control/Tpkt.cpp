#include "control/Tpkt.h"

#include "log/Profile.h"

#include <algorithm>
#include <cstring>
#include <iostream>

namespace {
Profile::Point sendPoint("Tpkt_protocol::message");
}

void Tpkt_protocol::message(Packet& p) {
  sendPoint.begin();
  const unsigned len = p.null() ? 0 : p.length();
  // A payload the 16-bit length cannot express would go out with a wrapped
  // length and desynchronise the peer: refuse it instead.
  if (len > kMaxPayload) {
    std::clog << name() << " payload too big, length = " << len << " max = " << kMaxPayload << std::endl;
    sendPoint.end();
    return;
  }
  if (p.null()) p.reserve_head(kHeaderSize);
  p.push16_b(static_cast<unsigned short>(len + kHeaderSize));
  p.push8(0);
  p.push8(3);
  transmit(p);
  sendPoint.end();
}

void Tpkt_protocol::local_prepare_head(Packet& p) { p.reserve_head(kHeaderSize); }

void Tpkt_protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void Tpkt_protocol::local_activate() {
  reset();
  on_activate();
}

void Tpkt_protocol::local_deactivate() {
  reset();
  on_deactivate(new Protocol_status_success(this, "TPKT deactivated"));
}

void Tpkt_protocol::reset() {
  endResync();
  timer_.reset();
  body_.clear();
  state_ = Idle;
  remaining_ = 0;
}

void Tpkt_protocol::on_timeout(Timer*) {
  // Quiet after noise alone: only the run is to be said.
  if (state_ != Idle) std::clog << " TPKT packet timeout." << std::endl;
  reset();
}

void Tpkt_protocol::skipped(unsigned octets, const std::string& text) {
  if (resyncOctets_ == 0) resyncText_ = text;
  resyncOctets_ += octets;
  if (resyncOctets_ >= kResyncLineOctets) endResync();
}

void Tpkt_protocol::endResync() {
  if (resyncOctets_ == 0) return;
  std::clog << name() << " " << resyncText_ << " (" << resyncOctets_ << (resyncOctets_ == 1 ? " octet" : " octets")
            << " skipped)" << std::endl;
  resyncOctets_ = 0;
}

void Tpkt_protocol::deliver() {
  Packet done = body_;
  body_.clear();
  state_ = Idle;
  on_message(done);
}

void Tpkt_protocol::receive(Packet& p) {
  while (!p.null() && p.length() > 0) {
    switch (state_) {
      case Idle:
        if (p.pull8() == 3)
          state_ = WaitReserved;
        else
          skipped(1, "bad TPKT packet start.");
        break;
      case WaitReserved:
        if (p.pull8() == 0) {
          state_ = LengthHigh;
        } else {
          skipped(2, "bad TPKT reserved.");
          state_ = Idle;
        }
        break;
      case LengthHigh:
        remaining_ = p.pull8();
        state_ = LengthLow;
        break;
      case LengthLow:
        remaining_ = remaining_ * 256 + p.pull8();
        if (remaining_ < kHeaderSize) {
          skipped(kHeaderSize, "too small " + std::to_string(remaining_));
          state_ = Idle;
          break;
        }
        endResync();
        remaining_ -= kHeaderSize;
        body_.clear();
        body_.reserve_head(0);
        if (remaining_ > body_.tailroom()) {
          std::clog << name() << " length too big, received = " << remaining_ << " max = " << body_.tailroom()
                    << std::endl;
          state_ = Ignore;
        } else if (remaining_ == 0) {
          // An empty message is complete with its header; holding it until
          // a further byte arrives would let the reassembly timer drop it.
          deliver();
        } else {
          state_ = Body;
        }
        break;
      case Body: {
        const unsigned n = std::min(p.length(), remaining_);
        std::memcpy(body_.put(n), p.pull(n), n);
        remaining_ -= n;
        if (remaining_ == 0) deliver();
        break;
      }
      case Ignore: {
        const unsigned n = std::min(p.length(), remaining_);
        p.pull(n);
        remaining_ -= n;
        if (remaining_ == 0) state_ = Idle;
        break;
      }
    }
  }
  if (state_ != Idle || resyncOctets_ != 0)
    timer_.set(kReassemblyMs, &Tpkt_protocol::on_timeout, this);
  else
    timer_.reset();
}
