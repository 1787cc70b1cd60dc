#include "signalling/Reports.h"

#include "protocol/ACP/ACP.h"
#include "protocol/LGCP/LGCP.h"
#include "signalling/LAPD.h"

namespace signalling {

void hdlcLinkInfo(LGCP::IoctlResponse& r, const HDLC::Statistics& s) {
  LGCP::HdlcLinkInfo& i = r.select_hdlcLinkInfo();
  i.set_txSU(int(s.txSU));
  i.set_txDiscard(int(s.txDiscard));
  i.set_txError(int(s.txError));
  i.set_txOverflow(int(s.txOverflow));
  i.set_rxSU(int(s.rxSU));
}

bool isdnLinkInfo(LGCP::IoctlResponse& r, const ISDN::LAPD& link, bool networkSide) {
  ACP::IsdnLinkInfo& i = r.select_isdnLinkInfo();
  if (!link.GetInfo(i)) return false;
  i.set_side(networkSide ? ACP::IsdnSide::network : ACP::IsdnSide::user);
  return true;
}

}  // namespace signalling
