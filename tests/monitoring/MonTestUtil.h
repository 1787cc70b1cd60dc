#pragma once
// Helpers of the monitoring tests: values from value notation, a fresh
// root per test with the log stream captured, and small file helpers.
#include "DaemonProcess.h"
#include "asn1/CoderEnv.h"
#include "runtime/Root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace mon_test {

// A value read from its value notation; the test fails on a typo.
template <class T>
T avn(const std::string& text) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::avn);
  T v;
  EXPECT_TRUE(ASN1::decode(text.data(), text.data() + text.size(), &env, v, true)) << text;
  return v;
}

using app_test::exists;
inline std::string slurp(const std::string& path) { return app_test::readFile(path); }

inline void spill(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// QUORVAD_ROOT at a new directory holding "/var" for the life of the
// object.
class RootDir {
public:
  RootDir() {
    char tmpl[] = "/tmp/qv-mon-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    std::filesystem::create_directories(dir_ + "/var");
    ::umask(022);  // the board's own
    ::setenv("QUORVAD_ROOT", dir_.c_str(), 1);
    Root::reload();
  }
  ~RootDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  RootDir(const RootDir&) = delete;
  RootDir& operator=(const RootDir&) = delete;
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& fixed) const { return dir_ + fixed; }
  std::string mon(const std::string& name) const { return dir_ + "/var/monitoring/" + name; }

private:
  std::string dir_;
};

}  // namespace mon_test
