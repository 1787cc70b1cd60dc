#include "board/Dsp.h"
#include "board/Dtmf.h"
#include "board/Hal.h"
#include "board/Mcc.h"
#include "board/Rtp.h"
#include "board/StandIn.h"
#include "board/Voice.h"

namespace Board {

// Every device the stand-in board has. A device not listed here fails to
// open with ENOENT, as on a machine without its driver.
void registerModels(StandIn& board) {
  board.add(std::make_unique<Hal>(board));
  board.add(std::make_unique<Mcc>(board));
  board.add(std::make_unique<Dtmf>(board));
  board.add(std::make_unique<Dsp>(board));
  board.add(std::make_unique<Rtp>(board));
  board.add(std::make_unique<Voice>(board));
}

}  // namespace Board
