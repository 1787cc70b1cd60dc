#include "app/TraceCtl.h"

#include "config/IniFile.h"
#include "config/Reader.h"

#include <iostream>

TraceCtl traces;

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::SubSection& occurrence : section) Configure(occurrence);
}

void TraceCtl::Configure(IniFile::SubSection& occurrence) {
  IniFile::Reader reader("traces: ", std::cerr);
  signalling.hdlc = false;
  signalling.lemzgw = false;
  monitoring.internal = false;
  reader.optional.add(&signalling.hdlc, "signalling.hdlc");
  reader.optional.add(&signalling.lemzgw, "signalling.lemzgw");
  reader.optional.add(&signalling.events, "signalling.events");
  reader.optional.add(&monitoring.internal, "monitoring.internal");
  reader(occurrence);
  std::cerr.flush();
}
