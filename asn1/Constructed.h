// The constructed values: SEQUENCE (named fields, optional fields and
// extension additions), CHOICE (one of several alternatives), SEQUENCE OF /
// SET OF (lists of one element type) and the open types. Every value owns
// what lies below it; copies are deep.
#ifndef QV_ASN1_CONSTRUCTED_H
#define QV_ASN1_CONSTRUCTED_H

#include <boost/cast.hpp>
#include <algorithm>
#include <boost/iterator/iterator_adaptor.hpp>
#include <vector>

#include <cstdint>
#include <type_traits>

#include "asn1/AbstractData.h"
#include "asn1/Primitive.h"

namespace ASN1 {

class SEQUENCE;
class CHOICE;

// What a SEQUENCE knows of one of its fields from its class: how to make a
// root field inside the one block the SEQUENCE holds for its slots and such
// fields (an optional one when it is included), so that a decoded message
// costs a node per SEQUENCE rather than one per field; and which kind it
// is, so that a coder can reach the common kinds without a visit. A field
// not in the block is made on its own. The places are worked out when the
// records are compiled.
struct FieldPlace {
  enum Kind : unsigned char { Other, Integer, Boolean, Enumerated, Nothing, Sequence, Choice };
  unsigned offset;  // where in the block the field is made
  bool inBlock;     // made in the block, by `make`
  bool plain;       // its destruction releases nothing: it can be skipped
  Kind kind;
  AbstractData* (*make)(void* where, void const* info);
};

template <class T>
AbstractData* make_value_at(void* where, void const* info) {
  static_assert(alignof(T) <= alignof(void*), "a field block aligns its values to a pointer");
  return new (where) T(info);
}

// The classes whose values hold nothing but their record and a number:
// generated classes add no members, so a class of the same size as one of
// these bases is one of them.
template <class T>
constexpr bool plain_value() {
  return (std::is_base_of<INTEGER, T>::value && sizeof(T) == sizeof(INTEGER)) ||
         (std::is_base_of<BOOLEAN, T>::value && sizeof(T) == sizeof(BOOLEAN)) ||
         (std::is_base_of<ENUMERATED, T>::value && sizeof(T) == sizeof(ENUMERATED)) ||
         (std::is_base_of<Null, T>::value && sizeof(T) == sizeof(Null));
}

template <class T>
constexpr FieldPlace::Kind kind_of() {
  return std::is_base_of<INTEGER, T>::value      ? FieldPlace::Integer
         : std::is_base_of<BOOLEAN, T>::value    ? FieldPlace::Boolean
         : std::is_base_of<ENUMERATED, T>::value ? FieldPlace::Enumerated
         : std::is_base_of<Null, T>::value       ? FieldPlace::Nothing
         : std::is_base_of<SEQUENCE, T>::value   ? FieldPlace::Sequence
         : std::is_base_of<CHOICE, T>::value     ? FieldPlace::Choice
                                                 : FieldPlace::Other;
}

// The block is one node of the pool at most.
constexpr unsigned maxFieldBlock = detail::NodePool::grain * detail::NodePool::classes;

// Octets a SEQUENCE of n fields keeps its slots in within the block: none
// while they fit in place.
constexpr unsigned slot_bytes(unsigned n) { return n > 4 ? n * static_cast<unsigned>(sizeof(void*)) : 0; }

// Octets a value of T takes in a block; 0 for a class not made from its
// record alone (an open type is made around its carried value).
template <class T>
constexpr unsigned block_room() {
  if constexpr (std::is_constructible<T, void const*>::value)
    return static_cast<unsigned>((sizeof(T) + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*));
  else
    return 0;
}

// Where the block ends once a root field of class T, to be made at
// `offset`, is in it (or made on its own, as it does not fit).
template <class T>
constexpr unsigned next_place(unsigned offset) {
  return block_room<T>() != 0 && offset + block_room<T>() <= maxFieldBlock ? offset + block_room<T>() : offset;
}

// A field made on its own (extension additions).
template <class T>
constexpr FieldPlace place_of() {
  return FieldPlace{0, false, false, kind_of<T>(), nullptr};
}

// A root field of class T, made at `offset` when it fits there.
template <class T>
constexpr FieldPlace place_at(unsigned offset) {
  if constexpr (std::is_constructible<T, void const*>::value) {
    if (next_place<T>(offset) != offset)
      return FieldPlace{offset, true, plain_value<T>(), kind_of<T>(), &make_value_at<T>};
  }
  return place_of<T>();
}
constexpr FieldPlace no_place() { return FieldPlace{0, false, false, FieldPlace::Other, nullptr}; }

// A SEQUENCE type's block: the places of its fields, the block's size and,
// over the first 64 fields, which have a place and which of those have
// nothing to destroy; `makeMandatory`, when given, makes every mandatory
// field into its slot in straight-line code.
struct FieldBlock {
  FieldPlace const* places;
  unsigned size;
  std::uint64_t placed;
  std::uint64_t plain;
  void (*makeMandatory)(AbstractData** slots, char* block);
};

// One mandatory field, for a type's `makeMandatory`: in the block when it
// has a place there, else on its own.
template <class T, bool inBlock>
inline AbstractData* make_field(char* where, void const* info) {
  if constexpr (inBlock)
    return make_value_at<T>(where, info);
  else
    return AbstractData::create(info);
}

template <std::size_t N>
constexpr FieldBlock block_of(FieldPlace const (&places)[N], unsigned size,
                              void (*makeMandatory)(AbstractData**, char*) = nullptr) {
  FieldBlock b{places, size, 0, 0, makeMandatory};
  for (std::size_t k = 0; k < N && k < 64; ++k) {
    if (!places[k].inBlock) continue;
    b.placed |= std::uint64_t{1} << k;
    if (places[k].plain) b.plain |= std::uint64_t{1} << k;
  }
  return b;
}

class SEQUENCE : public AbstractData, detail::Allocator<SEQUENCE> {
 public:
  struct InfoType {
    AbstractData::InfoType head;
    bool extendable;
    void const* const* fieldInfos;  // root fields, then known additions
    int const* fieldIds;            // per root field: -1 mandatory, else optional index
    unsigned numFields;             // root fields
    unsigned knownExtensions;
    unsigned numOptional;           // optional root fields
    char const* defaultExtensions;  // null, or packed bits of additions present from construction
    unsigned const* tags;           // null: automatic; &defaultTag: own tags; else one per field
    char const* const* fieldNames;
    FieldBlock const* fieldBlock;   // null: every field made on its own
  };

