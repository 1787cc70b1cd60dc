// Hand-written types in the shape the type generator emits, mirroring the
// constructs of the protocol modules:
//
//   Demo DEFINITIONS AUTOMATIC TAGS ::= BEGIN
//   Mode ::= ENUMERATED { initial, learn, listen, speak(4), standby(8), active(16), ... }
//   Item ::= SEQUENCE { id INTEGER (0..65535), label IA5String OPTIONAL }
//   Params ::= SEQUENCE {
//     slot   INTEGER (0..1023),
//     name   IA5String (SIZE (1..64)) OPTIONAL,
//     mode   Mode,
//     items  SEQUENCE OF Item OPTIONAL,
//     ...,
//     gain-level INTEGER (-128..127),    -- extension addition
//     flag   BOOLEAN                     -- extension addition
//   }
//   Command ::= CHOICE { create Params, destroy NULL, ..., query-state Mode }
//   Message ::= SEQUENCE { seq INTEGER OPTIONAL, pdu Command }
//   Batch ::= SEQUENCE { items SEQUENCE OF Item }
//   END
#ifndef QV_TESTS_ASN1_DEMOTYPES_H
#define QV_TESTS_ASN1_DEMOTYPES_H

#include <string>

#include "asn1/Generated.h"

namespace Demo {

class Mode : public ASN1::ENUMERATED {
 public:
  enum NamedNumber : int { initial = 0, learn = 1, listen = 2, speak = 4, standby = 8, active = 16 };

  static const InfoType theInfo;

  Mode() : ENUMERATED(&theInfo) {}
  explicit Mode(void const* info) : ENUMERATED(info) {}
  Mode(NamedNumber v) : ENUMERATED(&theInfo) { setFromInt(v); }
  Mode(Mode const&) = default;
  Mode& operator=(Mode const&) = default;
  Mode& operator=(NamedNumber v) {
    setFromInt(v);
    return *this;
  }
  operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }
  using ASN1::AbstractData::operator==;
  using ASN1::AbstractData::operator!=;
  bool operator==(NamedNumber v) const { return asInt() == v; }
  bool operator!=(NamedNumber v) const { return asInt() != v; }
  Mode* clone() const { return static_cast<Mode*>(do_clone()); }

  void set_speak() { setFromInt(speak); }
  bool is_speak() const { return asInt() == speak; }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Mode(*this); }
};
extern const char* const Mode_enum_names__[6];

class Item : public ASN1::SEQUENCE {
 public:
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 65535> id_type;
  typedef ASN1::IA5String label_type;

  static const void* const fieldInfos[2];
  static const int fieldIds[2];
  static const char* const fieldNames[2];
  static const InfoType theInfo;

  Item() : SEQUENCE(&theInfo) {}
  explicit Item(void const* info) : SEQUENCE(info) {}
  Item* clone() const { return static_cast<Item*>(do_clone()); }

  id_type const& get_id() const { return field_as<id_type>(0); }
  id_type& ref_id() { return field_as<id_type>(0); }
  void set_id(unsigned v) { field_as<id_type>(0) = v; }

  label_type const& get_label() const { return field_as<label_type>(1); }
  void set_label(std::string const& v) { include_as<label_type>(0, 1) = v; }
  bool label_isPresent() const { return hasOptionalField(0); }
  void omit_label() { removeOptionalField(0); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Item(*this); }
};

class Params : public ASN1::SEQUENCE {
 public:
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> slot_type;
  struct name {
    typedef ASN1::SizeConstrainedString<ASN1::IA5String, ASN1::FixedConstraint, 1, 64> value_type;
  };
  typedef name::value_type name_type;
  typedef Mode mode_type;
  typedef ASN1::SEQUENCE_OF<Item, ASN1::EmptyConstraint> items_type;
  typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -128, 127> gain_level_type;
  typedef ASN1::BOOLEAN flag_type;

  static const void* const fieldInfos[6];
  static const int fieldIds[6];
  static const char* const fieldNames[6];
  static const InfoType theInfo;

  Params() : SEQUENCE(&theInfo) {}
  explicit Params(void const* info) : SEQUENCE(info) {}
  Params* clone() const { return static_cast<Params*>(do_clone()); }

  slot_type const& get_slot() const { return field_as<slot_type>(0); }
  void set_slot(unsigned v) { field_as<slot_type>(0) = v; }

  name_type const& get_name() const { return field_as<name_type>(1); }
  void set_name(std::string const& v) { include_as<name_type>(0, 1) = v; }
  bool name_isPresent() const { return hasOptionalField(0); }
  void omit_name() { removeOptionalField(0); }

