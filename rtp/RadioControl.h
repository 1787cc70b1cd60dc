#pragma once
// The framework of radio signalling in RTP header extensions: the three
// interfaces that join a radio slot, a protocol engine and the event loop,
// and RadioControl, which owns one session of the header-extension channel
// "/dev/rtp_ext" with its descriptor, readiness event, driver records,
// source filter, status timer and log prefix. The protocol engines derive
// from it; the base itself speaks no protocol.
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "hardware/RtpDriver.h"
#include "protocol/TERM/TERM.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"

// Descriptor of the next received extension packet, 12 bytes.
struct rtp_ext_packet_info {
  uint32_t ssrc;  // the sender's SSRC
  uint32_t addr;  // the sender's IPv4 address, network byte order
  uint32_t reserved;
};

// The only sender whose packets the channel accepts, 8 bytes.
struct rtp_ext_filter_params {
  uint32_t addr;  // IPv4, network byte order
  uint32_t reserved;
};

static_assert(sizeof(rtp_ext_packet_info) == 12, "rtp_ext_packet_info");
static_assert(sizeof(rtp_ext_filter_params) == 8, "rtp_ext_filter_params");

namespace RTPSignalling {

// Requests of the header-extension channel, and the attach request of the
// RTP channel that joins another process's session.
enum : uint32_t {
  RTP_EXT_CREATE = 0xc0144500,
  RTP_EXT_ATTACH = 0xc0084501,
  RTP_EXT_DETACH = 0x20004502,
  RTP_EXT_PACKET_INFO = 0xc00c4503,
  RTP_EXT_SET_FILTER = 0xc0084504,
  RTP_EXT_CLEAR_FILTER = 0x20004505,
  RTP_ATTACH_SESSION = 0xc0085209,
};

// Header-extension profiles.
enum : uint16_t { ETYPE_LEMZ = 0x1337, ETYPE_ED137 = 0x0167 };

char const* GetRtpExtDevName();

// IPv4 addresses as the controller writes them (dotted text) and as the
// driver does (network order); text that is no address gives 255.255.255.255.
uint32_t AddrFromText(std::string const& text);
std::string AddrText(uint32_t networkOrder);

// The slot's view of its control.
class IRadioController {
 public:
  virtual ~IRadioController() = default;
  virtual bool SendASNToChan(TERM::RadioStatus const&) { return false; }
  virtual bool SendASNToChan(TERM::RadioModifier const&) { return false; }
  // The radio's squelch is open.
  virtual bool GetSQU() { return false; }
};

// The event loop's view of a control.
class IRadioIntController {
 public:
  virtual ~IRadioIntController() = default;
  virtual void OnRtpExtEvent(int, short) {}
  // The next status interval.
  virtual unsigned long ProcessRadioStatus(unsigned long, unsigned long interval) { return interval; }
};

// Where a control's reports go (the slot).
class IRadioControlNotify {
 public:
  virtual ~IRadioControlNotify() = default;
  virtual void RadioControlNotify(TERM::RtpRadioRequest const&) {}
  virtual void RadioControlNotify(int) {}
};

class RadioControl : public IRadioController, private IRadioIntController {
 public:
  enum RadioControlType {
    OwnSession = 0,  // create a session and attach it to an RTP session of this process
    Attach = 1,      // join another process's RTP session through "/dev/rtp"
    CreateOnly = 2,  // a session without attachment
  };
  enum RadioControlMode { Gateway = 0, Workstation = 1 };

  // The status cycle's default interval, in milliseconds.
  static constexpr unsigned kStatusInterval = 1000;
  // Bytes of one extension packet, either way.
  static constexpr int kPacketSize = 1024;

  RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit RadioControl(rtp_ext_init_params const& init);
  RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);
  ~RadioControl() override = default;
  RadioControl(const RadioControl&) = delete;
  RadioControl& operator=(const RadioControl&) = delete;

  bool RtpExtStart(bool create);
  bool RtpExtStop();
  // The RTP session descriptor named by the next attach: a session restarted
  // on a new descriptor must not be attached by the old, closed number. The
  // attach form keeps a duplicate of it, the session it attaches.
  void SetAttachDescriptor(int fd);
  int UpdateAccess(bool ptt, in_addr const& address);

  void SetTimerEnable(bool on);
  void SetTimerInterval(unsigned long ms) { statusInterval = static_cast<uint32_t>(ms); }
  void SetTimer(unsigned long ms);
  void OnProcessStatus(Timer*);

  void SetDebug(bool on) { debug = on; }
  void SetRadioControlMode(RadioControlMode m) { mode = m; }
  void Bind(IRadioControlNotify* n) { notify = n; }
  void UnBind() { notify = nullptr; }
  std::string const& GetPrefix();

  void OnRtpExtEvent(int fd, short events) override;
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;

  // For tests and the status dump.
  RadioControlType GetType() const { return type; }
  int GetExtFd() const { return extFd.lowlevel_fd(); }
  bool ExtEventActive() const { return extEvent.IsActive(); }
  bool TimerRunning() const { return statusTimer.is_running(); }
  bool FilterActive() const { return filterActive; }
  uint32_t GetStatusInterval() const { return statusInterval; }

 protected:
  RadioControlType type;
  Fd rtpSessionFd;
  Fd extFd;
  Event extEvent;
  Timer statusTimer;
  rtp_attach_session_params rtpAttach{};
  rtp_ext_attach_session_params extAttach{};
  rtp_ext_init_params extInit{};
  rtp_ext_packet_info packetInfo{};
  RadioControlMode mode = Gateway;
  uint32_t statusTime = 0;
  uint32_t statusInterval = kStatusInterval;
  uint32_t id = 0;
  bool debug = false;
  bool timerEnabled = false;
  bool filterActive = false;
  rtp_ext_filter_params filter{};
  IRadioControlNotify* notify = nullptr;
  std::string prefix;

 private:
  void Init(RadioControlType t);
  // Opens the channel and creates the session (and attaches it when asked);
  // the descriptor, or an invalid one after logging why.
  Fd OpenSession(bool attach);
  // Sets `filter` in the driver; a refusal is logged.
  void SetFilter();
  void OnExtReadable(int fd, short events) { OnRtpExtEvent(fd, events); }
  void LogError(const char* text);
};

}  // namespace RTPSignalling
