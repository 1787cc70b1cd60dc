// Character strings and time. Every restricted string whose characters are
// single octets is an `AbstractString` told apart by its record (alphabet,
// size constraint, bits per character for the PER coders); BMPString holds
// wide characters; GeneralizedTime keeps its fields and codes as its text.
#ifndef QV_ASN1_STRINGS_H
#define QV_ASN1_STRINGS_H

#include <iosfwd>
#include <string>

#include "asn1/AbstractData.h"

namespace ASN1 {

// Permitted alphabets in ascending code order, each followed by a NUL.
extern const char NumericStringSet[12];
extern const char PrintableStringSet[75];
extern const char VisibleStringSet[96];
extern const char IA5StringSet[129];
extern const char GeneralStringSet[257];

class AbstractString : public ConstrainedObject, public std::string, detail::Allocator<AbstractString> {
 public:
  struct InfoType {
    ConstrainedObject::InfoType constraint;  // bounds the length in characters
    char const* characterSet;                // ascending
    unsigned characterSetSize;               // 0: every octet permitted
    unsigned canonicalSetBits;
    unsigned unalignedBits;
    unsigned alignedBits;
  };

  // A plain string value for any one-octet string record.
  static AbstractData* create(void const* info);

  explicit AbstractString(void const* info) : ConstrainedObject(info) {}
  AbstractString(void const* info, std::string const& text) : ConstrainedObject(info), std::string(text) {}
  AbstractString(void const* info, char const* text) : ConstrainedObject(info), std::string(text) {}
  AbstractString(AbstractString const&) = default;
  AbstractString& operator=(AbstractString const& other) {
    std::string::operator=(other);
    return *this;
  }
  AbstractString& operator=(std::string const& text) {
    std::string::operator=(text);
    return *this;
  }
  AbstractString& assign(std::string const& text) {
    std::string::assign(text);
    return *this;
  }
  using std::string::assign;
  using AbstractData::compare;
  using AbstractData::operator==;
  using AbstractData::operator!=;

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
  char const* getCharacterSet() const { return info()->characterSet; }
  unsigned getCharacterSetSize() const { return info()->characterSetSize; }
  unsigned getCanonicalSetBits() const { return info()->canonicalSetBits; }
  unsigned getNumBits(bool aligned) const { return aligned ? info()->alignedBits : info()->unalignedBits; }

  // Position of the first octet outside the alphabet, or npos.
  size_type find_first_invalid() const;
  bool isValid() const;
  bool isStrictlyValid() const;

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

// The named one-octet string classes: each codes and compares as an
// AbstractString; its record makes objects of its own class.
#define QV_ASN1_STRING_CLASS(Name)                                                      \
  class Name : public AbstractString {                                                   \
   public:                                                                               \
    static const AbstractString::InfoType theInfo;                                       \
    Name() : AbstractString(&theInfo) {}                                                 \
    explicit Name(void const* info) : AbstractString(info) {}                            \
    Name(std::string const& text, void const* info = &theInfo) : AbstractString(info, text) {} \
    Name(char const* text, void const* info = &theInfo) : AbstractString(info, text) {}        \
    Name(Name const&) = default;                                                         \
    Name& operator=(Name const&) = default;                                              \
    Name& operator=(std::string const& text) {                                           \
      assign(text);                                                                      \
      return *this;                                                                      \
    }                                                                                    \
    Name& operator=(char const* text) {                                                  \
      std::string::assign(text);                                                         \
      return *this;                                                                      \
    }                                                                                    \
    Name* clone() const { return static_cast<Name*>(do_clone()); }                       \
                                                                                         \
   protected:                                                                            \
    AbstractData* do_clone() const override { return new Name(*this); }                  \
  }

QV_ASN1_STRING_CLASS(NumericString);
QV_ASN1_STRING_CLASS(PrintableString);
QV_ASN1_STRING_CLASS(VisibleString);
QV_ASN1_STRING_CLASS(IA5String);
QV_ASN1_STRING_CLASS(GeneralString);
#undef QV_ASN1_STRING_CLASS

inline constexpr AbstractString::InfoType NumericString::theInfo = {
    &create_value<NumericString>, 0x12, Unconstrained, 0, 4294967295u, NumericStringSet, 11, 4, 4, 4};
inline constexpr AbstractString::InfoType PrintableString::theInfo = {
    &create_value<PrintableString>, 0x13, Unconstrained, 0, 4294967295u, PrintableStringSet, 74, 7, 7, 8};
inline constexpr AbstractString::InfoType VisibleString::theInfo = {
    &create_value<VisibleString>, 0x1A, Unconstrained, 0, 4294967295u, VisibleStringSet, 95, 7, 7, 8};
inline constexpr AbstractString::InfoType IA5String::theInfo = {
    &create_value<IA5String>, 0x16, Unconstrained, 0, 4294967295u, IA5StringSet, 128, 7, 7, 8};
inline constexpr AbstractString::InfoType GeneralString::theInfo = {
    &create_value<GeneralString>, 0x1B, Unconstrained, 0, 4294967295u, GeneralStringSet, 256, 8, 8, 8};

// A string type with a size constraint of its own on a built-in string type
// (for example an IA5String of 1 to 64 characters). Its record is constant:
// tag and alphabet words are copied from the base type's record at compile
// time, so nothing is left to fill at start-up.
template <class Base, ConstraintType type, int lower, unsigned upper>
class SizeConstrainedString : public Base {
 public:
  static const AbstractString::InfoType theInfo;

