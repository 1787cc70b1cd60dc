// The two visitor bases through which every walk of a value runs: `Visitor`
// for walks that change the value (decoders, value-notation reader) and
// `ConstVisitor` for walks that only read it (encoders, printer, checkers).
//
// A value's `accept` calls its `do_accept`, which calls the visitor's
// non-virtual `visit` for the value's own class, which calls the virtual
// `do_visit`. SEQUENCE values are walked by the bases themselves, field by
// field, through the extension hooks, so that every coder shares one field
// order and one treatment of optional and extension fields.
#ifndef QV_ASN1_VISITOR_H
#define QV_ASN1_VISITOR_H

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class OCTET_STRING;
class BIT_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;
class CoderEnv;

class Visitor {
 public:
  // Results of the SEQUENCE hooks.
  enum SequenceStep {
    StepFail = 0,        // stop, the walk fails
    StepFinished = 1,    // stop, the walk succeeds
    StepRootsOnly = 2,   // continue with the root fields only
    StepWithExtensions = 3  // continue, extensions included
  };

  explicit Visitor(CoderEnv* env = nullptr) : env_(env) {}
  virtual ~Visitor() {}

  CoderEnv* get_env() const { return env_; }

  bool visit(Null& v) { return do_visit(v); }
  bool visit(BOOLEAN& v) { return do_visit(v); }
  bool visit(INTEGER& v) { return do_visit(v); }
  bool visit(IntegerWithNamedNumber& v) { return do_visit(v); }
  bool visit(ENUMERATED& v) { return do_visit(v); }
  bool visit(OBJECT_IDENTIFIER& v) { return do_visit(v); }
  bool visit(OCTET_STRING& v) { return do_visit(v); }
  bool visit(BIT_STRING& v) { return do_visit(v); }
  bool visit(AbstractString& v) { return do_visit(v); }
  bool visit(BMPString& v) { return do_visit(v); }
  bool visit(CHOICE& v) { return do_visit(v); }
  bool visit(SEQUENCE_OF_Base& v) { return do_visit(v); }
  bool visit(OpenData& v) { return do_visit(v); }
  bool revisit(OpenData& v) { return do_revisit(v); }
  bool visit(TypeConstrainedOpenData& v) { return do_visit(v); }
  bool visit(GeneralizedTime& v) { return do_visit(v); }
  // Walks the fields through the hooks below, unless the visitor walks
  // them itself.
  bool visit(SEQUENCE& v) { return do_visit(v); }

 protected:
  // The walk through the hooks; a visitor that takes every field the same
  // way may override it with a walk of its own.
  virtual bool do_visit(SEQUENCE& v);
  virtual bool do_visit(Null&) = 0;
  virtual bool do_visit(BOOLEAN&) = 0;
  virtual bool do_visit(INTEGER&) = 0;
  // Treats the value as an INTEGER.
  virtual bool do_visit(IntegerWithNamedNumber& v);
  virtual bool do_visit(ENUMERATED&) = 0;
  virtual bool do_visit(OBJECT_IDENTIFIER&) = 0;
  virtual bool do_visit(OCTET_STRING&) = 0;
  virtual bool do_visit(BIT_STRING&) = 0;
  virtual bool do_visit(AbstractString&) = 0;
  virtual bool do_visit(BMPString&) = 0;
  virtual bool do_visit(CHOICE&) = 0;
  virtual bool do_visit(SEQUENCE_OF_Base&) = 0;
  virtual bool do_visit(OpenData&) = 0;
  // Decodes the raw octets an open type holds into the value it holds.
  virtual bool do_revisit(OpenData&) = 0;
  virtual bool do_visit(TypeConstrainedOpenData&) = 0;
  virtual bool do_visit(GeneralizedTime&) = 0;

  // SEQUENCE hooks, answering a SequenceStep (bool for the last).
  virtual int preVisitExtensionRoots(SEQUENCE&) { return StepWithExtensions; }
  // Field index and optional index (-1 for a mandatory field).
  virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optionalIndex*/) { return StepFail; }
  virtual int preVisitExtensions(SEQUENCE&) { return StepWithExtensions; }
  virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*optionalIndex*/) { return StepFail; }
  virtual bool visitUnknownExtensions(SEQUENCE&) { return true; }

 private:
  CoderEnv* env_;
};

class ConstVisitor {
 public:
  virtual ~ConstVisitor() {}

  bool visit(Null const& v) { return do_visit(v); }
  bool visit(BOOLEAN const& v) { return do_visit(v); }
  bool visit(INTEGER const& v) { return do_visit(v); }
  bool visit(IntegerWithNamedNumber const& v) { return do_visit(v); }
  bool visit(ENUMERATED const& v) { return do_visit(v); }
  bool visit(OBJECT_IDENTIFIER const& v) { return do_visit(v); }
  bool visit(BIT_STRING const& v) { return do_visit(v); }
  bool visit(OCTET_STRING const& v) { return do_visit(v); }
  bool visit(AbstractString const& v) { return do_visit(v); }
  bool visit(BMPString const& v) { return do_visit(v); }
  bool visit(CHOICE const& v) { return do_visit(v); }
  bool visit(OpenData const& v) { return do_visit(v); }
  bool visit(GeneralizedTime const& v) { return do_visit(v); }
  bool visit(SEQUENCE_OF_Base const& v) { return do_visit(v); }
  // Walks the present fields through the hooks below.
  bool visit(SEQUENCE const& v);

 protected:
  // Every kind not overridden lands here.
  virtual bool do_visit(AbstractData const&) { return true; }
  virtual bool do_visit(Null const& v);
  virtual bool do_visit(BOOLEAN const& v);
  virtual bool do_visit(INTEGER const& v);
  virtual bool do_visit(IntegerWithNamedNumber const& v);
  virtual bool do_visit(ENUMERATED const& v);
  virtual bool do_visit(OBJECT_IDENTIFIER const& v);
  virtual bool do_visit(BIT_STRING const& v);
  virtual bool do_visit(OCTET_STRING const& v);
  virtual bool do_visit(AbstractString const& v);
  virtual bool do_visit(BMPString const& v);
  virtual bool do_visit(CHOICE const& v);
  virtual bool do_visit(OpenData const& v);
  virtual bool do_visit(GeneralizedTime const& v);
  virtual bool do_visit(SEQUENCE_OF_Base const& v);

  virtual bool preVisitExtensionRoots(SEQUENCE const& v);
  virtual bool visitExtensionRoot(SEQUENCE const&, int /*index*/) { return false; }
  virtual bool preVisitExtensions(SEQUENCE const&) { return true; }
  virtual bool visitKnownExtension(SEQUENCE const&, int /*index*/) { return false; }
  virtual bool afterVisitSequence(SEQUENCE const&) { return true; }
};

}  // namespace ASN1

#endif
