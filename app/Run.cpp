#include "app/Run.h"

#include "runtime/Root.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace Linux {

Run::Run(const char* name) : file_name_(Root::path(std::string("/var/run/") + name + ".pid")) {
  // Close-on-exec: the programs the daemon starts have no business with it.
  fd_ = ::open(file_name_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  char text[24];
  const int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(::getpid()));
  ssize_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd_, text + done, static_cast<size_t>(n - done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += w;
  }
  ::fsync(fd_);
}

Run::~Run() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(file_name_.c_str());
}

}  // namespace Linux
