#pragma once
// One HDLC channel of the board's multi-channel HDLC controller
// ("/dev/mcc/ctl"). Activating it allocates a controller channel, learns the
// switch channel the controller uses for it and wires that channel to a
// trunk time-slot through the TDM switch: the channel hears the time-slot
// and, unless its user holds that back, the time-slot hears the channel.
// From then on one read of the device is one received frame and one write
// sends one frame.
// Closing the channel (deactivation, a read error, reactivation, the
// destructor) undoes those two paths, each unless the switch has since been
// told otherwise for it: the freed controller channel is handed out again,
// and a path left on it would carry the next user's data to the line.
//
// Frames go out through GenericHDLC; received frames, the failure of the
// channel and the news that the transmitter takes frames again reach the
// bound HDLC::Notify. Everything runs on the loop's thread.
#include <cstdint>
#include <ostream>

#include "runtime/Event.h"
#include "runtime/Packet.h"

// Anything that sends HDLC frames.
class GenericHDLC {
 public:
  virtual ~GenericHDLC();
  // Sends one frame: true when sent (or empty), false when not.
  virtual bool hdlc_transmit(Packet& frame) = 0;
  virtual bool is_open() const = 0;
  // The transmitter takes frames.
  virtual bool is_ready() const = 0;
};

class HDLC : public GenericHDLC {
 public:
  // Request words of "/dev/mcc/ctl".
  static constexpr uint32_t kAllocate = 0x40144D00;  // MCC_ALLOCATE, 20-byte record
  static constexpr uint32_t kTimeslot = 0x20004D02;  // MCC_TIMESLOT, no argument
  // What every channel asks of the controller.
  static constexpr uint32_t kRxPacketSize = 512;
  static constexpr uint32_t kRxThreshold = 1;
  static constexpr uint32_t kTxThreshold = 4;

  class Notify {
   public:
    struct Cause {
      enum Type { readError = 0 };
    };
    virtual ~Notify();
    virtual void on_hdlc_receive(Packet& frame) = 0;
    // The channel failed and has been deactivated.
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    // The transmitter, which refused a frame, takes frames again.
    virtual void on_hdlc_ready() = 0;
  };

  struct Params {
    uint32_t trunk;     // informational
    uint32_t timeslot;  // informational; shown in the log header
    uint32_t tdm;       // receives from (and in modes 0 and 1 transmits to); all ones: unset
    uint32_t tdmTx;     // transmits to in mode 2; all ones: unset
    uint32_t mode;      // 0 SS7 link, 1 primary-rate D-channel or raw HDLC, 2 basic-rate D-channel
  };
  enum Mode : uint32_t { ss7 = 0, pri = 1, bri = 2 };

  struct Statistics {
    uint32_t txSU;        // frames written
    uint32_t txDiscard;   // refused: channel not open
    uint32_t txError;     // lost to a write error
    uint32_t txOverflow;  // kept for the users; never advanced here
    uint32_t rxSU;        // frames received
  };

  HDLC();
  ~HDLC() override;
  HDLC(const HDLC&) = delete;
  HDLC& operator=(const HDLC&) = delete;

  void bind(Notify* n);
  // Binds the shared receiver that ignores everything.
  void unbind();
  void params(Params const& p) { m_params = p; }
  Params const& params() const { return m_params; }
  Statistics const& statistics() const { return m_stat; }
  void logLevel(unsigned n) { m_logLevel = n; }
  unsigned logLevel() const { return m_logLevel; }
  void trunk(unsigned n) { m_trunk = n; }

  // (Re)opens the channel with the stored parameters; true on success.
  // With feed false the channel hears its time-slot but the time-slot
  // does not hear it: no connection gives the channel that path yet, and
  // the time-slot may carry another's. rewire() gives it later.
  bool activate(bool feed = true);
  void deactivate();
  // Makes the time-slot hear the open channel (again, after a
  // disconnection idled it, or at last, after an activation that did not
  // feed it); true when the path stands. A closed channel has none to
  // give.
  bool rewire();

  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return m_event.IsActive(); }
  bool is_ready() const override { return m_ready; }

  // "hdlc [trunk/timeslot]: "
  void PutHeader(std::ostream& out) const;

  // Where the "signalling.hdlc" trace switch lives; null: traces off.
  static void traceSwitch(const bool* on) { s_trace = on; }

 private:
  static bool tracing() { return s_trace && *s_trace; }
  // The controller channel type for the mode; false for an unknown mode.
  static bool channelType(uint32_t mode, uint32_t& type);
  void on_event(int fd, short revents);
  // Undoes the switch paths of the last activation that still stand.
  void unwire();
  // Reads one frame and hands it (or the channel's failure) to the
  // receiver, which may deactivate or destroy the channel meanwhile.
  void do_read();

  bool m_ready = false;
  Params m_params;
  Statistics m_stat = {};
  Event m_event;
  unsigned m_logLevel = 0;
  unsigned m_trunk = 0;
  Notify* m_notify;
  // Tells a running callback that a receiver destroyed the channel.
  bool* m_alive = nullptr;
  // Counts activations and deactivations, so that a callback knows whether
  // the receiver replaced the channel under it.
  unsigned m_generation = 0;
  // The paths of the last activation: the controller's switch channel (-1:
  // none), the channel that listens to it and the one it listens to.
  int m_wired = -1;
  int m_wiredTx = -1;
  int m_wiredRx = -1;

  static const bool* s_trace;
};
