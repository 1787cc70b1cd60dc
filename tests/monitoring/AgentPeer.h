#pragma once
// A stand-in SNMP agent: a TCP server on loopback that takes one link at a
// time and speaks the monitoring protocol (MON::Message, aligned PER, in
// TPKT frames). It records what the daemon sends, and can answer, send
// garbage, stop reading or drop the link. Everything is non-blocking, so
// that a test can drive it between passes of its own loop or while a
// daemon process runs.
#include "asn1/CoderEnv.h"
#include "protocol/MON/MON.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace mon_test {

// One set command as "uniq section.name[index]=value".
inline std::string setText(const MON::SnmpSetCommand& c) {
  std::ostringstream o;
  o << c.get_uniq().getValue() << ' ';
  if (c.get_id().name_isSelected()) {
    const MON::IniName& n = c.get_id().get_name();
    o << static_cast<const std::string&>(n.get_section()) << '.' << static_cast<const std::string&>(n.get_name())
      << '[' << n.get_index().getValue() << ']';
  } else {
    o << "oid " << static_cast<const std::string&>(c.get_id().get_oid());
  }
  o << '=' << static_cast<const std::string&>(c.get_value());
  return o.str();
}

inline std::vector<char> encodeMon(const MON::Message& m) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  ASN1::encode(m, &env, std::back_inserter(out));
  return out;
}

inline std::vector<char> tpkt(const std::vector<char>& body) {
  std::vector<char> f{3, 0, char((body.size() + 4) >> 8), char((body.size() + 4) & 0xFF)};
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

class AgentPeer {
public:
  explicit AgentPeer(int rcvbuf = 0) : rcvbuf_(rcvbuf) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (rcvbuf_) ::setsockopt(listen_, SOL_SOCKET, SO_RCVBUF, &rcvbuf_, sizeof rcvbuf_);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~AgentPeer() {
    drop();
    ::close(listen_);
  }
  AgentPeer(const AgentPeer&) = delete;
  AgentPeer& operator=(const AgentPeer&) = delete;

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  bool connected() const { return link_ >= 0; }
  int accepted() const { return accepted_; }

  // Stops reading: the daemon's bytes pile up in the socket buffers.
  void setReading(bool on) { reading_ = on; }

  // Takes a waiting link and reads what has arrived; call it often.
  void poll() {
    if (link_ < 0) {
      const int s = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (s < 0) return;
      link_ = s;
      ++accepted_;
      buffer_.clear();
    }
    if (!reading_) return;
    char b[65536];
    for (;;) {
      const ssize_t n = ::recv(link_, b, sizeof b, 0);
      if (n > 0) {
        buffer_.insert(buffer_.end(), b, b + n);
        continue;
      }
      if (n == 0) {
        ++closedByDaemon_;
        drop();
      }
      break;
    }
    parse();
  }

  void drop() {
    if (link_ >= 0) ::close(link_);
    link_ = -1;
  }

  bool sendRaw(const std::vector<char>& bytes) {
    return link_ >= 0 && ::send(link_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  bool send(const MON::Message& m) { return sendRaw(tpkt(encodeMon(m))); }

  const std::vector<MON::Message>& messages() const { return messages_; }
  int undecodable() const { return undecodable_; }
  int closedByDaemon() const { return closedByDaemon_; }
  void clear() { messages_.clear(); }

  // The snmp-set messages, each as its list of commands.
  std::vector<std::vector<std::string>> sets() const {
    std::vector<std::vector<std::string>> r;
    for (const MON::Message& m : messages_) {
      if (!m.get_pdu().command_isSelected() || !m.get_pdu().get_command().snmp_set_isSelected()) continue;
      std::vector<std::string> one;
      for (const MON::SnmpSetCommand& c : m.get_pdu().get_command().get_snmp_set().get_commands())
        one.push_back(setText(c));
      r.push_back(one);
    }
    return r;
  }
  // Every set command received, in order.
  std::vector<std::string> items() const {
    std::vector<std::string> r;
    for (const auto& s : sets()) r.insert(r.end(), s.begin(), s.end());
    return r;
  }
  // Set commands naming this column, without their unique numbers.
  std::vector<std::string> column(const std::string& name) const {
    std::vector<std::string> r;
    for (const std::string& i : items()) {
      const size_t sp = i.find(' ');
      if (i.find("." + name + "[", sp) != std::string::npos) r.push_back(i.substr(sp + 1));
    }
    return r;
  }
  int pings() const {
    int n = 0;
    for (const MON::Message& m : messages_)
      n += m.get_pdu().command_isSelected() && m.get_pdu().get_command().ping_isSelected();
    return n;
  }
  std::vector<std::vector<std::string>> trapsinks() const {
    std::vector<std::vector<std::string>> r;
    for (const MON::Message& m : messages_) {
      if (!m.get_pdu().command_isSelected() || !m.get_pdu().get_command().snmp_trapsink_set_isSelected()) continue;
      std::vector<std::string> one;
      for (const MON::SnmpTrapsink& t : m.get_pdu().get_command().get_snmp_trapsink_set().get_trapsinks())
        one.push_back(static_cast<const std::string&>(t.get_host()) + (t.port_isPresent() ? ":port" : ""));
      r.push_back(one);
    }
    return r;
  }

private:
  void parse() {
    while (buffer_.size() >= 4) {
      const size_t len = (size_t(uint8_t(buffer_[2])) << 8) | uint8_t(buffer_[3]);
      if (len < 4 || buffer_[0] != 3) {
        ++undecodable_;
        buffer_.clear();
        return;
      }
      if (buffer_.size() < len) return;
      ASN1::CoderEnv env;
      env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
      MON::Message m;
      if (ASN1::decode(buffer_.data() + 4, buffer_.data() + len, &env, m, true)) messages_.push_back(m);
      else ++undecodable_;
      buffer_.erase(buffer_.begin(), buffer_.begin() + long(len));
    }
  }

  int rcvbuf_;
  int listen_ = -1;
  int link_ = -1;
  int port_ = 0;
  int accepted_ = 0;
  int closedByDaemon_ = 0;
  int undecodable_ = 0;
  bool reading_ = true;
  std::vector<char> buffer_;
  std::vector<MON::Message> messages_;
};

}  // namespace mon_test
