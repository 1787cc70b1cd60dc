#include "runtime/Root.h"

#include <cstdlib>
#include <unistd.h>

namespace Root {
namespace {

std::string readRoot() {
  const char* env = std::getenv("QUORVAD_ROOT");
  std::string r = env ? env : "";
  if (!r.empty() && r[0] != '/') {
    // A relative root would move with the working directory.
    char buf[4096];
    if (getcwd(buf, sizeof buf)) r = std::string(buf) + "/" + r;
  }
  while (!r.empty() && r.back() == '/') r.pop_back();
  return r;
}

std::string& storage() {
  static std::string root = readRoot();
  return root;
}

}  // namespace

const std::string& dir() { return storage(); }

std::string path(const std::string& fixed) {
  if (fixed.empty()) return storage().empty() ? "/" : storage();
  if (fixed[0] == '/') return storage() + fixed;
  return storage() + "/" + fixed;
}

void reload() { storage() = readRoot(); }

}  // namespace Root