  // Marker for `tags`: every field keeps the tag of its own type.
  static constexpr unsigned defaultTag = 0;

  // Presence bits, bit i in byte i/8 under 0x80 >> (i % 8): the order in
  // which the aligned PER coders copy them to the wire.
  class BitMap {
   public:
    BitMap() : totalBits(0) {}
    unsigned size() const { return totalBits; }
    void resize(unsigned bits) {
      bitData.resize((static_cast<std::size_t>(bits) + 7) / 8);
      // Bits dropped from a kept byte must not come back on a later growth.
      if (bits % 8 != 0) bitData.back() = static_cast<char>(bitData.back() & (0xFF00u >> (bits % 8)));
      totalBits = bits;
    }
    // A new map of `bits` bits, all clear.
    void reset(unsigned bits) {
      if (bits <= 64 && bitData.size() <= 8) {
        bitData.clearInPlace((bits + 7) / 8);
        totalBits = bits;
        return;
      }
      resize(0);
      resize(bits);
    }
    bool operator[](unsigned i) const {
      return i < totalBits && (static_cast<unsigned char>(bitData[i / 8]) & (0x80u >> (i % 8))) != 0;
    }
    // No effect at or beyond size().
    void set(unsigned i) {
      if (i < totalBits) bitData[i / 8] = static_cast<char>(bitData[i / 8] | (0x80u >> (i % 8)));
    }
    void clear(unsigned i) {
      if (i < totalBits) bitData[i / 8] = static_cast<char>(bitData[i / 8] & ~(0x80u >> (i % 8)));
    }
    void swap(BitMap& other);
    // The octets of the map: up to 8 held in place, more in the node pool.
    class Bytes {
     public:
      Bytes() : count_(0), local_(), heap_(nullptr) {}
      Bytes(Bytes const& other) : Bytes() { *this = other; }
      ~Bytes() {
        if (count_ > sizeof local_) detail::releaseNode(heap_, count_);
      }
      Bytes& operator=(Bytes const& other) {
        if (this != &other) {
          resize(0);
          resize(other.count_);
          std::copy(other.begin(), other.end(), begin());
        }
        return *this;
      }
      std::size_t size() const { return count_; }
      char* data() { return count_ <= sizeof local_ ? local_ : heap_; }
      char const* data() const { return count_ <= sizeof local_ ? local_ : heap_; }
      char* begin() { return data(); }
      char* end() { return data() + count_; }
      char const* begin() const { return data(); }
      char const* end() const { return data() + count_; }
      char& operator[](std::size_t i) { return data()[i]; }
      char operator[](std::size_t i) const { return data()[i]; }
      char& back() { return data()[count_ - 1]; }
      // New octets are 0.
      void resize(std::size_t n) {
        if (n <= sizeof local_ && count_ <= sizeof local_) {
          for (std::size_t i = count_; i < n; ++i) local_[i] = 0;
          count_ = n;
          return;
        }
        resizeAcross(n);
      }
      void swap(Bytes& other);
      // n octets of 0, held in place (n <= 8, nothing held elsewhere).
      void clearInPlace(std::size_t n) {
        std::fill(local_, local_ + sizeof local_, 0);
        count_ = n;
      }

