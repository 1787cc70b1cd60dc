#include "asn1/AVNEncoder.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

#include "asn1/CoderEnv.h"
#include "asn1/Constructed.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"

namespace ASN1 {

namespace {

// Numbers go out in decimal whatever format flags the log stream carries.
void putSigned(std::ostream& os, long long v) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", v);
  os.write(buf, n);
}

void putUnsigned(std::ostream& os, unsigned long long v) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%llu", v);
  os.write(buf, n);
}

void putOctets(std::ostream& os, char const* data, std::size_t n) {
  static char const hex[] = "0123456789abcdef";
  os.put('\'');
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) os.put(' ');
    unsigned char c = static_cast<unsigned char>(data[i]);
    os.put(hex[c >> 4]);
    os.put(hex[c & 0x0F]);
  }
  os << "'H";
  os.fill(' ');
}

}  // namespace

void AVNEncoder::spaces(int n) {
  for (int i = 0; i < n; ++i) strm.put(' ');
}

bool AVNEncoder::do_visit(Null const&) {
  strm << "NULL";
  return strm.good();
}

bool AVNEncoder::do_visit(BOOLEAN const& v) {
  strm << (v ? "TRUE" : "FALSE");
  return strm.good();
}

bool AVNEncoder::do_visit(INTEGER const& v) {
  if (v.getConstraintType() != Unconstrained && v.getLowerLimit() >= 0)
    putUnsigned(strm, static_cast<unsigned>(v.getValue()));
  else
    putSigned(strm, v.getValue());
  return strm.good();
}

bool AVNEncoder::do_visit(IntegerWithNamedNumber const& v) {
  std::string name;
  if (!v.getName(name)) return do_visit(static_cast<INTEGER const&>(v));
  strm << name;
  return strm.good();
}

bool AVNEncoder::do_visit(ENUMERATED const& v) {
  std::string name;
  if (v.getIdentifier(name))
    strm << name;
  else
    putSigned(strm, v.asInt());
  return strm.good();
}

bool AVNEncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  strm << "{ ";
  for (unsigned i = 0; i < v.levels(); ++i) {
    putUnsigned(strm, v[i]);
    strm.put(' ');
  }
  strm.put('}');
  return strm.good();
}

bool AVNEncoder::do_visit(BIT_STRING const& v) {
  strm.put('\'');
  for (unsigned i = 0; i < v.size(); ++i) strm.put(v[i] ? '1' : '0');
  strm << "'B";
  return strm.good();
}

bool AVNEncoder::do_visit(OCTET_STRING const& v) {
  putOctets(strm, v.data(), v.size());
  return strm.good();
}

bool AVNEncoder::do_visit(AbstractString const& v) {
  strm.put('"');
  strm.write(v.data(), static_cast<std::streamsize>(v.size()));
  strm.put('"');
  return strm.good();
}

bool AVNEncoder::do_visit(BMPString const& v) {
  // Ask for the converted length first: the multibyte form of a character
  // may take more than one octet.
  std::size_t n = std::wcstombs(nullptr, v.c_str(), 0);
  if (n != static_cast<std::size_t>(-1)) {
    std::string text(n + 1, '\0');
    n = std::wcstombs(&text[0], v.c_str(), n + 1);
    if (n != static_cast<std::size_t>(-1)) {
      strm.put('"');
      strm.write(text.data(), static_cast<std::streamsize>(n));
      strm.put('"');
      return strm.good();
    }
  }
  strm.put('{');
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i != 0) strm << ", ";
    unsigned c = static_cast<unsigned>(v[i]);
    strm << "{ 0, 0, ";
    putUnsigned(strm, c >> 8);
    strm << ", ";
    putUnsigned(strm, c & 0xFF);
    strm.put('}');
  }
  strm.put('}');
  return strm.good();
}

