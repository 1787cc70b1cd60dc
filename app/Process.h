#pragma once
// Process control of the daemon: the command line, the signal handlers and
// the flags they raise, and the deferred call that acts on those flags
// inside the event loop (a handler itself never does more than raise a
// flag or ask the loop to stop).
#include <getopt.h>

#include <csignal>
#include <string>

namespace IniFile {
class File;
}

// Fixed names.
extern const char* const configFile;  // "/usr/local/etc/server.conf"
extern const char* const cfgTraces;   // "traces"
extern const char* const sUsageText;
extern const struct option long_options[];

// Set to 1 by the option parser on "--version".
extern int print_version;
// Raised by SIGUSR2 and SIGHUP; cleared when acted on.
extern volatile std::sig_atomic_t doDumpStatus;
extern volatile std::sig_atomic_t updateResources;

void SigPipeHandler(int, siginfo_t*, void*);
void SigTermHandler(int, siginfo_t*, void*);
void SigUsr2Handler(int, siginfo_t*, void*);
void SigHupHandler(int, siginfo_t*, void*);

// SIGPIPE, SIGTERM, SIGINT, SIGUSR2, SIGHUP, in this order. SIGTERM and
// SIGINT go without SA_RESTART, so a blocking call they hit returns with
// EINTR. Each handler also wakes the loop, so a signal that lands just
// before the loop starts its wait is acted on at once, not at the next
// unrelated event.
void InstallSignalHandlers();

// Bound to the deferred call that runs on every pass of the loop.
void CheckSignals();
// SIGUSR2: the status file "/var/log/server-status".
void CheckDumpStatus();
// SIGHUP: "update hardware resources" on the log stream, then the report.
void CheckUpdateResources();

// Reads the configuration file into the model; false, with an empty model,
// when the file is missing or cannot be read (a directory, a read error).
bool OpenConfiguration(IniFile::File& config, const std::string& path);

// Detaches into daemon mode with the syslog identity "qvd-<tag>".
void RunDaemon();

// Raises the soft limit of open descriptors to the hard one: every slot
// holds a few, and the usual soft limit would run out long before the
// slot numbers do. Logs the limit the daemon runs with.
void RaiseDescriptorLimit();
