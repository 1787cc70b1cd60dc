#include "log/MuxDump.h"

#include "log/Ext.h"
#include "log/Profile.h"
#include "runtime/Event.h"
#include "runtime/Multiplexer.h"

#include <ostream>

std::string PollEventAsText(short bits) {
  static const struct {
    unsigned bit;
    const char* text;
  } names[] = {
      {0x001, "|POLLIN"},     {0x002, "|POLLPRI"},    {0x004, "|POLLOUT"},    {0x008, "|POLLERR"},
      {0x010, "|POLLHUP"},    {0x020, "|POLLNVAL"},   {0x040, "|POLLRDNORM"}, {0x080, "|POLLRDBAND"},
      {0x100, "|POLLWRNORM"}, {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"},
  };
  const unsigned value = static_cast<unsigned short>(bits);
  std::string text;
  for (const auto& n : names)
    if (value & n.bit) text += n.text;
  if (!text.empty()) text.erase(0, 1);
  return text;
}

void DumpMultiplexer(std::ostream& os, const Multiplexer& mux) {
  os << "dpc transition measurement (min/max/cur/counter): " << mux.dpc_measure() << '\n';
  os << "event transition measurement (min/max/cur/counter): " << mux.event_measure() << '\n';
  os << "timer transition measurement (min/max/cur/counter): " << mux.timer_measure() << '\n';
  Profile::dump(os);

  ext::Table table(40, 30, 10, 10, 5, 60);
  os << table << ext::delimeter << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count"
     << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow
     << ext::delimeter;
  // Only the working list: handlers attached since the poll set was last
  // built are not polled yet.
  for (EventHandler* h : mux.working_list()) {
    if (!h->is_named()) continue;
    const Event* e = dynamic_cast<const Event*>(h);
    if (!e) continue;
    os << table << ext::beginrow << e->event_name() << ext::nextrow << PollEventAsText(e->events()) << ext::nextrow
       << e->counter() << ext::nextrow << (e->has_handler() ? "attached" : "unattached") << ext::nextrow
       << e->lowlevel_fd() << ext::nextrow << e->measure() << ext::nextrow;
  }
  os << table << ext::delimeter;
  os << '\n';
}
