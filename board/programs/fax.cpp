// A stand-in for the two fax programs ("-m N args..." sends, "-m N receive
// FILE" receives): it writes its command line to its log and ends as the
// script says.
//
// Script ("<root>/etc/standin/fax"):
//   pages N        end with exit code N, the pages sent (default 0)
//   signal SIG     end killed by signal SIG instead
//   wait           wait for a signal before ending
//   hup ignore     let SIGHUP pass unheeded
#include <signal.h>

#include "Script.h"

int main(int argc, char** argv) {
  standin::Log log("fax");
  auto sc = standin::script("fax");
  ::alarm(120);
  if (sc["hup"] == "ignore") ::signal(SIGHUP, SIG_IGN);
  // Only now: a test that saw this line may send SIGHUP.
  log.start(argc, argv);
  if (sc.count("wait")) ::pause();
  if (sc.count("signal")) {
    const int sig = std::atoi(sc["signal"].c_str());
    ::signal(sig, SIG_DFL);
    ::raise(sig);
  }
  return std::atoi(sc["pages"].c_str());
}
