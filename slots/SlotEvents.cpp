// How a slot turns the tone DSP's, the voice-processing DSP's and the RTP
// engine's event records into signals for the controller.
#include <cstdio>
#include <iostream>

#include "hardware/DspEvents.h"
#include "hardware/RtpDriver.h"
#include "protocol/LGCP/LGCP.h"
#include "slots/Slot.h"

namespace {

// Bits of a flags record's states and validity mask.
constexpr uint32_t kFlagRxVoice = 1u << 29;
constexpr uint32_t kFlagTxVoice = 1u << 30;
constexpr uint32_t kFlagSelcal = 1u << 31;

// Tone detector codes beside the DTMF digits 0 to 127.
constexpr int32_t kCodeCed = 17;
constexpr int32_t kCodeCng = 18;
constexpr int32_t kIvaRingoff = 21;  // in the code's second byte

// The RTP engine's packet-detection event.
constexpr uint32_t kRtpPacketDetection = 1;

}  // namespace

void Slot::processTonecEvent(Hardware::TonecParams const& p) {
  const int32_t code = int32_t(p.code);
  LGCP::TonecCode event;
  if (code == kCodeCed) {
    event.select_ced();
  } else if (code == kCodeCng) {
    event.select_cng();
  } else if (code >= 0 && code <= 127) {
    event.select_dtmf(unsigned(code));
  } else {
    const int32_t iva = code >> 8;
    if (iva >= 1 && iva <= 20) {
      event.select_iva().select_code(unsigned(iva));
    } else if (iva == kIvaRingoff) {
      event.select_iva().select_ringoff();
    } else {
      std::cerr << "bad DTMF code, ignored." << std::endl;
      return;
    }
  }
  LGCP::TonecEvent e;
  e.set_timestamp(int(p.timestamp));
  e.set_event(event);
  OnTonecEvent(e);
}

void Slot::processToneGenEvent() {
  LGCP::TonecEvent e;
  e.set_timestamp(0);
  e.set_event().select_dtmfDone();
  OnTonecEvent(e);
}

void Slot::processToneFltEvent(dsproc_tone_event const* t) {
  LGCP::TonecEvent e;
  e.set_timestamp(0);
  auto& presence = e.set_event().select_tone_presence();
  presence.set_freq(int(t->freq));
  presence.set_presence(t->present != 0);
  OnTonecEvent(e);
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& v) {
  LGCP::VADEvent e;
  if (v.rx >= 0) e.set_vad_rx(v.rx != 0);
  if (v.tx >= 0) e.set_vad_tx(v.tx != 0);
  if (!e.vad_rx_isPresent() && !e.vad_tx_isPresent()) {
    std::cerr << "bad VAD event, ignored." << std::endl;
    return;
  }
  OnVADEvent(e);
}

void Slot::processFlagsEvent(dsproc_flags_event const* f) {
  const uint32_t states = f->flags, mask = f->mask;
  if (mask & (kFlagRxVoice | kFlagTxVoice)) {
    LGCP::VADEvent e;
    if (mask & kFlagRxVoice) e.set_vad_rx((states & kFlagRxVoice) != 0);
    if (mask & kFlagTxVoice) e.set_vad_tx((states & kFlagTxVoice) != 0);
    OnVADEvent(e);
  }
  if (mask & kFlagSelcal) {
    LGCP::SelcalEvent e;
    e.set_in_progress((states & kFlagSelcal) != 0);
    SendSignal(LGCP::Signal(LGCP::Signal::selcal::id, e));
  }
}

void Slot::processBSSEvent(dsproc_bss_event const* b) {
  char text[31];
  std::snprintf(text, sizeof text, "%4.6f", double(b->score));
  LGCP::BSSEvent e;
  e.set_score(text);
  SendSignal(LGCP::Signal(LGCP::Signal::bss::id, e));
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& s) {
  if (s.rx < 0) {
    std::cerr << "bad SD event, ignored." << std::endl;
    return;
  }
  LGCP::SDEvent e;
  e.set_sd_rx(s.rx != 0);
  OnSDEvent(e);
}

void Slot::processRtpEvent(rtp_event const& r) {
  if (r.type != kRtpPacketDetection) return;
  LGCP::RtpPDEvent pd;
  pd.set_value(int(r.value));
  pd.set_timeout(int(r.timeout));
  OnRtpEvent(LGCP::RtpEvent(LGCP::RtpEvent::pd::id, pd));
}
