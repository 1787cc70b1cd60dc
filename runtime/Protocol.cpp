#include "runtime/Protocol.h"

#include <cstring>
#include <ostream>

// ---------------------------------------------------------------- names

void Protocol_name::out(std::ostream& os) const { os << name(); }

std::ostream& operator<<(std::ostream& os, const Protocol_name& n) {
  n.out(os);
  return os;
}

namespace {
char* copy_text(const char* text) {
  if (!text) text = "(no name)";
  size_t n = std::strlen(text) + 1;
  char* c = new char[n];
  std::memcpy(c, text, n);
  return c;
}
}  // namespace

Protocol_name_str::Protocol_name_str(const char* text) : text_(copy_text(text)) {}

Protocol_name_str::Protocol_name_str(const Protocol_name_str& other) : Protocol_name(), text_(copy_text(other.text_)) {}

Protocol_name_str& Protocol_name_str::operator=(const Protocol_name_str& other) {
  if (this != &other) {
    char* c = copy_text(other.text_);
    delete[] text_;
    text_ = c;
  }
  return *this;
}

Protocol_name_str::~Protocol_name_str() { delete[] text_; }

bool Protocol_name_str::compare(const Protocol_name& other) const {
  return compatible(other) && std::strcmp(text_, other.name()) == 0;
}

bool Protocol_info::compare_name(const Protocol_name&) const { return false; }

void Protocol_info::out(std::ostream& os) const { os << name(); }

std::ostream& operator<<(std::ostream& os, const Protocol_info& info) {
  info.out(os);
  return os;
}

void Protocol_status_success::out(std::ostream& os) const { os << text_; }

void Protocol_status_error::out(std::ostream& os) const { os << text_; }

// ---------------------------------------------------------------- Protocol

Protocol::~Protocol() {
  if (owner_) owner_->take_out(this);
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

Protocol_status_ptr Protocol::local_initialize() { return new Protocol_status_success(this, "success"); }

void Protocol::local_activate() { on_activate(); }

void Protocol::local_deactivate() { on_deactivate(new Protocol_status_success(this, "success")); }

void Protocol::transmit(Packet& p) {
  if (Protocol* b = below())
    b->message(p);
  else if (owner_)
    static_cast<Protocol*>(owner_)->transmit(p);
}

void Protocol::on_message(Packet& p) {
  if (Protocol* a = above())
    a->receive(p);
  else if (owner_)
    static_cast<Protocol*>(owner_)->on_message(p);
}

void Protocol::on_activate() {
  if (Protocol* a = above())
    a->local_activate();
  else if (owner_)
    owner_->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status_ptr s) {
  if (s->success()) {
    if (Protocol* b = below())
      b->deactivate();
    else if (owner_)
      owner_->on_deactivated(this, s);
    return;
  }
  if (Protocol* a = above())
    a->on_deactivate(s);
  else if (owner_)
    owner_->on_deactivated(this, s);
}

void Protocol::on_status(Protocol_status_ptr s) {
  if (Protocol* a = above())
    a->on_status(s);
  else if (owner_)
    static_cast<Protocol*>(owner_)->on_status(s);
}

void Protocol::message(Packet&) {}

void Protocol::receive(Packet&) {}

void Protocol::activate() {
  if (Protocol* b = below())
    b->activate();
  else
    local_activate();
}

void Protocol::deactivate() { local_deactivate(); }

void Protocol::protocol_info(std::ostream&) const {}

Protocol_status_ptr Protocol::initialize() {
  if (Protocol* b = below()) {
    Protocol_status_ptr s = b->initialize();
    if (!s->success()) return s;
  }
  return local_initialize();
}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}

void Protocol::descend_prepare_head(Packet& p) {
  if (Protocol* b = below()) b->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (Protocol* b = below()) b->prepare_tail(p);
}

// ---------------------------------------------------------------- lists

ProtocolsList::~ProtocolsList() {
  while (Protocol* p = remove_from_tail()) {
    p->owner_ = nullptr;
    delete p;
  }
}

void ProtocolsList::on_activated(Protocol*) {}

void ProtocolsList::on_deactivated(Protocol*, Protocol_status_ptr) {}

Protocol* ProtocolsList::add_protocol_head(Protocol* p) {
  if (p->owner_) p->owner_->take_out(p);
  insert_to_head(p);
  p->owner_ = this;
  return p;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* p) {
  if (p->owner_) p->owner_->take_out(p);
  insert_to_tail(p);
  p->owner_ = this;
  return p;
}

Protocol* ProtocolsList::search(const Protocol_name& n) const {
  for (Protocol* p : static_cast<const F_dual_list<Protocol>&>(*this))
    if (p->compare_name(n)) return p;
  return nullptr;
}

void ProtocolsList::take_out(Protocol* p) {
  remove(p);
  p->owner_ = nullptr;
}

// ---------------------------------------------------------------- family

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (Protocol* t = top()) t->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (Protocol* t = top()) t->prepare_tail(p);
}

Protocol_status_ptr ProtocolsFamily::local_initialize() {
  if (Protocol* t = top()) return t->initialize();
  return new Protocol_initialize_error(this);
}

void ProtocolsFamily::local_activate() {
  if (Protocol* t = top()) t->activate();
}

void ProtocolsFamily::local_deactivate() {
  if (Protocol* t = top()) t->deactivate();
}

void ProtocolsFamily::message(Packet& p) {
  if (Protocol* t = top()) t->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
  if (Protocol* b = bottom()) b->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* p) {
  if (p == top()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status_ptr s) { on_deactivate(s); }