     private:
      void resizeAcross(std::size_t n);

      std::size_t count_;
      char local_[8];
      char* heap_;  // count_ octets when more than fit in place
    };
    Bytes const& bytes() const { return bitData; }
    Bytes& bytes() { return bitData; }

   private:
    unsigned totalBits;
    Bytes bitData;
  };

  // One owned slot per field; a slot may be null. A few slots are held in
  // place, more in the node pool. Root fields may live in one block the
  // vector owns (see FieldPlace); a slot marked placed is destroyed in place
  // and never deleted on its own.
  class FieldVector {
   public:
    FieldVector() : count_(0), local_(), heap_(nullptr), block_(nullptr), blockSize_(0), placed_(0), plain_(0) {}
    // n empty slots.
    explicit FieldVector(std::size_t n);
    FieldVector(FieldVector const& other);
    FieldVector& operator=(FieldVector const&) = delete;
    ~FieldVector();
    void swap(FieldVector& other);

    // The slots of a new SEQUENCE, the mandatory fields made from their
    // records, in the block where they have a place.
    void build(InfoType const* info);
    // Makes the value of the empty slot k from the record: at its place in
    // the block, or on its own.
    void add(unsigned k, InfoType const* info);

    std::size_t size() const { return count_; }
    AbstractData** begin() { return count_ <= sizeof local_ / sizeof local_[0] ? local_ : heap_; }
    AbstractData* const* begin() const { return count_ <= sizeof local_ / sizeof local_[0] ? local_ : heap_; }
    AbstractData** end() { return begin() + count_; }
    AbstractData* const* end() const { return begin() + count_; }
    AbstractData*& operator[](std::size_t i) { return begin()[i]; }
    AbstractData* operator[](std::size_t i) const { return begin()[i]; }

   private:
    void release() noexcept;

    std::size_t count_;
    AbstractData* local_[4];
    AbstractData** heap_;  // more than 4 slots: at the start of block_, or a node of its own
    char* block_;
    unsigned blockSize_;
    std::uint64_t placed_;  // slots whose value lives in block_
    std::uint64_t plain_;   // of those, the ones with nothing to destroy
  };

  static AbstractData* create(void const* info);

  explicit SEQUENCE(void const* info);
  SEQUENCE(SEQUENCE const& other);
  SEQUENCE& operator=(SEQUENCE const& other);
  void swap(SEQUENCE& other);
  SEQUENCE* clone() const { return static_cast<SEQUENCE*>(do_clone()); }

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
  bool extendable() const { return info()->extendable; }

  // Slot count: root fields plus known extension additions.
  unsigned fieldCount() const { return static_cast<unsigned>(fields.size()); }
  AbstractData* getField(unsigned index) { return fields[index]; }
  // Every slot, for a coder's walk: they stay where they are until the
  // value is assigned or swapped.
  AbstractData* const* fieldSlots() const { return fields.begin(); }
  AbstractData const* getField(unsigned index) const { return fields[index]; }
  char const* getFieldName(int index) const { return info()->fieldNames[index]; }
  unsigned getFieldTag(int index) const;
  // 0 automatic tags, 1 explicit tag table, 2 each field's own tag.
  int tagMode() const;

