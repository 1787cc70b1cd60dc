#include "runtime/Event.h"

Event::~Event() {
  delete handler_;
  handler_ = nullptr;
  if (fd_.is_valid()) mux_detach();
}

void Event::Bind(Handler* handler) {
  delete handler_;
  handler_ = handler;
}

void Event::UnBind() {
  delete handler_;
  handler_ = nullptr;
}

void Event::Schedule(Fd fd, short events) {
  if (fd_.is_valid()) mux_detach();
  fd_ = fd;
  events_ = events;
  if (fd_.is_valid()) mux_attach();
}

int Event::Release() {
  if (fd_.is_valid()) mux_detach();
  return fd_.close();
}

void Event::shedule_event(pollfd& entry) {
  entry.fd = fd_.lowlevel_fd();
  entry.events = events_;
}

void Event::svc_event(short revents) {
  if (revents & events_) ++counter_;
  if (handler_) handler_->Invoke(fd_.lowlevel_fd(), revents);
}
