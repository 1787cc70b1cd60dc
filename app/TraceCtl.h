#pragma once
// The trace switches, read from the "traces" section of the configuration
// file; the signalling and monitoring code test them before writing their
// detailed traces.
namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

class TraceCtl {
public:
  struct Signalling {
    Signalling() = default;
    bool hdlc = false;
    bool lemzgw = false;
    bool events = false;
  };
  struct Monitoring {
    Monitoring() = default;
    bool internal = false;
  };

  TraceCtl() = default;

  // Every occurrence of the section, in file order.
  void Configure(IniFile::Section& section);
  // One occurrence: "signalling.hdlc", "signalling.lemzgw",
  // "signalling.events" and "monitoring.internal", all optional bools.
  // hdlc, lemzgw and internal start again from off for each occurrence;
  // events keeps what an earlier occurrence set. Problems are reported on
  // the standard error stream with the prefix "traces: ".
  void Configure(IniFile::SubSection& occurrence);

  Signalling signalling;
  Monitoring monitoring;
};

extern TraceCtl traces;
