#include "asn1/Checkers.h"

#include <ostream>

#include "asn1/Constructed.h"
#include "asn1/PERCommon.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"

namespace ASN1 {

// ---- the validity answers of the values that need a walk

bool AbstractData::isValid() const {
  ValidChecker checker;
  return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
  StrictlyValidChecker checker;
  return accept(checker);
}

bool CHOICE::isValid() const {
  int id = currentSelection();
  if (id < 0 || selection == nullptr) return false;
  if (static_cast<unsigned>(id) >= getNumChoices() && !extendable()) return false;
  return selection->isValid();
}

bool CHOICE::isStrictlyValid() const {
  int id = currentSelection();
  if (id < 0 || static_cast<unsigned>(id) >= getNumChoices() || selection == nullptr) return false;
  return selection->isStrictlyValid();
}

bool SEQUENCE_OF_Base::isValid() const {
  if (size() < static_cast<unsigned>(getLowerLimit())) return false;
  if (!extendable() && size() > getUpperLimit()) return false;
  for (AbstractData const* e : elements) {
    if (!e->isValid()) return false;
  }
  return true;
}

bool SEQUENCE_OF_Base::isStrictlyValid() const {
  if (size() < static_cast<unsigned>(getLowerLimit()) || size() > getUpperLimit()) return false;
  for (AbstractData const* e : elements) {
    if (!e->isStrictlyValid()) return false;
  }
  return true;
}

bool OpenData::isValid() const { return has_data() ? get_data().isValid() : has_buf(); }

bool OpenData::isStrictlyValid() const { return has_data() ? get_data().isStrictlyValid() : has_buf(); }

// ---- ValidChecker

bool ValidChecker::do_visit(Null const&) { return true; }
bool ValidChecker::do_visit(BOOLEAN const&) { return true; }
bool ValidChecker::do_visit(INTEGER const& v) { return v.isValid(); }
bool ValidChecker::do_visit(ENUMERATED const& v) { return v.isValid(); }
bool ValidChecker::do_visit(OBJECT_IDENTIFIER const& v) { return v.isValid(); }
bool ValidChecker::do_visit(BIT_STRING const& v) { return v.isValid(); }
bool ValidChecker::do_visit(OCTET_STRING const& v) { return v.isValid(); }
bool ValidChecker::do_visit(AbstractString const& v) { return v.isValid(); }
bool ValidChecker::do_visit(BMPString const& v) { return v.isValid(); }
bool ValidChecker::do_visit(CHOICE const& v) { return v.isValid(); }
bool ValidChecker::do_visit(OpenData const& v) { return v.isValid(); }
bool ValidChecker::do_visit(GeneralizedTime const& v) { return v.isValid(); }
bool ValidChecker::do_visit(SEQUENCE_OF_Base const& v) { return v.isValid(); }

bool ValidChecker::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  return field != nullptr && field->isValid();
}

bool ValidChecker::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

// ---- StrictlyValidChecker