  // Optional indexes below the optional field count address the root's
  // optional fields, the ones above the extension additions.
  bool hasOptionalField(unsigned optionalIndex) const {
    if (optionalIndex < optionalFields.size()) return optionalFields[optionalIndex];
    return extensionFields[optionalIndex - optionalFields.size()];
  }
  void includeOptionalField(unsigned optionalIndex, unsigned fieldIndex);
  void removeOptionalField(unsigned optionalIndex);

  // The presence maps, for the coders.
  BitMap const& optionalMap() const { return optionalFields; }
  BitMap& optionalMap() { return optionalFields; }
  BitMap const& extensionMap() const { return extensionFields; }
  BitMap& extensionMap() { return extensionFields; }

 protected:
  // Typed access for the generated accessors: slot i seen as its own class
  // (checked in debug builds).
  template <class T>
  T& field_as(unsigned index) {
    return *boost::polymorphic_downcast<T*>(fields[index]);
  }
  template <class T>
  T const& field_as(unsigned index) const {
    return *boost::polymorphic_downcast<T const*>(fields[index]);
  }
  // Marks an optional field or addition present and returns its value.
  template <class T>
  T& include_as(unsigned optionalIndex, unsigned index) {
    includeOptionalField(optionalIndex, index);
    return field_as<T>(index);
  }

  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  int comparePresent(SEQUENCE const& other, unsigned slot, unsigned optionalIndex) const;

  FieldVector fields;
  BitMap optionalFields;
  BitMap extensionFields;
};

class CHOICE : public AbstractData, detail::Allocator<CHOICE> {
 public:
  struct InfoType {
    AbstractData::InfoType head;
    bool extendable;
    void const* const* selectionInfos;  // root alternatives, then known additions
    unsigned numChoices;                // root alternatives
    unsigned totalChoices;              // root plus known additions
    unsigned const* tags;               // null: automatic; else one per alternative, ascending
    char const* const* selectionNames;
  };

  enum { unselected_ = -1, unknownSelection_ = -2 };

  static AbstractData* create(void const* info);

  // Takes ownership of `selection`.
  explicit CHOICE(void const* info, int id = unselected_, AbstractData* selection = nullptr);
  CHOICE(CHOICE const& other);
  CHOICE& operator=(CHOICE const& other);
  ~CHOICE() override;
  void swap(CHOICE& other);
  CHOICE* clone() const { return static_cast<CHOICE*>(do_clone()); }

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
  bool extendable() const { return info()->extendable; }
  unsigned getNumChoices() const { return info()->numChoices; }
  unsigned getTotalChoices() const { return info()->totalChoices; }

  // Deletes the old selection, takes ownership of `value`; returns it.
  AbstractData* setSelection(int id, AbstractData* value);
  // True at once when `id` is current, else selects a new default value.
  bool select(int id);
  // A new default value for the current id; id -2 and false when there is
  // no such alternative.
  bool createSelection();
  // Selects the alternative carrying the tag; id -2 and no selection when
  // none does.
  bool setID(unsigned tagNumber, unsigned tagClass);

  AbstractData* getSelection() { return selection; }
  AbstractData const* getSelection() const { return selection; }
  int currentSelection() const { return choiceID; }
  // Requires 0 <= id < total count.
  char const* getSelectionName() const { return info()->selectionNames[choiceID]; }
  unsigned getSelectionTag() const;
  bool isUnknownSelection() const { return choiceID == unknownSelection_; }
  // An alternative this type knows is selected and held: the only state
  // in which a CHOICE has a name and a value to code or print.
  bool hasKnownSelection() const {
    return choiceID >= 0 && static_cast<unsigned>(choiceID) < getTotalChoices() && selection != nullptr;
  }

  // A selected alternative that is itself valid; a known extension
  // alternative only when the type is extensible, and never strictly.
  bool isValid() const;
  bool isStrictlyValid() const;

