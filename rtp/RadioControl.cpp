#include "rtp/RadioControl.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>

#include <cstdio>
#include <iostream>

#include "hardware/Device.h"
#include "hardware/Utils.h"
#include "runtime/Clock.h"

namespace RTPSignalling {

char const* GetRtpExtDevName() { return ::GetRtpExtDevName(); }

uint32_t AddrFromText(std::string const& text) { return inet_addr(text.c_str()); }

std::string AddrText(uint32_t networkOrder) {
  in_addr a;
  a.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

RadioControl::RadioControl(int id_, rtp_ext_attach_session_params const& attach,
                           rtp_ext_init_params const& init)
    : type(OwnSession), extAttach(attach), extInit(init), id(static_cast<uint32_t>(id_)) {
  Init(OwnSession);
}

RadioControl::RadioControl(rtp_ext_init_params const& init) : type(CreateOnly), extInit(init) {
  Init(CreateOnly);
}

RadioControl::RadioControl(int id_, Fd rtp, rtp_attach_session_params const& attach)
    : type(Attach), rtpSessionFd(std::move(rtp)), rtpAttach(attach), id(static_cast<uint32_t>(id_)) {
  Init(Attach);
}

void RadioControl::Init(RadioControlType t) {
  type = t;
  statusTime = Mux::milliseconds();
  statusInterval = kStatusInterval;
  filterActive = false;
  timerEnabled = false;
  debug = false;
  notify = nullptr;
  // Bound once and for good, so that a session started again later (after a
  // codec change) never schedules an event without a handler.
  extEvent.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnExtReadable, this);
  RtpExtStart(true);
}

void RadioControl::LogError(const char* text) { std::cerr << GetPrefix() << ' ' << text << std::endl; }

Fd RadioControl::OpenSession(bool attach) {
  // Non-blocking: the read loop drains the channel until it is empty and
  // must never wait inside the event loop.
  Fd fd(Device::open(GetRtpExtDevName(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
  if (!fd) {
    LogError("create rtp_ext session fail !!!");
    return Fd();
  }
  rtp_ext_init_params init = extInit;
  if (Device::requestRecord(fd.lowlevel_fd(), RTP_EXT_CREATE, &init, sizeof init) < 0) {
    LogError("init rtp_ext session fail !!!");
    return Fd();
  }
  if (attach) {
    rtp_ext_attach_session_params a = extAttach;
    if (Device::requestRecord(fd.lowlevel_fd(), RTP_EXT_ATTACH, &a, sizeof a) < 0) {
      LogError("attach rtp_ext session fail !!!");
      return Fd();
    }
  }
  return fd;
}

bool RadioControl::RtpExtStart(bool create) {
  switch (type) {
    case OwnSession:
    case CreateOnly: {
      if (type == CreateOnly && !create) return true;
      Fd fd = OpenSession(type == OwnSession);
      if (!fd) return false;
      extFd = std::move(fd);
      extEvent.Schedule(extFd, POLLIN);
      // A new session starts without a filter: it gets the one this control
      // holds, or every sender would pass until access changes again.
      if (filterActive) SetFilter();
      return true;
    }
    case Attach: {
      rtp_attach_session_params a = rtpAttach;
      if (Device::requestRecord(rtpSessionFd.lowlevel_fd(), RTP_ATTACH_SESSION, &a, sizeof a) < 0) {
        LogError("attach rtp session fail !!!");
        return false;
      }
      return true;
    }
  }
  return true;
}

void RadioControl::SetAttachDescriptor(int fd) {
  if (type == Attach)
    rtpSessionFd = Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  else
    extAttach.fd_rtp = fd;
}

bool RadioControl::RtpExtStop() {
  // The attach form lets go of its duplicate of the RTP session: while it
  // held one, closing the slot's descriptor would not end that session, and
  // a codec change could not begin a new one on the same channel.
  if (type == Attach) rtpSessionFd.close();
  if (type != OwnSession) return true;
  // The driver takes a pointer to the attach record as the argument value.
  if (Device::requestValue(extFd.lowlevel_fd(), RTP_EXT_DETACH, reinterpret_cast<long>(&extAttach)) < 0)
    LogError("detach rtp_ext session fail !!!");
  extFd.close();
  extEvent.Release();
  return true;
}

int RadioControl::UpdateAccess(bool ptt, in_addr const& address) {
  if (ptt) {
    if (filterActive && filter.addr == address.s_addr) return 0;
    filter = {address.s_addr, 0};
    filterActive = true;
    SetFilter();
  } else if (filterActive) {
    filter = {0, 0};
    filterActive = false;
    if (Device::requestValue(extFd.lowlevel_fd(), RTP_EXT_CLEAR_FILTER, reinterpret_cast<long>(&filter)) < 0)
      LogError("reset filer rtp_ext session fail !!!");
  }
  return 0;
}

void RadioControl::SetFilter() {
  rtp_ext_filter_params f = filter;
  if (Device::requestRecord(extFd.lowlevel_fd(), RTP_EXT_SET_FILTER, &f, sizeof f) < 0)
    LogError("set filer rtp_ext session fail !!!");
}

void RadioControl::SetTimerEnable(bool on) {
  timerEnabled = on;
  if (on)
    SetTimer(statusInterval);
  else
    statusTimer.reset();
}

void RadioControl::SetTimer(unsigned long ms) {
  statusTimer.set(static_cast<unsigned>(ms), &RadioControl::OnProcessStatus, this);
}

void RadioControl::OnProcessStatus(Timer*) {
  unsigned long interval = statusInterval;
  statusTime = Mux::milliseconds();
  unsigned long next = ProcessRadioStatus(statusTime, interval);
  SetTimer(next);
}

unsigned long RadioControl::ProcessRadioStatus(unsigned long, unsigned long interval) { return interval; }

void RadioControl::OnRtpExtEvent(int, short events) {
  if ((events & POLLIN) && debug) std::clog << GetPrefix() << " receive extension packet(s)!" << std::endl;
}

std::string const& RadioControl::GetPrefix() {
  Mux::timeval tv;
  Mux::gettimeval(tv);
  std::string when = Mux::timevaltostring(tv);
  char text[254];
  if (type == CreateOnly)
    std::snprintf(text, sizeof text, "rtp_ext %s:", when.c_str());
  else
    std::snprintf(text, sizeof text, "rtp_ext[%lu] %s:", static_cast<unsigned long>(id), when.c_str());
  prefix = text;
  return prefix;
}

}  // namespace RTPSignalling
