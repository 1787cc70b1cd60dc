#include "asn1/Constructed.h"

#include <algorithm>
#include <memory>

#include "asn1/Visitor.h"

namespace ASN1 {

// ---- SEQUENCE::BitMap

void SEQUENCE::BitMap::Bytes::resizeAcross(std::size_t n) {
  std::size_t const small = sizeof local_;
  if (n <= small) {
    // Only reached from octets held elsewhere.
    std::copy(heap_, heap_ + n, local_);
    detail::releaseNode(heap_, count_);
    heap_ = nullptr;
  } else {
    char* fresh = static_cast<char*>(detail::allocateNode(n));
    std::size_t keep = std::min(count_, n);
    std::copy(data(), data() + keep, fresh);
    std::fill(fresh + keep, fresh + n, 0);
    if (count_ > small) detail::releaseNode(heap_, count_);
    heap_ = fresh;
  }
  count_ = n;
}

void SEQUENCE::BitMap::Bytes::swap(Bytes& other) {
  std::swap(count_, other.count_);
  std::swap(local_, other.local_);
  std::swap(heap_, other.heap_);
}


void SEQUENCE::BitMap::swap(BitMap& other) {
  std::swap(totalBits, other.totalBits);
  bitData.swap(other.bitData);
}

// ---- SEQUENCE::FieldVector

SEQUENCE::FieldVector::FieldVector(std::size_t n) : FieldVector() {
  if (n > sizeof local_ / sizeof local_[0]) {
    heap_ = static_cast<AbstractData**>(detail::allocateNode(n * sizeof(AbstractData*)));
    std::fill(heap_, heap_ + n, nullptr);
  }
  count_ = n;
}

SEQUENCE::FieldVector::FieldVector(FieldVector const& other) : FieldVector(other.size()) {
  // A clone that throws leaves the slots after it empty; the destructor,
  // run for a delegating constructor that throws, drops the clones made.
  AbstractData** to = begin();
  for (std::size_t k = 0; k < count_; ++k) {
    AbstractData const* f = other[k];
    if (f != nullptr) to[k] = f->clone();
  }
}

inline __attribute__((always_inline)) void SEQUENCE::FieldVector::add(unsigned k, InfoType const* info) {
  if (k < 64 && ((placed_ >> k) & 1) != 0)
    (*this)[k] = info->fieldBlock->places[k].make(block_ + info->fieldBlock->places[k].offset, info->fieldInfos[k]);
  else
    (*this)[k] = AbstractData::create(info->fieldInfos[k]);
}

void SEQUENCE::FieldVector::build(InfoType const* info) {
  std::size_t const n = static_cast<std::size_t>(info->numFields) + info->knownExtensions;
  std::size_t const local = sizeof local_ / sizeof local_[0];
  FieldBlock const* fb = info->fieldBlock;
  if (fb != nullptr && fb->size != 0) {
    block_ = static_cast<char*>(detail::allocateNode(fb->size));
    blockSize_ = fb->size;
    if (n > local) heap_ = reinterpret_cast<AbstractData**>(block_);
    // The marks stand for the whole life of the block: a slot still empty
    // is passed over when the vector goes.
    placed_ = fb->placed;
    plain_ = fb->plain;
  } else if (n > local) {
    heap_ = static_cast<AbstractData**>(detail::allocateNode(n * sizeof(AbstractData*)));
  }
  if (n > local) std::fill(heap_, heap_ + n, nullptr);
  count_ = n;
  // A field that throws leaves the vector whole: what was made is dropped
  // by the destructor. Optional fields keep their place until included.
  if (fb != nullptr && fb->makeMandatory != nullptr && info->numFields <= 64) {
    fb->makeMandatory(begin(), block_);
    return;
  }
  int const* ids = info->fieldIds;
  for (unsigned k = 0; k < info->numFields; ++k) {
    if (ids[k] == -1) add(k, info);
  }
}

void SEQUENCE::FieldVector::release() noexcept {
  AbstractData** s = begin();
  // Only the slots with something to destroy are visited; none past the
  // 64th is in the block.
  std::size_t const marked = count_ < 64 ? count_ : 64;
  std::uint64_t work = (marked == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << marked) - 1) & ~plain_;
  while (work != 0) {
    unsigned k = static_cast<unsigned>(__builtin_ctzll(work));
    work &= work - 1;
    if (AbstractData* f = s[k]) {
      if (((placed_ >> k) & 1) != 0)
        f->~AbstractData();
      else
        delete f;
    }
  }
  for (std::size_t k = marked; k < count_; ++k) delete s[k];
  if (count_ > sizeof local_ / sizeof local_[0] && heap_ != reinterpret_cast<AbstractData**>(block_))
    detail::releaseNode(heap_, count_ * sizeof(AbstractData*));
  if (block_ != nullptr) detail::releaseNode(block_, blockSize_);
}

