#include "slots/ExtSlot.h"

#include <climits>

#include "hardware/HwMux.h"
#include "protocol/LGCP/LGCP.h"
#include "slots/Connection.h"

namespace {

// 8192 + n, or -1 (a channel the switch refuses) when that is no int or
// falls below the bus: a negative n would name a trunk time-slot or another
// slot's channel.
int channelAbove(int n) {
  const long long ch = static_cast<long long>(SharedChannelsBase) + n;
  return ch < SharedChannelsBase || ch > INT_MAX ? -1 : static_cast<int>(ch);
}

}  // namespace

void ExtSlot::IAfterCreate() { OnChangeOutputStream(true); }

bool ExtSlot::IActivate(const TERM::TermActivateParams&) {
  OnChangeInputStream(true);
  // Activated again while a source feeds it: clearing the channel would
  // silence a connection that still stands.
  if (!GetSource()) HwMux::instance()->Disconnect(rx_);
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);
  HwMux::instance()->Disable(rx_);
  return true;
}

bool ExtSlot::IBeforeDestroy() {
  HwMux::instance()->Disable(rx_);
  return true;
}

ExtFactory& ExtFactory::instance() {
  static ExtFactory self;
  return self;
}

Slot* ExtFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.ext_isSelected()) return nullptr;
  const LGCP::ExtParams& p = params.get_ext();
  return new ExtSlot(channelAbove(p.get_transmitter().getValue()), channelAbove(p.get_receiver().getValue()));
}
