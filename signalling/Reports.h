#pragma once
// The link reports that several signalling slots send alike.
#include "hardware/HDLC.h"
#include "protocol/LGCP/LGCPFwd.h"

namespace ISDN {
class LAPD;
}

namespace signalling {

// r := hdlcLinkInfo with the channel's five counters.
void hdlcLinkInfo(LGCP::IoctlResponse& r, const HDLC::Statistics& s);
// r := isdnLinkInfo of the link, seen from the given side; false when
// nothing changed since the link's previous report.
bool isdnLinkInfo(LGCP::IoctlResponse& r, const ISDN::LAPD& link, bool networkSide);

}  // namespace signalling