SEQUENCE::FieldVector::~FieldVector() { release(); }

void SEQUENCE::FieldVector::swap(FieldVector& other) {
  std::swap(count_, other.count_);
  std::swap(local_, other.local_);
  std::swap(heap_, other.heap_);
  std::swap(block_, other.block_);
  std::swap(blockSize_, other.blockSize_);
  std::swap(placed_, other.placed_);
  std::swap(plain_, other.plain_);
}

// ---- SEQUENCE

AbstractData* SEQUENCE::create(void const* info) { return new SEQUENCE(info); }

SEQUENCE::SEQUENCE(void const* info) : AbstractData(info) {
  InfoType const* i = this->info();
  fields.build(i);
  if (i->numOptional != 0) optionalFields.reset(i->numOptional);
  if (i->defaultExtensions != nullptr) {
    extensionFields.resize(i->knownExtensions);
    std::copy(i->defaultExtensions, i->defaultExtensions + extensionFields.bytes().size(),
              extensionFields.bytes().begin());
    extensionFields.resize(i->knownExtensions);  // drops stray bits past the count
    for (unsigned j = 0; j < i->knownExtensions; ++j) {
      if (extensionFields[j]) fields[i->numFields + j] = AbstractData::create(i->fieldInfos[i->numFields + j]);
    }
  }
}

SEQUENCE::SEQUENCE(SEQUENCE const& other)
    : AbstractData(other),
      fields(other.fields),
      optionalFields(other.optionalFields),
      extensionFields(other.extensionFields) {}

SEQUENCE& SEQUENCE::operator=(SEQUENCE const& other) {
  if (this == &other) return *this;
  FieldVector f(other.fields);
  BitMap o(other.optionalFields);
  BitMap e(other.extensionFields);
  fields.swap(f);
  optionalFields.swap(o);
  extensionFields.swap(e);
  return *this;
}

void SEQUENCE::swap(SEQUENCE& other) {
  fields.swap(other.fields);
  optionalFields.swap(other.optionalFields);
  extensionFields.swap(other.extensionFields);
}

unsigned SEQUENCE::getFieldTag(int index) const {
  InfoType const* i = info();
  if (i->tags == nullptr) return contextTag(static_cast<unsigned>(index));
  if (i->tags == &defaultTag) return static_cast<AbstractData::InfoType const*>(i->fieldInfos[index])->tag;
  return i->tags[index];
}

int SEQUENCE::tagMode() const {
  InfoType const* i = info();
  if (i->tags == nullptr) return 0;
  return i->tags == &defaultTag ? 2 : 1;
}


void SEQUENCE::includeOptionalField(unsigned optionalIndex, unsigned fieldIndex) {
  if (fields[fieldIndex] == nullptr) fields.add(fieldIndex, info());
  if (optionalIndex < optionalFields.size()) {
    optionalFields.set(optionalIndex);
  } else {
    unsigned j = optionalIndex - optionalFields.size();
    if (extensionFields.size() <= j) extensionFields.resize(j + 1);
    extensionFields.set(j);
  }
}

void SEQUENCE::removeOptionalField(unsigned optionalIndex) {
  if (optionalIndex < optionalFields.size())
    optionalFields.clear(optionalIndex);
  else
    extensionFields.clear(optionalIndex - optionalFields.size());
}

int SEQUENCE::comparePresent(SEQUENCE const& other, unsigned slot, unsigned optionalIndex) const {
  bool mine = hasOptionalField(optionalIndex);
  bool theirs = other.hasOptionalField(optionalIndex);
  if (!(mine && theirs)) return static_cast<int>(mine) - static_cast<int>(theirs);
  return fields[slot]->compare(*other.fields[slot]);
}

int SEQUENCE::do_compare(AbstractData const& o) const {
  SEQUENCE const& other = static_cast<SEQUENCE const&>(o);
  InfoType const* i = info();
  int lastOptional = -1;
  for (unsigned k = 0; k < i->numFields; ++k) {
    int id = i->fieldIds[k];
    int r;
    if (id == -1) {
      r = fields[k]->compare(*other.fields[k]);
    } else {
      r = comparePresent(other, k, static_cast<unsigned>(id));
      lastOptional = id;
    }
    if (r != 0) return r;
  }
  for (unsigned k = i->numFields; k < fields.size(); ++k) {
    ++lastOptional;
    int r = comparePresent(other, k, static_cast<unsigned>(lastOptional));
    if (r != 0) return r;
  }
  return 0;
}

AbstractData* SEQUENCE::do_clone() const { return new SEQUENCE(*this); }
bool SEQUENCE::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- CHOICE

