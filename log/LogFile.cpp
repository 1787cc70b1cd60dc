#include "log/LogFile.h"

#include "runtime/Clock.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const std::streamsize kPutArea = 16;

std::string stamp_of(long seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[64];
  std::size_t n = std::strftime(text, sizeof text, "%Y_%m_%d-%H", &tm);
  return std::string(text, n);
}

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& directory)
    : file_(new std::filebuf), directory_(directory) {
  setbuf(new char[kPutArea], kPutArea);
  NewFile();
  continuation_ = false;
}

LogFileStreamBuf::~LogFileStreamBuf() {
  delete[] area_;
  delete file_;
}

void LogFileStreamBuf::NewFile() {
  Mux::timeval now;
  Mux::mux_gettimeofday(now);
  open_for(now.tv_sec);
}

void LogFileStreamBuf::open_for(long seconds) {
  file_->close();
  stamp_ = stamp_of(seconds);
  // Built as a string: a directory of any length makes a whole name.
  path_ = directory_ + "/" + stamp_ + ".log";
  file_->open(path_, std::ios::out | std::ios::app | std::ios::binary);
}

std::streambuf* LogFileStreamBuf::setbuf(char* buffer, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] area_;
  area_ = buffer;
  setp(area_, area_ + size);
  return this;
}

void LogFileStreamBuf::put(const char* data, std::size_t n) {
  // A closed file buffer refuses the text: it is dropped until a file opens.
  if (n) file_->sputn(data, static_cast<std::streamsize>(n));
}

int LogFileStreamBuf::sync() {
  if (!pbase()) return 0;
  const char* p = pbase();
  const char* const end = pptr();

  if (continuation_) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (!nl) {
      put(p, static_cast<std::size_t>(end - p));
      setp(pbase(), epptr());
      return 0;
    }
    put(p, static_cast<std::size_t>(nl + 1 - p));
    continuation_ = false;
    p = nl + 1;
  }

  Mux::timeval now;
  Mux::mux_gettimeofday(now);
  std::string stamp = stamp_of(now.tv_sec);
  if (stamp != stamp_) open_for(now.tv_sec);

  std::time_t t = static_cast<std::time_t>(now.tv_sec);
  std::tm tm{};
  localtime_r(&t, &tm);
  char prefix[48];
  int plen = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", tm.tm_min, tm.tm_sec, static_cast<long>(now.tv_usec));
  if (plen < 0) plen = 0;

  while (p < end) {
    put(prefix, static_cast<std::size_t>(plen));
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (!nl) {
      put(p, static_cast<std::size_t>(end - p));
      continuation_ = true;
      break;
    }
    put(p, static_cast<std::size_t>(nl + 1 - p));
    p = nl + 1;
  }
  setp(pbase(), epptr());
  return 0;
}

int LogFileStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  return sputc(traits_type::to_char_type(c));
}
