#include "board/Dsp.h"
#include "board/DspData.h"
#include "board/Dtmf.h"
#include "board/E1Cas.h"
#include "board/Hal.h"
#include "board/Maintenance.h"
#include "board/Mcc.h"
#include "board/Mixer.h"
#include "board/Rtp.h"
#include "board/Mctl.h"
#include "board/Netif.h"
#include "board/RtpExt.h"
#include "board/StandIn.h"
#include "board/Voice.h"

namespace Board {

// Every device the stand-in board has. A device not listed here fails to
// open with ENOENT, as on a machine without its driver.
void registerModels(StandIn& board) {
  board.add(std::make_unique<Hal>(board));
  board.add(std::make_unique<Mcc>(board));
  board.add(std::make_unique<Maintenance>(board));
  board.add(std::make_unique<E1Cas>(board));
  board.add(std::make_unique<RtpExt>(board));
  board.add(std::make_unique<Dtmf>(board));
  board.add(std::make_unique<Dsp>(board));
  board.add(std::make_unique<DspData>(board));
  board.add(std::make_unique<Rtp>(board));
  board.add(std::make_unique<Mixer>(board));
  board.add(std::make_unique<Voice>(board));
  board.add(std::make_unique<Mctl>(board));
  board.add(std::make_unique<Netif>(board));
}

}  // namespace Board
