#pragma once
// A full descriptor table for one test: lowers the process's soft limit
// just above the descriptors in use and fills the rest, so that the next
// socket(), accept() or open() fails with EMFILE. give() hands slots back
// one at a time; the destructor closes the fillers and restores the limit.
//
// Not under the sanitizers: their checks of a virtual call test whether
// memory is readable through a pipe, and with no descriptor to make one
// they report every object they have not seen yet as broken. Tests skip
// with DESCRIPTOR_LIMIT_SKIP_UNDER_SANITIZERS() there.
#include <dirent.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define DESCRIPTOR_LIMIT_SKIP_UNDER_SANITIZERS() \
  GTEST_SKIP() << "a full descriptor table blinds the sanitizers' own checks"
#else
#define DESCRIPTOR_LIMIT_SKIP_UNDER_SANITIZERS() \
  do {                                         \
  } while (0)
#endif

class DescriptorLimit {
public:
  DescriptorLimit() {
    ::getrlimit(RLIMIT_NOFILE, &old_);
    rlimit low = old_;
    low.rlim_cur = static_cast<rlim_t>(highest() + 1 + 16);
    ::setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::eventfd(0, EFD_CLOEXEC)) >= 0;) fillers_.push_back(fd);
  }
  ~DescriptorLimit() {
    for (int fd : fillers_) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old_);
  }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

  // Frees n slots.
  void give(size_t n) {
    for (; n > 0 && !fillers_.empty(); --n) {
      ::close(fillers_.back());
      fillers_.pop_back();
    }
  }
  bool full() const {
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    if (fd < 0) return true;
    ::close(fd);
    return false;
  }

private:
  // The highest descriptor now open.
  static int highest() {
    int top = 2;
    if (DIR* d = ::opendir("/proc/self/fd")) {
      while (dirent* e = ::readdir(d)) {
        const int fd = std::atoi(e->d_name);
        if (fd > top) top = fd;
      }
      ::closedir(d);
    }
    return top;
  }

  rlimit old_{};
  std::vector<int> fillers_;
};
