#pragma once
// Helpers shared by the runtime tests.
#include "runtime/Multiplexer.h"
#include "runtime/Root.h"
#include "runtime/TestClock.h"
#include "runtime/Timer.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace rt_test {

// A literal text as a death-test regular expression.
inline std::string Lit(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

using Stopper = Mux::TestStop;

// A directory laid out as the root of the fixed paths, removed afterwards.
class TempRoot {
public:
  TempRoot() {
    char tmpl[] = "/tmp/qv-runtime-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("QUORVAD_ROOT", dir_.c_str(), 1);
    Root::reload();
  }
  ~TempRoot() {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (std::system(cmd.c_str()) != 0) std::perror("rm");
    unsetenv("QUORVAD_ROOT");
    Root::reload();
  }
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& rel) const { return dir_ + "/" + rel; }
  void mkdirs(const std::string& rel) const {
    std::string cmd = "mkdir -p '" + path(rel) + "'";
    if (std::system(cmd.c_str()) != 0) std::perror("mkdir");
  }

private:
  std::string dir_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace rt_test
