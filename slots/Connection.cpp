#include "slots/Connection.h"

#include <iostream>

#include "hardware/HwMux.h"
#include "slots/Slot.h"

namespace {

// The old source has lost dst: its release hook runs when it has no sink left.
void releaseOutput(Slot& src) {
  if (src.GetSinks().empty()) src.IOnOutputRelease();
}

}  // namespace

bool Connect(Slot& src, Slot& dst) {
  if (dst.GetSource() == &src) return true;
  if (src.GetSinks().empty()) {
    if (!src.IOnOutputStream()) {
      std::cerr << "slot " << src << " don't have output stream to " << dst << std::endl;
      return false;
    }
    src.OnChangeOutputStream(true);
  }
  Slot* old = dst.GetSource();
  if (!old) {
    if (!dst.IOnInputStream()) {
      std::cerr << "slot " << dst << " don't have input stream from " << src << std::endl;
      return false;
    }
    dst.OnChangeInputStream(true);
  } else {
    llDisconnect(dst);
  }

  if (!llConnect(src, dst)) {
    if (old && !llConnect(*old, dst)) {
      // Neither the new path nor the old one: a link without a path
      // would tell the controller a call stands that carries nothing.
      dst.LogicalDisconnect();
      dst.IOnInputRelease();
      releaseOutput(*old);
    } else if (!old) {
      dst.IOnInputRelease();
    }
    releaseOutput(src);
    return false;
  }

  if (old) {
    dst.LogicalDisconnect();
    releaseOutput(*old);
  }
  dst.LogicalConnect(src);
  return true;
}

bool Disconnect(Slot& dst) {
  Slot* src = dst.GetSource();
  if (!src) return true;
  const bool broken = llDisconnect(dst);
  dst.LogicalDisconnect();
  dst.IOnInputRelease();
  releaseOutput(*src);
  return broken;
}

bool llConnect(Slot& src, Slot& dst) {
  if (src.GetConnectionPriority() > dst.GetConnectionPriority()) return src.IHwConnectTransmitter(dst);
  return dst.IHwConnectReceiver(src);
}

bool llDisconnect(Slot& dst) {
  Slot* src = dst.GetSource();
  if (!src) return false;
  if (dst.GetConnectionPriority() > src->GetConnectionPriority()) return dst.IHwDisconnectReceiver(*src);
  return src->IHwDisconnectTransmitter(dst);
}

bool MuxConnect(Slot& src, Slot& dst) {
  const int tx = src.GetTransmitChannel();
  const int rx = dst.GetReceiveChannel();
  if (!HwMux::instance()->Connect(tx, rx)) return false;
  std::clog << "mux: slot " << src << " [" << tx << "] -> " << dst << " [" << rx << "]" << std::endl;
  return true;
}

bool MuxDisconnect(Slot& dst) {
  const int rx = dst.GetReceiveChannel();
  if (!HwMux::instance()->Disconnect(rx)) return false;
  std::clog << "mux: disconnect slot " << dst << " [" << rx << "]" << std::endl;
  return true;
}