AbstractData* CHOICE::create(void const* info) { return new CHOICE(info); }

CHOICE::CHOICE(void const* info, int id, AbstractData* sel) : AbstractData(info), selection(sel), choiceID(id) {}

CHOICE::CHOICE(CHOICE const& other)
    : AbstractData(other),
      selection(other.selection != nullptr ? other.selection->clone() : nullptr),
      choiceID(other.choiceID) {}

CHOICE& CHOICE::operator=(CHOICE const& other) {
  if (this == &other) return *this;
  AbstractData* copy = other.selection != nullptr ? other.selection->clone() : nullptr;
  delete selection;
  selection = copy;
  choiceID = other.choiceID;
  return *this;
}

CHOICE::~CHOICE() { delete selection; }

void CHOICE::swap(CHOICE& other) {
  std::swap(selection, other.selection);
  std::swap(choiceID, other.choiceID);
}

void CHOICE::dropSelection() {
  delete selection;
  selection = nullptr;
}

AbstractData* CHOICE::setSelection(int id, AbstractData* value) {
  if (value != selection) delete selection;
  selection = value;
  choiceID = id;
  return value;
}

bool CHOICE::select(int id) {
  if (id == choiceID) return true;
  choiceID = id;
  return createSelection();
}

bool CHOICE::createSelection() {
  InfoType const* i = info();
  if (choiceID >= 0 && static_cast<unsigned>(choiceID) < i->totalChoices && i->selectionInfos[choiceID] != nullptr) {
    AbstractData* fresh = AbstractData::create(i->selectionInfos[choiceID]);
    delete selection;
    selection = fresh;
    return fresh != nullptr;
  }
  choiceID = unknownSelection_;
  dropSelection();
  return false;
}

bool CHOICE::setID(unsigned tagNumber, unsigned tagClass) {
  InfoType const* i = info();
  unsigned key = (tagClass << 16) | tagNumber;
  bool found;
  if (i->tags == nullptr) {
    choiceID = static_cast<int>(tagNumber);
    found = true;
  } else {
    unsigned const* end = i->tags + i->numChoices;
    unsigned const* pos = std::lower_bound(i->tags, end, key);
    choiceID = static_cast<int>(pos - i->tags);
    found = pos != end && *pos == key;
  }
  if (found) return createSelection();

  if (i->numChoices > 0 && i->tags[0] == 0) {
    // The first alternative is itself an untagged CHOICE: the tag may
    // belong to one of its alternatives.
    choiceID = 0;
    if (createSelection()) {
      CHOICE* inner = dynamic_cast<CHOICE*>(selection);
      if (inner != nullptr && inner->setID(tagNumber, tagClass)) return true;
    }
  }
  // No alternative carries the tag: nothing stays selected, so no later
  // reader indexes the name table with a position that names nothing.
  choiceID = unknownSelection_;
  dropSelection();
  return false;
}

unsigned CHOICE::getSelectionTag() const {
  InfoType const* i = info();
  if (i->tags == nullptr) return contextTag(static_cast<unsigned>(choiceID));
  return i->tags[choiceID];
}

int CHOICE::do_compare(AbstractData const& o) const {
  CHOICE const& other = static_cast<CHOICE const&>(o);
  if (choiceID < 0 || choiceID != other.choiceID) return choiceID - other.choiceID;
  if (selection == nullptr || other.selection == nullptr)
    return static_cast<int>(selection != nullptr) - static_cast<int>(other.selection != nullptr);
  return selection->compare(*other.selection);
}

AbstractData* CHOICE::do_clone() const { return new CHOICE(*this); }
bool CHOICE::do_accept(Visitor& v) { return v.visit(*this); }
bool CHOICE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- SEQUENCE_OF_Base

AbstractData* SEQUENCE_OF_Base::create(void const* info) { return new SEQUENCE_OF_Base(info); }