bool AVNEncoder::do_visit(CHOICE const& v) {
  // Nothing selected, or an alternative this type does not know: there is
  // neither a name nor a value to print.
  if (!v.hasKnownSelection()) return false;
  strm << v.getSelectionName() << " : ";
  if (!strm.good()) return false;
  return v.getSelection()->accept(*this);
}

bool AVNEncoder::do_visit(OpenData const& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) {
    putOctets(strm, v.get_buf().data(), v.get_buf().size());
    return strm.good();
  }
  return false;
}

bool AVNEncoder::do_visit(GeneralizedTime const& v) {
  strm << '"' << v.get() << '"';
  return strm.good();
}

bool AVNEncoder::do_visit(SEQUENCE_OF_Base const& v) {
  strm << "{\n";
  indent += 2;
  for (SEQUENCE_OF_Base::const_iterator it = v.begin(); it != v.end() && strm.good(); ++it) {
    spaces(indent);
    if (!(*it)->accept(*this)) return false;
    if (it + 1 != v.end()) strm << ",\n";
  }
  indent -= 2;
  if (!v.empty()) strm.put('\n');
  spaces(indent);
  strm.put('}');
  return strm.good();
}

bool AVNEncoder::preVisitExtensionRoots(SEQUENCE const&) {
  separators.push_back(false);
  strm << "{\n";
  return strm.good();
}

bool AVNEncoder::printField(SEQUENCE const& v, int index) {
  if (separators.back()) strm << ",\n";
  spaces(indent + 2);
  strm << v.getFieldName(index) << ' ';
  indent += 2;
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  if (field == nullptr || !strm.good() || !field->accept(*this)) return false;
  indent -= 2;
  separators.back() = true;
  return strm.good();
}

bool AVNEncoder::visitExtensionRoot(SEQUENCE const& v, int index) { return printField(v, index); }

bool AVNEncoder::visitKnownExtension(SEQUENCE const& v, int index) { return printField(v, index); }

bool AVNEncoder::afterVisitSequence(SEQUENCE const&) {
  if (separators.back()) strm.put('\n');
  separators.pop_back();
  spaces(indent);
  strm.put('}');
  return strm.good();
}

template <class CharT, class Traits>
void IOWrapper<CharT, Traits>::do_it(std::basic_ios<CharT, Traits>& ios) {
  std::ios_base::iostate state = std::ios_base::goodbit;
  try {
    state = do_real_io();
  } catch (std::bad_alloc&) {
    try {
      ios.setstate(std::ios_base::badbit);
    } catch (std::ios_base::failure&) {
    }
    if (ios.exceptions() & std::ios_base::badbit) throw;
    return;
  } catch (...) {
    try {
      ios.setstate(std::ios_base::failbit);
    } catch (std::ios_base::failure&) {
    }
    if (ios.exceptions() & std::ios_base::failbit) throw;
    return;
  }
  if (state != std::ios_base::goodbit) ios.setstate(state);
}

template <class CharT, class Traits, class Value>
std::ios_base::iostate InserterWrapper<CharT, Traits, Value>::do_real_io() {
  typename std::basic_ostream<CharT, Traits>::sentry ready(os);
  if (!ready) return std::ios_base::goodbit;
  return value.print_on(os) == 0 ? std::ios_base::goodbit : std::ios_base::failbit;
}

template class IOWrapper<char, std::char_traits<char> >;
template class InserterWrapper<char, std::char_traits<char>, AbstractData>;

std::ostream& operator<<(std::ostream& os, AbstractData const& value) {
  if (!os.good()) return os;
  InserterWrapper<char, std::char_traits<char>, AbstractData> inserter(os, value);
  inserter.do_it(os);
  return os;
}

std::ostream& endLine(std::ostream& os) {
  os.clear();
  os.put('\n');
  os.flush();
  return os;
}

bool valueNotation(AbstractData const& value, std::string& out) {
  std::ostringstream os;
  if (value.print_on(os) != 0) return false;
  out = os.str();
  return true;
}

}  // namespace ASN1
