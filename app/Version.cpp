#include "app/Version.h"

#include <ostream>

#ifndef QUORVAD_BUILDER
#define QUORVAD_BUILDER "unknown"
#endif

Version::Version(Type type, int number, const std::string& text, const std::string& user, const std::string& date,
                 const std::string& tag, const std::string& architecture)
    : type_(type), number_(number), text_(text), user_(user), date_(date), tag_(tag), architecture_(architecture) {
  update();
}

void Version::update() {}

void Version::put(std::ostream& os) const { os << tag_; }

// The tag, date and architecture are the release's own values: controllers
// and operators know the daemon by this tag.
const Version Version::current(Version::snapshot, 0, "", QUORVAD_BUILDER, "2023-09-15 16:20", "T230915-1620", "ppc");

std::ostream& operator<<(std::ostream& os, const Version& v) {
  v.put(os);
  return os;
}

std::ostream& operator<<(std::ostream& os, Version::Type t) { return os << version_string(t); }

const char* version_string(Version::Type t) {
  switch (t) {
    case Version::snapshot:
      return "snapshot";
    case Version::test:
      return "test";
    case Version::release:
      return "release";
    case Version::unit_test:
      return "unit-test";
  }
  return "unknown";
}

const char* version_suffix(Version::Type t) {
  switch (t) {
    case Version::snapshot:
      return "S";
    case Version::test:
    case Version::unit_test:
      return "T";
    case Version::release:
      return "R";
  }
  return "U";
}
