#include "slots/Slots.h"

#include <cerrno>
#include <chrono>
#include <iostream>

#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"
#include "runtime/Clock.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

Slots& Slots::instance() {
  static Slots self;
  return self;
}

Slots::~Slots() {
  // The process is ending: nothing is answered or switched any more.
  for (Slot* s : parked_) delete s;
  for (Slot* s : live_) delete s;
}

// ---------------------------------------------------------------- commands

bool Slots::OnCommand(const LGCP::Command& c) {
  if (!IsSlotPresent()) {
    if (!c.query_isSelected()) return false;
    onQuery();
    return true;
  }
  const unsigned n = static_cast<unsigned>(GetSlot());
  switch (c.currentSelection()) {
    case LGCP::Command::connect::id:
      onConnect(n, c.get_connect().getValue());
      return true;
    case LGCP::Command::disconnect::id:
      onDisconnect(n);
      return true;
    case LGCP::Command::create::id:
      onCreate(n, c.get_create());
      return true;
    case LGCP::Command::destroy::id:
      onDestroy(n);
      return true;
    case LGCP::Command::activate::id: {
      Slot* s = slot(n);
      answer(s, s && s->IActivate(c.get_activate()));
      return true;
    }
    case LGCP::Command::deactivate::id: {
      Slot* s = slot(n);
      answer(s, s && s->IDeactivate());
      return true;
    }
    case LGCP::Command::userData::id: {
      Slot* s = slot(n);
      answer(s, s && s->IUserData(c.get_userData()));
      return true;
    }
    case LGCP::Command::ioctl::id: {
      Slot* s = slot(n);
      answer(s, s && s->Ioctl(c.get_ioctl()));
      return true;
    }
    default:
      return false;
  }
}

void Slots::answer(Slot* s, bool done) {
  if (!s)
    Error(LGCP::ErrorCause::slotNotExists);
  else if (!done)
    Error(LGCP::ErrorCause::unsupported);
  else
    Success();
}

void Slots::onQuery() {
  Success();
  UpdateHardwareResources();
}

void Slots::onConnect(unsigned n, unsigned target) {
  if (!CheckSlot(target)) {
    Error(LGCP::ErrorCause::invalidSlot);
    return;
  }
  Slot* src = slot(n);
  Slot* dst = slot(target);
  if (!src || !dst) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  // A slot on its way out must not gain links: it is deleted when its
  // release completes, and a link made now would outlive it.
  if (src->is_releasing() || dst->is_releasing()) {
    Error(LGCP::ErrorCause::destroyInProgress);
    return;
  }
  if (!Connect(*src, *dst)) {
    Error(LGCP::ErrorCause::connectFail);
    return;
  }
  Success();
}

void Slots::onDisconnect(unsigned n) {
  Slot* s = slot(n);
  if (!s) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (!Disconnect(*s)) {
    Error(LGCP::ErrorCause::disconnectFail);
    return;
  }
  Success();
}

void Slots::onCreate(unsigned n, const LGCP::CreateParams& params) {
  if (Slot* old = slot(n)) {
    if (old->is_releasing()) {
      Error(LGCP::ErrorCause::destroyInProgress);
      return;
    }
    Destroy(old);
    if (slot(n)) {
      Error(LGCP::ErrorCause::slotIdBusy);
      return;
    }
  }
  Slot* s = nullptr;
  for (SlotFactory* f = firstFactory; f && !s; f = f->next()) s = f->NewSlot(params);
  if (!s) {
    Error(LGCP::ErrorCause::insufficientResources);
    return;
  }
  s->id_ = n;
  s->liveAt_ = live_.insert(live_.end(), s);
  s->registered_ = true;
  table_[n] = s;
  Success();
  s->IAfterCreate();
}

void Slots::onDestroy(unsigned n) {
  Slot* s = slot(n);
  if (!s) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (s->is_releasing()) {
    Error(LGCP::ErrorCause::destroyInProgress);
    return;
  }
  if (Destroy(s)) {
    Success();
    return;
  }
  s->delayedSeq_ = delayResponse();
  s->answerDelayed_ = true;
}

// ---------------------------------------------------------------- destruction

bool Slots::Destroy(Slot* slot) {
  // Its release is running already: starting it again would run the
  // kind's hook twice.
  if (slot->destroying_) return false;
  Disconnect(*slot);
  for (size_t k = slot->sinks_.size(); k > 0; --k) {
    if (slot->sinks_.empty()) {
      std::cerr << "mux internal error: expected slots not exists." << std::endl;
      break;
    }
    Disconnect(*slot->sinks_.front());
  }
  if (!slot->sinks_.empty()) std::cerr << "mux internal error: unexpected slots exists." << std::endl;
  slot->destroying_ = true;
  if (!slot->BeforeDestroy()) return false;
  on_release(slot);
  return true;
}

void Slots::on_release(Slot* slot) {
  if (slot->answerDelayed_) {
    slot->answerDelayed_ = false;
    delayedSuccess(slot->id_, slot->delayedSeq_);
  }
  erase(slot);
}

void Slots::erase(Slot* slot) {
  if (slot->registered_) {
    (slot->parked_ ? parked_ : live_).erase(slot->liveAt_);
    slot->registered_ = false;
  }
  if (slot->id_ < MaxSlots && table_[slot->id_] == slot) table_[slot->id_] = nullptr;
  // A link made while the release ran would point at a deleted slot.
  Disconnect(*slot);
  while (!slot->sinks_.empty()) Disconnect(*slot->sinks_.front());
  delete slot;
}

void Slots::park(Slot* slot) {
  parked_.splice(parked_.end(), live_, slot->liveAt_);
  slot->parked_ = true;
}

void Slots::OnDisconnect() {
  while (!live_.empty()) {
    Slot* s = live_.front();
    if (!s->is_releasing() && Destroy(s)) continue;
    // Still there: its release runs on until the pause is over.
    park(s);
  }
  departurePause();
  while (!parked_.empty()) {
    Slot* s = parked_.front();
    if (s->factory_) s->factory_->Remove(s);
    s->answerDelayed_ = false;
    erase(s);
  }
}

void Slots::departurePause() {
  // Through the loop's time source, so that a test clock spends the pause
  // instead of waiting it out.
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(kDeparturePauseMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    if (Mux::loop_poll(nullptr, 0, static_cast<int>(left)) >= 0 || errno != EINTR) break;
  }
}

// ---------------------------------------------------------------- resources

void Slots::UpdateHardwareResources() {
  LGCP::Signal sig;
  LGCP::Resources& r = sig.select_query();
  r.set_rtp_g729(0);
  r.set_rtp_g723(0);
  r.set_rtp_g711(0);
  r.set_rtp_g711mcc(0);
  r.set_modem(0);
  r.set_mux(true);
  r.omit_drvVersion();
  r.set_mcc_data(0);
  r.set_mcc_bri(0);
  r.set_mcc_trans(0);
  r.ref_echoBus().clear();
  r.set_t38_instances(0);
  r.set_digital_modems(0);
  r.set_lin16(0);
  r.ref_mixer().clear();
  for (SlotFactory* f = firstFactory; f; f = f->next()) f->Query(r);
  SendSignal(sig);
}

void Slots::OnSignal(const LGCP::Signal& sig) {
  if (!sig.trunkStatus_isSelected()) return;
  for (SlotFactory* f = firstFactory; f; f = f->next()) f->SelfSignal(sig);
}
