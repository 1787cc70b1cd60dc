#pragma once
// A directory of its own under /tmp for one program, removed with all it
// holds when the program ends. A forked child that exits leaves it alone.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace testboard {

class TempRoot {
 public:
  // The directory is named prefix-XXXXXX; "/tmp" stands for it when none
  // could be made.
  explicit TempRoot(const std::string& prefix) : owner_(::getpid()) {
    std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
    if (const char* d = ::mkdtemp(&tmpl[0])) dir_ = d;
  }
  ~TempRoot() {
    if (dir_.empty() || ::getpid() != owner_) return;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;
  const std::string& dir() const { return dir_.empty() ? kFallback : dir_; }

 private:
  inline static const std::string kFallback = "/tmp";
  pid_t owner_;
  std::string dir_;
};

}  // namespace testboard