  mode_type const& get_mode() const { return field_as<mode_type>(2); }
  void set_mode(Mode::NamedNumber v) { field_as<mode_type>(2) = v; }

  items_type const& get_items() const { return field_as<items_type>(3); }
  items_type& set_items() { return include_as<items_type>(1, 3); }
  void set_items(items_type const& v) { include_as<items_type>(1, 3) = v; }
  bool items_isPresent() const { return hasOptionalField(1); }
  void omit_items() { removeOptionalField(1); }

  // Extension additions: optional indexes follow the optional root fields.
  gain_level_type const& get_gain_level() const { return field_as<gain_level_type>(4); }
  void set_gain_level(unsigned v) { include_as<gain_level_type>(2, 4) = v; }
  bool gain_level_isPresent() const { return hasOptionalField(2); }
  void omit_gain_level() { removeOptionalField(2); }

  flag_type const& get_flag() const { return field_as<flag_type>(5); }
  void set_flag(bool v) { include_as<flag_type>(3, 5) = v; }
  bool flag_isPresent() const { return hasOptionalField(3); }
  void omit_flag() { removeOptionalField(3); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Params(*this); }
};

class Command : public ASN1::CHOICE {
 public:
  // One tag type per alternative; `create` hides the base's create, so the
  // class reaches base members qualified.
  struct create {
    enum Id { id = 0 };
  };
  struct destroy {
    enum Id { id = 1 };
  };
  struct query_state {
    enum Id { id = 2 };
  };

  static const void* const selectionInfos[3];
  static const char* const selectionNames[3];
  static const InfoType theInfo;

  Command() : CHOICE(&theInfo) {}
  explicit Command(void const* info) : CHOICE(info) {}
  Command(create::Id, Params const& v) : CHOICE(&theInfo, create::id, v.clone()) {}
  Command(destroy::Id, ASN1::Null const& v) : CHOICE(&theInfo, destroy::id, v.clone()) {}
  Command(query_state::Id, Mode::NamedNumber v) : CHOICE(&theInfo, query_state::id, new Mode(v)) {}
  Command* clone() const { return static_cast<Command*>(do_clone()); }

  Params& select_create() { return select_as<Params>(create::id); }
  void select_create(Params const& v) { select_as<Params>(create::id) = v; }
  Params const& get_create() const { return selection_as<Params>(); }
  Params& ref_create() { return selection_as<Params>(); }
  bool create_isSelected() const { return currentSelection() == create::id; }

  ASN1::Null& select_destroy() { return select_as<ASN1::Null>(destroy::id); }
  bool destroy_isSelected() const { return currentSelection() == destroy::id; }

  Mode& select_query_state() { return select_as<Mode>(query_state::id); }
  void select_query_state(Mode::NamedNumber v) { select_as<Mode>(query_state::id) = v; }
  Mode const& get_query_state() const { return selection_as<Mode>(); }
  bool query_state_isSelected() const { return currentSelection() == query_state::id; }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Command(*this); }
};

class Message : public ASN1::SEQUENCE {
 public:
  typedef ASN1::INTEGER seq_type;
  typedef Command pdu_type;

  static const void* const fieldInfos[2];
  static const int fieldIds[2];
  static const char* const fieldNames[2];
  static const InfoType theInfo;

  Message() : SEQUENCE(&theInfo) {}
  explicit Message(void const* info) : SEQUENCE(info) {}
  Message* clone() const { return static_cast<Message*>(do_clone()); }

  seq_type const& get_seq() const { return field_as<seq_type>(0); }
  void set_seq(int v) { include_as<seq_type>(0, 0) = v; }
  bool seq_isPresent() const { return hasOptionalField(0); }
  void omit_seq() { removeOptionalField(0); }

  pdu_type const& get_pdu() const { return field_as<pdu_type>(1); }
  pdu_type& set_pdu() { return field_as<pdu_type>(1); }
  pdu_type& ref_pdu() { return field_as<pdu_type>(1); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Message(*this); }
};

class Batch : public ASN1::SEQUENCE {
 public:
  typedef ASN1::SEQUENCE_OF<Item, ASN1::EmptyConstraint> items_type;

  static const void* const fieldInfos[1];
  static const int fieldIds[1];
  static const char* const fieldNames[1];
  static const InfoType theInfo;

  Batch() : SEQUENCE(&theInfo) {}
  explicit Batch(void const* info) : SEQUENCE(info) {}
  Batch* clone() const { return static_cast<Batch*>(do_clone()); }

  items_type const& get_items() const { return field_as<items_type>(0); }
  items_type& ref_items() { return field_as<items_type>(0); }

 protected:
  ASN1::AbstractData* do_clone() const override { return new Batch(*this); }
};

}  // namespace Demo

#endif
