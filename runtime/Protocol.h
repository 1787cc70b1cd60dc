#pragma once
// Protocol layers stacked in a ProtocolsList: the head is the bottom layer,
// the tail the top one. Packets go down by `message` (the entry from above)
// and `transmit` (the hand-over to the layer below) and up by `receive`
// (the entry from below) and `on_message` (the hand-over to the layer
// above); at either end of a list the owner gets the hand-over. Activation
// starts at the bottom; orderly deactivation starts at the top and the
// owner hears it from the bottom layer; an error status travels upward and
// the owner hears it from the top layer. A ProtocolsFamily is a whole stack
// that is itself a layer, so stacks nest.
//
// Failures travel as status objects, never as exceptions.
#include "runtime/List.h"
#include "runtime/Packet.h"
#include "runtime/SmartPointer.h"

#include <iosfwd>
#include <string>

class Protocol_name {
public:
  virtual ~Protocol_name() = default;
  virtual int kind() const = 0;
  virtual const char* name() const = 0;
  virtual bool compare(const Protocol_name& other) const = 0;

  bool compatible(const Protocol_name& other) const { return kind() == other.kind(); }
  void out(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, const Protocol_name& n);

class Protocol_name_null : public Protocol_name {
public:
  int kind() const override { return 0; }
  const char* name() const override { return "(no name)"; }
  bool compare(const Protocol_name& other) const override { return compatible(other); }
};

class Protocol_name_str : public Protocol_name {
public:
  // A null text is taken as "(no name)".
  explicit Protocol_name_str(const char* text);
  Protocol_name_str(const Protocol_name_str& other);
  Protocol_name_str& operator=(const Protocol_name_str& other);
  ~Protocol_name_str() override;
  int kind() const override { return 1; }
  const char* name() const override { return text_; }
  bool compare(const Protocol_name& other) const override;

private:
  char* text_;
};

// The identity of a layer.
class Protocol_info {
public:
  virtual ~Protocol_info() = default;
  virtual bool compare_name(const Protocol_name& n) const;
  virtual const Protocol_name& name() const { return null_name_; }
  void out(std::ostream& os) const;

private:
  Protocol_name_null null_name_;
};

std::ostream& operator<<(std::ostream& os, const Protocol_info& info);

class Internal_protocol_status {
public:
  explicit Internal_protocol_status(const Protocol_info* reporter) : reporter_(reporter) {}
  Internal_protocol_status(const Internal_protocol_status&) = delete;
  Internal_protocol_status& operator=(const Internal_protocol_status&) = delete;
  virtual ~Internal_protocol_status() = default;
  virtual bool success() const = 0;
  virtual std::string message() const = 0;
  virtual void out(std::ostream& os) const = 0;

  const Protocol_info* reporter() const { return reporter_; }

  unsigned int ref_count = 0;  // held by Smart_pointer

private:
  const Protocol_info* reporter_;
};

using Protocol_status_ptr = Smart_pointer<Internal_protocol_status>;

class Protocol_status_success : public Internal_protocol_status {
public:
  Protocol_status_success(const Protocol_info* reporter, const std::string& text)
      : Internal_protocol_status(reporter), text_(text) {}
  bool success() const override { return true; }
  std::string message() const override { return text_; }
  void out(std::ostream& os) const override;

private:
  std::string text_;
};

class Protocol_status_error : public Internal_protocol_status {
public:
  Protocol_status_error(const Protocol_info* reporter, const std::string& text)
      : Internal_protocol_status(reporter), text_(text) {}
  bool success() const override { return false; }
  std::string message() const override { return text_; }
  void out(std::ostream& os) const override;

private:
  std::string text_;
};

class Protocol_initialize_error : public Protocol_status_error {
public:
  explicit Protocol_initialize_error(const Protocol_info* reporter) : Protocol_status_error(reporter, "error") {}
};

class ProtocolsList;

class Protocol : public F_dual_list_item<Protocol>, public Protocol_info {
public:
  Protocol() = default;
  Protocol(const Protocol&) = delete;
  Protocol& operator=(const Protocol&) = delete;
  // Leaves its list first.
  ~Protocol() override;

  virtual void local_prepare_head(Packet& p);
  virtual void local_prepare_tail(Packet& p);
  virtual Protocol_status_ptr local_initialize();
  virtual void local_activate();
  virtual void local_deactivate();
  virtual void transmit(Packet& p);
  virtual void on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(Protocol_status_ptr s);
  virtual void on_status(Protocol_status_ptr s);
  virtual void message(Packet& p);
  virtual void receive(Packet& p);
  virtual void activate();
  virtual void deactivate();
  virtual void protocol_info(std::ostream& os) const;

  // Bottom first; stops at the first status that is not a success.
  Protocol_status_ptr initialize();
  // Reserves the room of every layer below, then its own.
  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);

  Protocol* below() const { return owner_ ? get_prev() : nullptr; }
  Protocol* above() const { return owner_ ? get_next() : nullptr; }
  ProtocolsList* owner() const { return owner_; }

private:
  friend class ProtocolsList;
  ProtocolsList* owner_ = nullptr;
};

// An ordered list of layers that owns them (they are deleted with it, top
// first).
class ProtocolsList : public Protocol, private F_dual_list<Protocol> {
public:
  ProtocolsList() = default;
  ~ProtocolsList() override;

  virtual void on_activated(Protocol* p);
  virtual void on_deactivated(Protocol* p, Protocol_status_ptr s);
  virtual Protocol* add_protocol_head(Protocol* p);
  virtual Protocol* add_protocol_tail(Protocol* p);

  // Bottom to top, the first whose compare_name(n) is true.
  Protocol* search(const Protocol_name& n) const;
  Protocol* bottom() const { return first_item(); }
  Protocol* top() const { return last_item(); }
  unsigned protocol_count() const { return count(); }

private:
  friend class Protocol;
  void take_out(Protocol* p);
};

// A stack that is also one layer of an outer stack.
class ProtocolsFamily : public ProtocolsList {
public:
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  Protocol_status_ptr local_initialize() override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status_ptr s) override;
};
