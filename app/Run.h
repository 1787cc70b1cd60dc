#pragma once
// The pid file "/var/run/<name>.pid" (under the root of the fixed paths):
// created holding the process id, removed when the object goes. A file
// that cannot be created is not an error: there is simply none.
#include <string>

namespace Linux {

class Run {
public:
  explicit Run(const char* name);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // -1 when the file was not created.
  int fd() const { return fd_; }
  const std::string& file_name() const { return file_name_; }

private:
  int fd_ = -1;
  std::string file_name_;
};

}  // namespace Linux
