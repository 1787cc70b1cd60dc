// quorvad: the control daemon of the gateway board.
#include "app/Process.h"
#include "app/Run.h"
#include "app/Services.h"
#include "app/TraceCtl.h"
#include "app/Version.h"
#include "config/IniFile.h"
#include "runtime/ChildWait.h"
#include "runtime/Multiplexer.h"
#include "runtime/Root.h"

#include <getopt.h>

#include <cstdlib>
#include <iostream>

int main(int argc, char* argv[]) {
  opterr = 1;
  int port = 20001;
  bool daemonMode = false;

  // A missing or unreadable file is an empty configuration.
  IniFile::File config;
  if (OpenConfiguration(config, Root::path(configFile))) {
    traces = TraceCtl();
    traces.Configure(config[cfgTraces]);
  }

  InstallSignalHandlers();

  for (;;) {
    const int c = getopt_long(argc, argv, "Dh", long_options, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'h':
        std::cout << sUsageText << std::endl;
        std::exit(0);
      case '?':
        std::cout << sUsageText << std::endl;
        std::exit(2);
      case 'D':
        daemonMode = true;
        break;
      case 'p':
        port = std::atoi(optarg);
        break;
      case 10:
        Services::DisableClockControl();
        break;
      default:
        break;
    }
  }

  if (print_version) {
    std::cout << "server version: " << Version::current.tag() << std::endl;
    std::exit(2);
  }

  Services::CreateFactories();
  Services::CreateHardware();
  Services::CreateMonitoring(config);

  if (daemonMode) RunDaemon();
  RaiseDescriptorLimit();

  Linux::Run pidFile("server");
  std::cout << "Starting server " << "[" << Version::current.tag() << "]" << ", port=" << port << std::endl;

  Services::BindControl();
  ChildWait::Activate();

  Dpc checkSignals;
  checkSignals.Bind(&CheckSignals);
  checkSignals.Activate();
  Services::ActivateControl(port);

  multiplexer.run(true, true);

  Services::DeactivateControl();
  return 0;
}