  SizeConstrainedString() : Base(&theInfo) {}
  explicit SizeConstrainedString(void const* info) : Base(info) {}
  SizeConstrainedString(std::string const& text, void const* info = &theInfo) : Base(text, info) {}
  SizeConstrainedString(char const* text, void const* info = &theInfo) : Base(text, info) {}
  SizeConstrainedString(SizeConstrainedString const&) = default;
  SizeConstrainedString& operator=(SizeConstrainedString const&) = default;
  SizeConstrainedString& operator=(std::string const& text) {
    this->assign(text);
    return *this;
  }
  SizeConstrainedString& operator=(char const* text) {
    this->std::string::assign(text);
    return *this;
  }
  SizeConstrainedString* clone() const { return static_cast<SizeConstrainedString*>(this->do_clone()); }

 protected:
  AbstractData* do_clone() const override { return new SizeConstrainedString(*this); }
};

template <class Base, ConstraintType type, int lower, unsigned upper>
inline constexpr AbstractString::InfoType SizeConstrainedString<Base, type, lower, upper>::theInfo = {
    &create_value<SizeConstrainedString<Base, type, lower, upper> >,
    Base::theInfo.constraint.head.tag,
    type,
    lower,
    upper,
    Base::theInfo.characterSet,
    Base::theInfo.characterSetSize,
    Base::theInfo.canonicalSetBits,
    Base::theInfo.unalignedBits,
    Base::theInfo.alignedBits};

// Writes the characters as they are, without quotes.
std::ostream& operator<<(std::ostream& os, AbstractString const& s);

class BMPString : public ConstrainedObject, public std::wstring, detail::Allocator<BMPString> {
 public:
  struct InfoType {
    ConstrainedObject::InfoType constraint;
    wchar_t firstChar;
    wchar_t lastChar;
    unsigned unalignedBits;
    unsigned alignedBits;
  };
  static const InfoType theInfo;
  static AbstractData* create(void const* info);

  BMPString() : ConstrainedObject(&theInfo) {}
  explicit BMPString(void const* info) : ConstrainedObject(info) {}
  BMPString(std::wstring const& text, void const* info = &theInfo) : ConstrainedObject(info), std::wstring(text) {}
  BMPString(wchar_t const* text, void const* info = &theInfo) : ConstrainedObject(info), std::wstring(text) {}
  BMPString(BMPString const&) = default;
  BMPString& operator=(BMPString const& other) {
    std::wstring::operator=(other);
    return *this;
  }
  BMPString& assign(wchar_t const* text, unsigned n) {
    std::wstring::assign(text, n);
    return *this;
  }
  using AbstractData::compare;
  using AbstractData::operator==;
  using AbstractData::operator!=;

  InfoType const* info() const { return static_cast<InfoType const*>(AbstractData::info()); }
  wchar_t getFirstChar() const { return info()->firstChar; }
  wchar_t getLastChar() const { return info()->lastChar; }
  unsigned getNumBits(bool aligned) const { return aligned ? info()->alignedBits : info()->unalignedBits; }

  bool legalCharacter(wchar_t c) const { return getFirstChar() <= c && c <= getLastChar(); }
  // Position of the first illegal character, or the length.
  size_type first_illegal_at() const;
  bool isValid() const;
  bool isStrictlyValid() const;

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

class GeneralizedTime : public AbstractData, detail::Allocator<GeneralizedTime> {
 public:
  static const AbstractData::InfoType theInfo;
  static AbstractData* create(void const* info);

  GeneralizedTime() : GeneralizedTime(static_cast<void const*>(&theInfo)) {}
  explicit GeneralizedTime(void const* info);
  explicit GeneralizedTime(char const* text);
  GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec, int mindiff, bool utc);
  GeneralizedTime(GeneralizedTime const&) = default;
  GeneralizedTime& operator=(GeneralizedTime const& other);
  void swap(GeneralizedTime& other);

  // Reads the text form (a NUL-terminated text); fields the text does not
  // carry keep their values.
  void set(char const* text);
  std::string get() const;
  long get_time_t() const;
  void set_time_t(long t);

  bool isStrictlyValid() const;
  bool isValid() const { return isStrictlyValid(); }

  int getYear() const { return year; }
  int getMonth() const { return month; }
  int getDay() const { return day; }
  int getHour() const { return hour; }
  int getMinute() const { return minute; }
  int getSecond() const { return second; }
  int getMillisec() const { return millisec; }
  int getMindiff() const { return mindiff; }
  bool getUTC() const { return utc; }

 protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;

 private:
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int millisec;
  int mindiff;
  bool utc;
};

}  // namespace ASN1

#endif
