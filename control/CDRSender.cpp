#include "control/CDRSender.h"

#include "runtime/Net.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <sstream>

namespace CDR_Sender {

Sender::Sender() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {}

Sender::~Sender() = default;

bool Sender::SendTo(std::string& record, std::string const& destinations) {
  if (!socket_.is_valid()) return false;
  std::istringstream words(destinations);
  std::string word;
  while (words >> word) {
    INet4::Addr a;
    // An address that does not parse would stay 0.0.0.0, which reaches
    // this very host: such a word names no destination.
    if (!a.Assign(word, nullptr)) continue;
    ::sendto(socket_.lowlevel_fd(), record.data(), record.size(), 0, a, a.size());
  }
  return true;
}

}  // namespace CDR_Sender
