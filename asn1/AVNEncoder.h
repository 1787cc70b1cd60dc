// The value-notation printer: every message the daemon logs is written by it,
// one field or element per line, nested values indented by two spaces, with
// field and alternative names as the type records hold them.
#ifndef QV_ASN1_AVNENCODER_H
#define QV_ASN1_AVNENCODER_H

#include <ios>
#include <ostream>
#include <vector>

#include "asn1/Visitor.h"

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
 public:
  explicit AVNEncoder(std::ostream& os) : strm(os), indent(0) {}

 protected:
  bool do_visit(Null const& v) override;
  bool do_visit(BOOLEAN const& v) override;
  bool do_visit(INTEGER const& v) override;
  bool do_visit(IntegerWithNamedNumber const& v) override;
  bool do_visit(ENUMERATED const& v) override;
  bool do_visit(OBJECT_IDENTIFIER const& v) override;
  bool do_visit(BIT_STRING const& v) override;
  bool do_visit(OCTET_STRING const& v) override;
  bool do_visit(AbstractString const& v) override;
  bool do_visit(BMPString const& v) override;
  bool do_visit(CHOICE const& v) override;
  bool do_visit(OpenData const& v) override;
  bool do_visit(GeneralizedTime const& v) override;
  bool do_visit(SEQUENCE_OF_Base const& v) override;
  bool preVisitExtensionRoots(SEQUENCE const& v) override;
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;
  bool afterVisitSequence(SEQUENCE const& v) override;

 private:
  using ConstVisitor::do_visit;
  bool printField(SEQUENCE const& v, int index);
  void spaces(int n);

  std::ostream& strm;
  int indent;
  std::vector<bool> separators;
};

// Base of the runtime's stream operators: do_it sets on the stream the state
// that do_real_io returns.
template <class CharT, class Traits>
class IOWrapper {
 public:
  virtual ~IOWrapper() {}
  void do_it(std::basic_ios<CharT, Traits>& ios);

 protected:
  virtual std::ios_base::iostate do_real_io() = 0;
};

template <class CharT, class Traits, class Value>
class InserterWrapper : public IOWrapper<CharT, Traits> {
 public:
  InserterWrapper(std::basic_ostream<CharT, Traits>& os, Value const& v) : os(os), value(v) {}

 protected:
  std::ios_base::iostate do_real_io() override;

 private:
  std::basic_ostream<CharT, Traits>& os;
  Value const& value;
};

// Writes the value in value notation when the stream is good; a value that
// cannot be printed sets failbit, which silences the rest of the line.
std::ostream& operator<<(std::ostream& os, AbstractData const& value);

// Ends a log line that may carry a value the printer refused: clears the
// state the refusal left, then writes the line end and flushes, so one bad
// value costs its own line and no later one. Log code ends with it every
// line that prints a value:
//   std::clog << "send fail: encode error!" << msg << ASN1::endLine;
std::ostream& endLine(std::ostream& os);

}  // namespace ASN1

#endif