 protected:
  // Typed access for the generated accessors (checked in debug builds).
  // Selects a new default value of alternative `id` and returns it.
  template <class T>
  T& select_as(int id) {
    return *boost::polymorphic_downcast<T*>(setSelection(id, AbstractData::create(info()->selectionInfos[id])));
  }
  // The held selection as alternative class T; it must be selected.
  template <class T>
  T& selection_as() {
    return *boost::polymorphic_downcast<T*>(selection);
  }
  template <class T>
  T const& selection_as() const {
    return *boost::polymorphic_downcast<T const*>(selection);
  }

  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  void dropSelection();

  AbstractData* selection;
  int choiceID;
};

class SEQUENCE_OF_Base : public ConstrainedObject, detail::Allocator<SEQUENCE_OF_Base> {
 public:
  struct InfoType {
    ConstrainedObject::InfoType constraint;  // bounds the element count
    void const* elementInfo;
  };
  typedef std::vector<AbstractData*, detail::NodeAllocator<AbstractData*> > Container;
  typedef Container::iterator iterator;
  typedef Container::const_iterator const_iterator;

  // Makes a plain list; the typed lists' own records make typed lists.
  static AbstractData* create(void const* info);

  explicit SEQUENCE_OF_Base(void const* info) : ConstrainedObject(info) {}
  SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other);
  SEQUENCE_OF_Base& operator=(SEQUENCE_OF_Base const& other);
  ~SEQUENCE_OF_Base() override;

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }

  unsigned size() const { return static_cast<unsigned>(elements.size()); }
  bool empty() const { return elements.empty(); }
  iterator begin() { return elements.begin(); }
  iterator end() { return elements.end(); }
  const_iterator begin() const { return elements.begin(); }
  const_iterator end() const { return elements.end(); }
  void reserve(unsigned n) { elements.reserve(n); }

  AbstractData* createElement() const;
  // Takes ownership of a non-null element.
  void push_back(AbstractData* element);
  void insert(iterator pos, unsigned n, AbstractData const& x);
  void insert(iterator pos, const_iterator first, const_iterator last);
  iterator erase(iterator first, iterator last);
  void clear();
  // Shortens (deleting) or appends default elements.
  void resize(unsigned n);

  // The element count within the bounds (above an extensible upper bound
  // for isValid) and every element valid.
  bool isValid() const;
  bool isStrictlyValid() const;

  struct create_from0 {
    explicit create_from0(AbstractData const& x) : x(x) {}
    AbstractData* operator()() const { return x.clone(); }
    AbstractData const& x;
  };
  struct create_from_ptr {
    AbstractData* operator()(AbstractData const* p) const { return p->clone(); }
  };

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

  Container elements;
};

// A list of T. Its record makes objects of this class, whose elements are
// made by T's record, so the typed accessors see exactly the classes they
// name.
template <class T, class Constraint = EmptyConstraint>
class SEQUENCE_OF : public SEQUENCE_OF_Base {
 public:
  typedef T value_type;

  class iterator : public boost::iterator_adaptor<iterator, Container::iterator, T> {
    typedef boost::iterator_adaptor<iterator, Container::iterator, T> Adaptor;

   public:
    iterator() {}
    explicit iterator(Container::iterator it) : Adaptor(it) {}

   private:
    friend class boost::iterator_core_access;
    T& dereference() const { return *boost::polymorphic_downcast<T*>(*this->base()); }
  };

  class const_iterator : public boost::iterator_adaptor<const_iterator, Container::const_iterator, T const> {
    typedef boost::iterator_adaptor<const_iterator, Container::const_iterator, T const> Adaptor;

   public:
    const_iterator() {}
    explicit const_iterator(Container::const_iterator it) : Adaptor(it) {}
    const_iterator(iterator it) : Adaptor(it.base()) {}

   private:
    friend class boost::iterator_core_access;
    T const& dereference() const { return *boost::polymorphic_downcast<T const*>(*this->base()); }
  };

  static const SEQUENCE_OF_Base::InfoType theInfo;

  SEQUENCE_OF() : SEQUENCE_OF_Base(&theInfo) {}
  explicit SEQUENCE_OF(void const* info) : SEQUENCE_OF_Base(info) {}
  SEQUENCE_OF(SEQUENCE_OF const&) = default;
  SEQUENCE_OF& operator=(SEQUENCE_OF const&) = default;
  SEQUENCE_OF* clone() const { return static_cast<SEQUENCE_OF*>(do_clone()); }

