#pragma once
// One channel of the board as the controller sees it: a trunk time-slot, a
// bus channel, a mixer port, a player, a modem, an RTP session, a
// signalling link. Every kind derives from Slot and overrides the hooks it
// needs; Slots (slots/Slots.h) owns every slot and drives it through them,
// and the free functions of slots/Connection.h join slots into the media
// graph.
//
// The graph: a slot has at most one source (the slot whose output feeds
// its input) and any number of sinks (the slots its output feeds). Both
// ends of an edge always agree: B has source A exactly when B is among the
// sinks of A.
//
// A slot reports its two streams to the controller only when their state
// changes, and everything else through the event senders below; each
// signal carries the slot's number.
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

#include "protocol/ACP/ACPFwd.h"
#include "protocol/LEMZGW/LEMZGWFwd.h"
#include "protocol/LGCP/LGCPFwd.h"
#include "protocol/TERM/TERMFwd.h"

class SlotFactory;
class Slots;
namespace Hardware {
struct TonecParams;
struct DSProcVADEvent;
struct DSProcSDEvent;
}  // namespace Hardware
struct dsproc_tone_event;
struct dsproc_flags_event;
struct dsproc_bss_event;
struct rtp_event;

class Slot {
 public:
  // The number of an unregistered slot.
  static constexpr unsigned kNoId = 0xFFFFFFFF;

  Slot();
  // Destroys the sink list only: Slots disconnects and unregisters a slot
  // before it deletes it.
  virtual ~Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  // ---- what the kinds override, in this order --------------------------
  virtual int GetTrunk();
  virtual int GetTrunkTimeSlot();
  virtual void OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state);
  // Once, right after the create was answered with success.
  virtual void IAfterCreate();
  // True: the slot may be deleted now. False: it releases asynchronously
  // and calls on_release() when done.
  virtual bool IBeforeDestroy();
  // The controller's commands; false answers "unsupported".
  virtual bool IActivate(const TERM::TermActivateParams& params);
  virtual bool IDeactivate();
  virtual bool IUserData(const std::vector<char>& data);
  virtual bool Ioctl(const LGCP::IoctlParams& params);
  // The slot of the higher priority makes and breaks the path between two
  // slots (signalling links whose path is not a plain switch connection).
  virtual int GetConnectionPriority();
  virtual bool IHwConnectTransmitter(Slot& dst);
  virtual bool IHwConnectReceiver(Slot& src);
  virtual bool IHwDisconnectTransmitter(Slot& dst);
  virtual bool IHwDisconnectReceiver(Slot& src);
  // Called when the slot gains its first sink or its source; false: the
  // slot has no such stream and cannot be a source or a sink.
  virtual bool IOnOutputStream();
  virtual bool IOnInputStream();
  // Called when the last sink or the source is gone.
  virtual void IOnOutputRelease();
  virtual void IOnInputRelease();
  // The switch channels of the two streams; -1 for none.
  virtual int IGetTransmitChannel();
  virtual int IGetReceiveChannel();
  // The kind's short name in log lines.
  virtual const char* GetName() const = 0;

  // ---- state -------------------------------------------------------------
  unsigned GetId() const { return id_; }
  SlotFactory* GetSlotFactory() const { return factory_; }
  bool is_releasing() const { return destroying_; }
  bool GetInputStream() const { return inputActive_; }
  bool GetOutputStream() const { return outputActive_; }
  Slot* GetSource() const { return source_; }
  // In ascending pointer order, without duplicates.
  const std::vector<Slot*>& GetSinks() const { return sinks_; }
  int GetTransmitChannel() { return IGetTransmitChannel(); }
  int GetReceiveChannel() { return IGetReceiveChannel(); }

  // The log name: "05:trunk", "1023:trunk", "i2000:trunk", "na:trunk".
  void Put(std::ostream& os) const;

  // ---- the graph -----------------------------------------------------------
  // Called on the sink.
  void LogicalConnect(Slot& src);
  void LogicalDisconnect();

  // ---- signals to the controller ------------------------------------------
  void SendSignal(const LGCP::Signal& sig);
  void OnChangeInputStream(bool on);
  void OnChangeOutputStream(bool on);

  void OnTonecEvent(const LGCP::TonecEvent& e);
  void OnNumber(const std::string& number);
  void OnModem(const TERM::ModemProceeding& p);
  void OnModem(const TERM::ModemInformation& i);
  void OnActivated();
  void OnDeactivated();
  void OnAbort(int cause);
  void OnUserData(const std::vector<char>& data);
  void OnIoctlResponse(const LGCP::IoctlResponse& r);
  void OnRtpRadioEvent(const TERM::RtpRadioRequest& r);
  void OnVADEvent(const LGCP::VADEvent& e);
  void OnProtoLemzEvent(const LEMZGW::ProtoLemzPackets& p);
  void OnSDEvent(const LGCP::SDEvent& e);
  void OnRtpEvent(const LGCP::RtpEvent& e);

  // ---- DSP and RTP engine events as signals (slots/SlotEvents.cpp) -------
  // A record that carries nothing to report is dropped with a line.
  void processTonecEvent(Hardware::TonecParams const& p);
  void processToneGenEvent();
  void processToneFltEvent(dsproc_tone_event const* e);
  void processVADEvent(Hardware::DSProcVADEvent const& e);
  void processFlagsEvent(dsproc_flags_event const* e);
  void processBSSEvent(dsproc_bss_event const* e);
  void processSDEvent(Hardware::DSProcSDEvent const& e);
  void processRtpEvent(rtp_event const& e);

  // ---- destruction ---------------------------------------------------------
  // IBeforeDestroy(), and on true the slot leaves its factory's list.
  bool BeforeDestroy();
  // The end of an asynchronous release: the slot is answered for and
  // deleted; it must not be touched after this returns. Does nothing on a
  // slot that is not being destroyed.
  void on_release();

 private:
  friend class Slots;
  friend class SlotFactory;

  unsigned id_ = kNoId;
  std::vector<Slot*> sinks_;
  Slot* source_ = nullptr;
  SlotFactory* factory_ = nullptr;
  bool inputActive_ = false;
  bool outputActive_ = false;
  bool destroying_ = false;

  // The destroy command whose answer waits for the release: whether there
  // is one, and its sequence number.
  bool answerDelayed_ = false;
  unsigned delayedSeq_ = 0;

  // A release that completes while IBeforeDestroy() still runs is taken
  // as a synchronous one: the slot cannot be deleted under its own hook.
  bool inBeforeDestroy_ = false;
  bool releasedEarly_ = false;

  // Where the slot sits in the lists of Slots and of its factory, so that
  // leaving them costs the same however many slots live.
  std::list<Slot*>::iterator liveAt_;
  bool registered_ = false;
  bool parked_ = false;
  std::list<Slot*>::iterator factoryAt_;
  bool inFactory_ = false;
};

std::ostream& operator<<(std::ostream& os, const Slot& s);
