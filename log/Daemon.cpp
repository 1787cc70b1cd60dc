#include "log/Daemon.h"

#include "log/LogFile.h"
#include "log/SysLog.h"
#include "runtime/Root.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace Daemon {

namespace {
// The identity stays put for the client's whole life.
char g_identity[80];
}  // namespace

Sentry::Sentry(const Params& params) {
  // Fix the root before the working directory moves: a relative root
  // must mean what it meant at start.
  Root::dir();
  if (::daemon(params.keepDirectory ? 1 : 0, 0) != 0) {
    std::cerr << "daemon() fail!" << std::endl;
    std::exit(2);
  }
  mode_ = params.mode;
  if (mode_ == 0) {
    std::strncpy(g_identity, params.name.c_str(), sizeof g_identity - 1);
    g_identity[sizeof g_identity - 1] = 0;
    syslogManager.openlog(g_identity, LOG_NDELAY, 0);
    // Installed for the rest of the process and never deleted: the
    // streams flush into them up to the very end.
    std::cout.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON >> 3, LOG_NOTICE));
    std::cerr.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON >> 3, LOG_ERR));
    std::clog.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON >> 3, LOG_DEBUG));
    std::cin.tie(&std::cout);
    if (syslogManager.fd() > 0) {
      ::dup2(syslogManager.fd(), 1);
      ::dup2(syslogManager.fd(), 2);
    }
  } else if (mode_ == 1) {
    file_ = new LogFileStreamBuf(params.name);
    std::cout.rdbuf(file_);
    std::cerr.rdbuf(file_);
    std::clog.rdbuf(file_);
  }
}

Sentry::~Sentry() {
  if (mode_ != 1) return;
  std::cout.rdbuf(nullptr);
  std::cerr.rdbuf(nullptr);
  std::clog.rdbuf(nullptr);
  delete file_;
  file_ = nullptr;
}

void Init(const Params& params) { static Sentry sentry(params); }

}  // namespace Daemon