  using SEQUENCE_OF_Base::push_back;
  // Appends a copy.
  void push_back(T const& x) { SEQUENCE_OF_Base::push_back(x.clone()); }
  T& operator[](unsigned i) { return *boost::polymorphic_downcast<T*>(elements[i]); }
  T const& operator[](unsigned i) const { return *boost::polymorphic_downcast<T const*>(elements[i]); }
  T& back() { return *boost::polymorphic_downcast<T*>(elements.back()); }

  iterator begin() { return iterator(elements.begin()); }
  iterator end() { return iterator(elements.end()); }
  const_iterator begin() const { return const_iterator(elements.begin()); }
  const_iterator end() const { return const_iterator(elements.end()); }

  using SEQUENCE_OF_Base::erase;
  iterator erase(iterator it) {
    clean(it);
    return iterator(elements.erase(it.base()));
  }

 protected:
  AbstractData* do_clone() const override { return new SEQUENCE_OF(*this); }

  static void clean(iterator it) { delete *it.base(); }
};

template <class T, class Constraint>
inline constexpr SEQUENCE_OF_Base::InfoType SEQUENCE_OF<T, Constraint>::theInfo = {
    &create_value<SEQUENCE_OF<T, Constraint> >, 16, Unconstrained, 0, 4294967295u, &T::theInfo};

// SET OF behaves exactly as SEQUENCE OF; only its tag differs.
template <class T, class Constraint = EmptyConstraint>
class SET_OF : public SEQUENCE_OF<T, Constraint> {
 public:
  static const SEQUENCE_OF_Base::InfoType theInfo;

  SET_OF() : SEQUENCE_OF<T, Constraint>(&theInfo) {}
  explicit SET_OF(void const* info) : SEQUENCE_OF<T, Constraint>(info) {}
  SET_OF(SET_OF const&) = default;
  SET_OF& operator=(SET_OF const&) = default;
  SET_OF* clone() const { return static_cast<SET_OF*>(this->do_clone()); }

 protected:
  AbstractData* do_clone() const override { return new SET_OF(*this); }
};

template <class T, class Constraint>
inline constexpr SEQUENCE_OF_Base::InfoType SET_OF<T, Constraint>::theInfo = {
    &create_value<SET_OF<T, Constraint> >, 17, Unconstrained, 0, 4294967295u, &T::theInfo};

class OpenData : public AbstractData, detail::Allocator<OpenData> {
 public:
  static const AbstractData::InfoType theInfo;
  static AbstractData* create(void const* info);

  explicit OpenData(void const* info = &theInfo) : AbstractData(info), data(nullptr), buf(nullptr) {}
  // Takes ownership of `value`.
  OpenData(AbstractData* value, void const* info) : AbstractData(info), data(value), buf(nullptr) {}
  OpenData(OpenData const& other);
  OpenData& operator=(OpenData const& other);
  ~OpenData() override;
  void swap(OpenData& other);

  bool has_data() const { return data != nullptr; }
  AbstractData& get_data() { return *data; }
  AbstractData const& get_data() const { return *data; }
  bool has_buf() const { return buf != nullptr; }
  std::vector<char>& get_buf() { return *buf; }
  std::vector<char> const& get_buf() const { return *buf; }
  bool isEmpty() const { return data == nullptr && buf == nullptr; }
  // Takes ownership of the raw encoding, deleting the one held before.
  void grab(std::vector<char>* octets);

  // A held value's answer; without one, whether raw octets are held.
  bool isValid() const;
  bool isStrictlyValid() const;

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  AbstractData* data;
  std::vector<char>* buf;
};

class TypeConstrainedOpenData : public OpenData {
 public:
  struct InfoType {
    AbstractData::InfoType head;
    void const* typeInfo;  // the type carried in the open type
  };
  // Creates the carried type's default value, then the wrapper around it.
  static AbstractData* create(void const* info);

  TypeConstrainedOpenData(AbstractData* value, void const* info) : OpenData(value, info) {}
  TypeConstrainedOpenData(TypeConstrainedOpenData const&) = default;
  TypeConstrainedOpenData& operator=(TypeConstrainedOpenData const&) = default;

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }

 protected:
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
};

}  // namespace ASN1

#endif
