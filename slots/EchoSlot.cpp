#include "slots/EchoSlot.h"

#include <iostream>

#include "protocol/LGCP/LGCP.h"

void EchoSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

EchoFactory& EchoFactory::instance() {
  static EchoFactory self;
  return self;
}

EchoFactory::EchoFactory() { Scan(); }

void EchoFactory::Scan() {
  for (bool& p : present_) p = false;
  std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.echo_isSelected()) return nullptr;
  const LGCP::EchoParams& p = params.get_echo();
  // The bus comes unchecked from the controller: a negative one names no
  // flag.
  const int bus = p.get_bus().getValue();
  if (bus < 0 || bus >= kBuses || !present_[bus]) return nullptr;
  return new EchoSlot(32u * unsigned(bus) + unsigned(p.get_channel().getValue()));
}

void EchoFactory::Query(LGCP::Resources& resources) {
  for (int b = 0; b < kBuses; ++b)
    if (present_[b]) {
      ASN1::INTEGER n;
      n.setValue(b);
      resources.ref_echoBus().push_back(n);
    }
}
