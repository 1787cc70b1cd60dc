// Validity of a value tree against its type information: `ValidChecker`
// (extensible constraints may be exceeded), `StrictlyValidChecker` (every
// bound and alphabet holds, no extension alternative), and `InvalidTracer`,
// which describes the first violation with the path down to it. The coders
// do not call them; AbstractData::isValid and isStrictlyValid do.
#ifndef QV_ASN1_CHECKERS_H
#define QV_ASN1_CHECKERS_H

#include <iosfwd>
#include <sstream>

#include "asn1/Visitor.h"

namespace ASN1 {

class ConstrainedObject;

class ValidChecker : public ConstVisitor {
 public:
  ValidChecker() {}

 protected:
  bool do_visit(Null const& v) override;
  bool do_visit(BOOLEAN const& v) override;
  bool do_visit(INTEGER const& v) override;
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
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;
};

class StrictlyValidChecker : public ConstVisitor {
 public:
  StrictlyValidChecker() {}

 protected:
  bool do_visit(Null const& v) override;
  bool do_visit(BOOLEAN const& v) override;
  bool do_visit(INTEGER const& v) override;
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
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;
};

// Stops at the first violation and writes its description, each text
// beginning with a space, after the path to it (".field", "[index]",
// ".alternative").
class InvalidTracer : public ConstVisitor {
 public:
  InvalidTracer() : report(std::ios_base::in | std::ios_base::out) {}

  std::string text() const { return report.str(); }

 protected:
  bool do_visit(Null const& v) override;
  bool do_visit(BOOLEAN const& v) override;
  bool do_visit(INTEGER const& v) override;
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
  bool visitExtensionRoot(SEQUENCE const& v, int index) override;
  bool visitKnownExtension(SEQUENCE const& v, int index) override;

 private:
  bool traceField(SEQUENCE const& v, int index);
  // The size tests shared by the bit, octet and character strings and the
  // lists: the lower bound always, the upper bound for fixed bounds only.
  bool traceSize(char const* what, unsigned long long size, ConstrainedObject const& c);

  std::stringstream report;
};

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer);

// When the value is not strictly valid, writes `prefix`, the description
// and an end of line to `os` and answers false; else writes nothing.
bool trace_invalid(std::ostream& os, char const* prefix, AbstractData const& value);

}  // namespace ASN1

#endif
