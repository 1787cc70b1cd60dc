#include "asn1/Visitor.h"

#include "asn1/Constructed.h"
#include "asn1/Primitive.h"
#include "asn1/Strings.h"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return visit(static_cast<INTEGER&>(v)); }

bool Visitor::do_visit(SEQUENCE& seq) {
  int r = preVisitExtensionRoots(seq);
  if (r <= StepFinished) return r != StepFail;

  SEQUENCE::InfoType const* info = seq.info();
  int lastOptional = -1;
  for (unsigned i = 0; i < info->numFields; ++i) {
    int id = info->fieldIds[i];
    int s = visitExtensionRoot(seq, static_cast<int>(i), id);
    if (s <= StepFinished) return s != StepFail;
    if (id != -1) lastOptional = id;
  }
  if (r != StepWithExtensions) return true;

  int t = preVisitExtensions(seq);
  if (t != StepWithExtensions) return t != StepFail;

  for (unsigned i = info->numFields; i < seq.fieldCount(); ++i) {
    ++lastOptional;
    int u = visitKnownExtension(seq, static_cast<int>(i), lastOptional);
    if (u != StepWithExtensions) return u != StepFail;
  }
  return visitUnknownExtensions(seq);
}

bool ConstVisitor::visit(SEQUENCE const& seq) {
  if (!preVisitExtensionRoots(seq)) return false;

  SEQUENCE::InfoType const* info = seq.info();
  int lastOptional = -1;
  for (unsigned i = 0; i < info->numFields; ++i) {
    int id = info->fieldIds[i];
    if (id == -1 || seq.hasOptionalField(static_cast<unsigned>(id))) {
      if (!visitExtensionRoot(seq, static_cast<int>(i))) return false;
    }
    if (id != -1) lastOptional = id;
  }

  if (seq.extensionMap().size() != 0) {
    if (!preVisitExtensions(seq)) return false;
    for (unsigned i = info->numFields; i < seq.fieldCount(); ++i) {
      ++lastOptional;
      if (seq.hasOptionalField(static_cast<unsigned>(lastOptional)) && !visitKnownExtension(seq, static_cast<int>(i)))
        return false;
    }
  }
  return afterVisitSequence(seq);
}

bool ConstVisitor::do_visit(Null const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BOOLEAN const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(INTEGER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(IntegerWithNamedNumber const& v) { return do_visit(static_cast<INTEGER const&>(v)); }
bool ConstVisitor::do_visit(ENUMERATED const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OBJECT_IDENTIFIER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BIT_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OCTET_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(AbstractString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BMPString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(CHOICE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OpenData const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(GeneralizedTime const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(SEQUENCE_OF_Base const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::preVisitExtensionRoots(SEQUENCE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }

}  // namespace ASN1
