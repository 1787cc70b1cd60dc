#pragma once
// A stream buffer that writes text lines into hourly log files in one
// directory, "<dir>/%Y_%m_%d-%H.log" in local time, each line prefixed with
// the minute, second and microseconds of its flush ("mm:ss:uuuuu: ").
// Files are opened for appending, so a restart keeps what the hour already
// holds; the file changes when the date and hour of a flush differ from
// those of the open file. The time is the loop's clock source
// (Mux::mux_gettimeofday), so tests drive the hours with a test clock.
//
// The text reaches the file when the file buffer fills, at the change of
// file and at destruction; text still in the put area at destruction is
// lost (text written with std::endl has been flushed).
#include <fstream>
#include <streambuf>
#include <string>

class LogFileStreamBuf : public std::basic_streambuf<char> {
public:
  explicit LogFileStreamBuf(const std::string& directory);
  ~LogFileStreamBuf() override;
  LogFileStreamBuf(const LogFileStreamBuf&) = delete;
  LogFileStreamBuf& operator=(const LogFileStreamBuf&) = delete;

  // Closes the current file and opens the one for the present hour.
  void NewFile();

  // The name of the open file ("" before the first), for tests and tools.
  const std::string& file_name() const { return path_; }
  bool is_open() const { return file_->is_open(); }

protected:
  // Below a size of 2 nothing changes; otherwise the buffer (now owned)
  // becomes the put area after a flush of the old one.
  std::streambuf* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int overflow(int c) override;

private:
  // Opens the file named for the time; stamp_ becomes its date and hour.
  void open_for(long seconds);
  void put(const char* data, std::size_t n);

  std::filebuf* file_;
  std::string directory_;
  // The date and hour of the open file ("%Y_%m_%d-%H"); empty before the
  // first.
  std::string stamp_;
  std::string path_;
  bool continuation_ = false;
  char* area_ = nullptr;
};
