#pragma once
// What the tone and voice-processing receivers hand to their slots: small
// values and the driver's own 12-byte payloads. Kept apart from the
// receivers so that the slots' base can name them without the services.
#include <cstdint>

namespace Hardware {

// A tone detector event (TonecReceiver::Params): both words copied from
// the driver's record.
struct TonecParams {
  uint32_t code;
  uint32_t timestamp;
};

// Voice activity per direction; -1: the event did not report it.
struct DSProcVADEvent {
  int32_t rx;
  int32_t tx;
};

struct DSProcSDEvent {
  int32_t rx;
};

}  // namespace Hardware

// The voice-processing driver's payloads of an event record (its 12 last
// bytes).
struct dsproc_bss_event {
  float score;
  uint32_t reserved[2];
};
struct dsproc_tone_event {
  uint32_t freq;
  uint32_t present;  // non-zero: the tone is there
  uint32_t reserved;
};
struct dsproc_flags_event {
  uint32_t flags;
  uint32_t mask;  // which flags are valid
  uint32_t reserved;
};

static_assert(sizeof(dsproc_bss_event) == 12, "dsproc_bss_event");
static_assert(sizeof(dsproc_tone_event) == 12, "dsproc_tone_event");
static_assert(sizeof(dsproc_flags_event) == 12, "dsproc_flags_event");
