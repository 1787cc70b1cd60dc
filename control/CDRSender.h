#pragma once
// Sends one text record (a call detail record) as a UDP datagram to every
// destination of a list, at once and without acknowledgement.
#include "runtime/Fd.h"

#include <string>

namespace CDR_Sender {

class Sender {
public:
  Sender();
  virtual ~Sender();
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // destinations: white-space separated "a.b.c.d[:port]" words (no port:
  // port 0). One datagram of exactly the record's bytes per destination,
  // in list order; a word that is no address is skipped. False only when
  // there is no socket.
  bool SendTo(std::string& record, std::string const& destinations);

  bool valid() const { return socket_.is_valid(); }

private:
  Fd socket_;
};

}  // namespace CDR_Sender
