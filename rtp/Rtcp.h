#pragma once
// The two RTCP packets the daemon sends on its own, beside what the RTP
// driver sends: a source description when an RTP session starts and a
// goodbye when it ends (RFC 3550, packet types 202 and 203). Each encoder
// writes one whole packet into the caller's buffer and never past its size.
#include <string>
#include <vector>

namespace RTPC {

class Msg {
 public:
  explicit Msg(unsigned int ssrc) : ssrc(ssrc) {}
  virtual ~Msg();

  virtual unsigned int pt() const = 0;
  // The 5-bit count of the common header.
  virtual unsigned int count() const = 0;
  // Writes what follows the 4-byte common header; its length, a multiple
  // of 4, or 0 when it does not fit.
  virtual unsigned int encode_body(char* buffer, unsigned int size) const = 0;

  // The whole packet: its length in bytes, or 0 when nothing was written
  // (a buffer too small for a sound packet).
  unsigned int encode(char* buffer, unsigned int size) const;

  unsigned int ssrc;
};

class SDES : public Msg {
 public:
  class Item {
   public:
    // The item types of RFC 3550 that the daemon sends.
    enum Type { CNAME = 1, NAME = 2, EMAIL = 3, PHONE = 4, LOC = 5, TOOL = 6, NOTE = 7, PRIV = 8 };
    Item(Type type, std::string text) : type_(type), text_(std::move(text)) {}
    Type type() const { return type_; }
    std::string const& text() const { return text_; }

   private:
    Type type_;
    std::string text_;
  };

  explicit SDES(unsigned int ssrc) : Msg(ssrc) {}
  void add(Item::Type type, std::string const& text) { items.emplace_back(type, text); }

  unsigned int pt() const override { return 202; }
  // One chunk: this source's.
  unsigned int count() const override { return 1; }
  unsigned int encode_body(char* buffer, unsigned int size) const override;

  std::vector<Item> items;
};

class BYE : public Msg {
 public:
  BYE(unsigned int ssrc, std::string const& reason) : Msg(ssrc), reason(reason) {}

  unsigned int pt() const override { return 203; }
  // One source leaves.
  unsigned int count() const override { return 1; }
  unsigned int encode_body(char* buffer, unsigned int size) const override;

  std::string reason;
};

}  // namespace RTPC
