#pragma once
// Daemon mode: the process detaches from its terminal and from then on the
// standard output, error and log streams go, line by line, to the system
// log (mode 0: facility daemon, levels notice, error and debug) or to
// hourly log files (mode 1, see log/LogFile.h).
//
//   Daemon::Params params;
//   params.name = "qvd-" + tag;
//   Daemon::Init(params);
#include <string>

class LogFileStreamBuf;

namespace Daemon {

struct Params {
  // 0: system log; 1: log files; any other value: no redirection.
  int mode = 0;
  // true keeps the working directory; false moves to "/".
  bool keepDirectory = false;
  // The system-log identity (mode 0) or the log-file directory (mode 1).
  std::string name = "unknown";
};

// The daemon state of the process; see Init.
class Sentry {
public:
  // Detaches (the process continues as the child; the parent exits), then
  // redirects the streams. If the detach fails: "daemon() fail!" on the
  // standard error stream and exit(2).
  explicit Sentry(const Params& params);
  ~Sentry();
  Sentry(const Sentry&) = delete;
  Sentry& operator=(const Sentry&) = delete;

private:
  int mode_;
  LogFileStreamBuf* file_ = nullptr;
};

// The first call switches the process into daemon mode; later calls do
// nothing.
void Init(const Params& params);

}  // namespace Daemon