bool StrictlyValidChecker::do_visit(Null const&) { return true; }
bool StrictlyValidChecker::do_visit(BOOLEAN const&) { return true; }
bool StrictlyValidChecker::do_visit(INTEGER const& v) { return v.isStrictValid(); }
bool StrictlyValidChecker::do_visit(ENUMERATED const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(OBJECT_IDENTIFIER const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(BIT_STRING const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(OCTET_STRING const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(AbstractString const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(BMPString const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(CHOICE const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(OpenData const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(GeneralizedTime const& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(SEQUENCE_OF_Base const& v) { return v.isStrictlyValid(); }

bool StrictlyValidChecker::visitExtensionRoot(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  return field != nullptr && field->isStrictlyValid();
}

bool StrictlyValidChecker::visitKnownExtension(SEQUENCE const& v, int index) { return visitExtensionRoot(v, index); }

// ---- InvalidTracer

bool InvalidTracer::do_visit(Null const&) { return true; }
bool InvalidTracer::do_visit(BOOLEAN const&) { return true; }

bool InvalidTracer::do_visit(INTEGER const& v) {
  int64_t lower, upper;
  valueBounds(v, lower, upper);
  int64_t value = integerValue(v);
  if (value < lower) {
    report << " The INTEGER value " << value << " is smaller than lower bound " << v.getLowerLimit();
    return false;
  }
  // Values beyond an extensible upper bound are allowed here.
  if (value > upper && !v.extendable()) {
    report << " The INTEGER value " << value << " is greater than upper bound " << v.getUpperLimit();
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(ENUMERATED const& v) {
  if (v.asInt() <= v.getMaximum()) return true;
  report << " This ENUMERATED has invalid value " << v.asInt();
  return false;
}

bool InvalidTracer::do_visit(OBJECT_IDENTIFIER const& v) {
  if (v.levels() != 0) return true;
  report << " This OBJECT IDENTIFIER is not assigned";
  return false;
}

bool InvalidTracer::traceSize(char const* what, unsigned long long size, ConstrainedObject const& c) {
  if (size < static_cast<unsigned>(c.getLowerLimit())) {
    report << " This " << what << " has size " << size << " smaller than its lower bound " << c.getLowerLimit();
    return false;
  }
  if (c.getConstraintType() == FixedConstraint && size > c.getUpperLimit()) {
    report << " This " << what << " has size " << size << " greater than its upper bound " << c.getUpperLimit();
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(BIT_STRING const& v) { return traceSize("BIT STRING", v.size(), v); }

bool InvalidTracer::do_visit(OCTET_STRING const& v) { return traceSize("OCTET STRING", v.size(), v); }

bool InvalidTracer::do_visit(AbstractString const& v) {
  if (!traceSize("AbstractString", v.size(), v)) return false;
  AbstractString::size_type at = v.find_first_invalid();
  if (at == AbstractString::npos) return true;
  report << " The character '" << v[at] << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(BMPString const& v) {
  if (!traceSize("BMPString", v.size(), v)) return false;
  BMPString::size_type at = v.first_illegal_at();
  if (at == v.size()) return true;
  report << " The character '" << static_cast<long>(v[at]) << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(CHOICE const& v) {
  int id = v.currentSelection();
  if (v.isUnknownSelection() || (id >= 0 && static_cast<unsigned>(id) >= v.getTotalChoices())) {
    report << " This selection is not understood by this decoder";
    return false;
  }
  if (id < 0 || v.getSelection() == nullptr) {
    report << " This CHOICE is not selected";
    return false;
  }
  report << '.' << v.getSelectionName();
  return v.getSelection()->accept(*this);
}

bool InvalidTracer::do_visit(OpenData const& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) return true;
  report << " This Open Type does not contain any valid data";
  return false;
}

bool InvalidTracer::do_visit(GeneralizedTime const& v) {
  if (v.isStrictlyValid()) return true;
  report << " This GeneralizedTime is not valid";
  return false;
}

bool InvalidTracer::do_visit(SEQUENCE_OF_Base const& v) {
  if (!traceSize("SEQUENCE OF", v.size(), v)) return false;
  int position = 0;
  for (AbstractData const* e : v) {
    InvalidTracer element;
    if (!e->accept(element)) {
      report << '[' << position << ']' << element.report.str();
      return false;
    }
    ++position;
  }
  return true;
}

bool InvalidTracer::traceField(SEQUENCE const& v, int index) {
  AbstractData const* field = v.getField(static_cast<unsigned>(index));
  if (field == nullptr) return false;
  InvalidTracer inner;
  if (field->accept(inner)) return true;
  report << '.' << v.getFieldName(index) << inner.report.str();
  return false;
}

bool InvalidTracer::visitExtensionRoot(SEQUENCE const& v, int index) { return traceField(v, index); }

bool InvalidTracer::visitKnownExtension(SEQUENCE const& v, int index) { return traceField(v, index); }

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer) { return os << tracer.text(); }

bool trace_invalid(std::ostream& os, char const* prefix, AbstractData const& value) {
  InvalidTracer tracer;
  if (value.accept(tracer)) return true;
  os << prefix << tracer << std::endl;
  return false;
}

}  // namespace ASN1