SEQUENCE_OF_Base::SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other) : ConstrainedObject(other) {
  elements.reserve(other.elements.size());
  try {
    for (AbstractData const* e : other.elements) {
      std::unique_ptr<AbstractData> copy(e->clone());
      elements.push_back(copy.get());
      copy.release();
    }
  } catch (...) {
    clear();
    throw;
  }
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(SEQUENCE_OF_Base const& other) {
  if (this == &other) return *this;
  SEQUENCE_OF_Base copy(other);
  elements.swap(copy.elements);
  return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base() { clear(); }

AbstractData* SEQUENCE_OF_Base::createElement() const { return AbstractData::create(info()->elementInfo); }

void SEQUENCE_OF_Base::push_back(AbstractData* element) {
  std::unique_ptr<AbstractData> owned(element);
  elements.push_back(element);
  owned.release();
}

void SEQUENCE_OF_Base::insert(iterator pos, unsigned n, AbstractData const& x) {
  std::size_t offset = static_cast<std::size_t>(pos - elements.begin());
  elements.reserve(elements.size() + n);
  create_from0 make(x);
  for (unsigned k = 0; k < n; ++k) {
    std::unique_ptr<AbstractData> copy(make());
    elements.insert(elements.begin() + static_cast<std::ptrdiff_t>(offset + k), copy.get());
    copy.release();
  }
}

void SEQUENCE_OF_Base::insert(iterator pos, const_iterator first, const_iterator last) {
  std::size_t offset = static_cast<std::size_t>(pos - elements.begin());
  // The range may lie in this very list: clone it before anything moves.
  std::vector<std::unique_ptr<AbstractData> > copies;
  copies.reserve(static_cast<std::size_t>(last - first));
  create_from_ptr make;
  for (; first != last; ++first) copies.emplace_back(make(*first));
  elements.reserve(elements.size() + copies.size());
  for (std::size_t k = 0; k < copies.size(); ++k) {
    elements.insert(elements.begin() + static_cast<std::ptrdiff_t>(offset + k), copies[k].get());
    copies[k].release();
  }
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last) {
  for (iterator it = first; it != last; ++it) delete *it;
  return elements.erase(first, last);
}

void SEQUENCE_OF_Base::clear() {
  for (AbstractData* e : elements) delete e;
  elements.clear();
}

void SEQUENCE_OF_Base::resize(unsigned n) {
  if (elements.size() > n) {
    erase(elements.begin() + n, elements.end());
    return;
  }
  elements.reserve(n);
  while (elements.size() < n) push_back(createElement());
}

int SEQUENCE_OF_Base::do_compare(AbstractData const& o) const {
  SEQUENCE_OF_Base const& other = static_cast<SEQUENCE_OF_Base const&>(o);
  const_iterator a = elements.begin(), b = other.elements.begin();
  for (; a != elements.end() && b != other.elements.end(); ++a, ++b) {
    int r = (*a)->compare(**b);
    if (r != 0) return r;
  }
  return static_cast<int>(size()) - static_cast<int>(other.size());
}

AbstractData* SEQUENCE_OF_Base::do_clone() const { return new SEQUENCE_OF_Base(*this); }
bool SEQUENCE_OF_Base::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- OpenData

const AbstractData::InfoType OpenData::theInfo = {&OpenData::create, 0};

AbstractData* OpenData::create(void const* info) { return new OpenData(info); }

OpenData::OpenData(OpenData const& other) : AbstractData(other), data(nullptr), buf(nullptr) {
  std::unique_ptr<AbstractData> d(other.data != nullptr ? other.data->clone() : nullptr);
  buf = other.buf != nullptr ? new std::vector<char>(*other.buf) : nullptr;
  data = d.release();
}

OpenData& OpenData::operator=(OpenData const& other) {
  if (this == &other) return *this;
  OpenData copy(other);
  swap(copy);
  return *this;
}

OpenData::~OpenData() {
  delete data;
  delete buf;
}

void OpenData::swap(OpenData& other) {
  std::swap(data, other.data);
  std::swap(buf, other.buf);
}

void OpenData::grab(std::vector<char>* octets) {
  if (octets == buf) return;
  delete buf;
  buf = octets;
}

int OpenData::do_compare(AbstractData const& o) const {
  OpenData const& other = static_cast<OpenData const&>(o);
  if (data != nullptr && other.data != nullptr) return data->compare(*other.data);
  if (buf != nullptr && other.buf != nullptr)
    return lexicographic_compare_bytes(buf->data(), buf->data() + buf->size(), other.buf->data(),
                                       other.buf->data() + other.buf->size());
  if (isEmpty() && other.isEmpty()) return 0;
  return data != nullptr ? 1 : -1;
}

AbstractData* OpenData::do_clone() const { return new OpenData(*this); }
bool OpenData::do_accept(Visitor& v) { return v.visit(*this); }
bool OpenData::do_accept(ConstVisitor& v) const { return v.visit(*this); }

// ---- TypeConstrainedOpenData

AbstractData* TypeConstrainedOpenData::create(void const* info) {
  std::unique_ptr<AbstractData> value(AbstractData::create(static_cast<InfoType const*>(info)->typeInfo));
  TypeConstrainedOpenData* result = new TypeConstrainedOpenData(value.get(), info);
  value.release();
  return result;
}

AbstractData* TypeConstrainedOpenData::do_clone() const { return new TypeConstrainedOpenData(*this); }
bool TypeConstrainedOpenData::do_accept(Visitor& v) { return v.visit(*this); }

}  // namespace ASN1
