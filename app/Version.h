#pragma once
// The build record: what was built, by whom, when and for which target.
// The daemon shows its tag in the version answer, the start line, the
// syslog identity and the status dump.
#include <iosfwd>
#include <string>

class Version {
public:
  enum Type { snapshot = 0, test = 1, release = 2, unit_test = 3 };

  Version(Type type, int number, const std::string& text, const std::string& user, const std::string& date,
          const std::string& tag, const std::string& architecture);

  // Hook for builds that refine the record after construction; nothing to
  // do in this one.
  void update();

  Type type() const { return type_; }
  int number() const { return number_; }
  const std::string& text() const { return text_; }
  const std::string& user() const { return user_; }
  const std::string& date() const { return date_; }
  const std::string& tag() const { return tag_; }
  const std::string& architecture() const { return architecture_; }

  // Writes the tag only.
  void put(std::ostream& os) const;

  // This program's record.
  static const Version current;

private:
  Type type_;
  int number_;
  std::string text_;
  std::string user_;
  std::string date_;
  std::string tag_;
  std::string architecture_;
};

std::ostream& operator<<(std::ostream& os, const Version& v);
std::ostream& operator<<(std::ostream& os, Version::Type t);

// "snapshot", "test", "release", "unit-test"; "unknown" otherwise.
const char* version_string(Version::Type t);
// "S", "T" (test and unit-test), "R"; "U" otherwise.
const char* version_suffix(Version::Type t);
