#include "board/ControlSocket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "board/StandIn.h"

namespace Board {

std::string Answer::all() {
  std::string out;
  while (more(out, size_t(-1))) {
  }
  return out;
}

bool ControlSocket::open(const std::string& path) {
  close();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    std::cerr << "standin: control socket path too long: " << path << std::endl;
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // The run directory may not exist yet in a fresh root.
  for (size_t pos = 1; (pos = path.find('/', pos)) != std::string::npos; ++pos)
    ::mkdir(path.substr(0, pos).c_str(), 0755);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    std::cerr << "standin: control socket " << path << ": " << std::strerror(errno) << std::endl;
    ::close(fd);
    return false;
  }
  listen_ = fd;
  path_ = path;
  return true;
}

void ControlSocket::close() {
  for (auto& c : clients_) ::close(c.first);
  clients_.clear();
  if (listen_ >= 0) {
    ::close(listen_);
    listen_ = -1;
    ::unlink(path_.c_str());
  }
  path_.clear();
}

int ControlSocket::prepare(std::vector<pollfd>& fds) {
  int wait = -1;
  if (listen_ >= 0) {
    if (paused_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(resume_ - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        paused_ = false;
      else
        wait = int(left.count()) + 1;
    }
    if (!paused_) fds.push_back({listen_, POLLIN, 0});
  }
  for (auto& e : clients_) {
    const Client& c = e.second;
    const bool room = c.out.size() < kPendingLimit && !c.answer;
    short ev = short((room && !c.eof ? POLLIN : 0) | (c.out.empty() ? 0 : POLLOUT));
    fds.push_back({e.first, ev, 0});
    if (c.waiting()) wait = 0;
  }
  return wait;
}

void ControlSocket::service(const std::vector<pollfd>& fds, size_t first) {
  for (size_t i = first; i < fds.size(); ++i) {
    if (fds[i].fd == listen_) {
      if (fds[i].revents) acceptAll();
      continue;
    }
    auto it = clients_.find(fds[i].fd);
    if (it == clients_.end() || (!fds[i].revents && !it->second.waiting())) continue;
    if (!serve(it->first, it->second)) {
      ::close(it->first);
      clients_.erase(it);
    }
  }
}

void ControlSocket::acceptAll() {
  for (;;) {
    SpareAccept::Outcome outcome;
    int c = accept_.accept(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK, outcome);
    const int err = errno;
    if (accept_.began())
      std::cerr << "standin: control socket: " << std::strerror(err) << "; new clients are dropped" << std::endl;
    if (accept_.ended())
      std::cerr << "standin: control socket: clients are taken again, " << accept_.dropped() << " dropped"
                << std::endl;
    switch (outcome) {
      case SpareAccept::Outcome::Accepted:
        clients_[c];
        continue;
      case SpareAccept::Outcome::Dropped:
        continue;
      case SpareAccept::Outcome::Exhausted:
        paused_ = true;
        resume_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(SpareAccept::kPauseMs);
        return;
      case SpareAccept::Outcome::Failed:
        if (err == ECONNABORTED || err == EPROTO) continue;
        return;
      case SpareAccept::Outcome::Empty:
        return;
    }
  }
}

bool ControlSocket::flush(int fd, Client& c) {
  size_t sent = 0;
  while (sent < c.out.size()) {
    ssize_t n = ::send(fd, c.out.data() + sent, c.out.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    return false;
  }
  c.out.erase(0, sent);
  return true;
}

bool ControlSocket::serve(int fd, Client& c) {
  if (!flush(fd, c)) return false;
  char buf[4096];
  int commands = 0;
  while (c.out.size() < kPendingLimit) {
    if (c.answer) {
      if (!c.answer->more(c.out, kPendingLimit - c.out.size())) {
        c.answer.reset();
        c.out += ".\n";
      }
      if (!flush(fd, c)) return false;
      continue;
    }
    const size_t nl = c.in.find('\n');
    if (nl != std::string::npos) {
      if (commands++ == kCommandsPerTurn) break;
      std::string line = c.in.substr(0, nl);
      c.in.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      c.answer = board_.answer(line);
      continue;
    }
    if (c.eof) break;
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      c.in.append(buf, size_t(n));
      // Only the line being read counts: the lines before it are answered
      // first.
      const size_t last = c.in.rfind('\n');
      if ((last == std::string::npos ? c.in.size() : c.in.size() - last - 1) > kLineLimit) return false;
      continue;
    }
    if (n == 0) {
      c.eof = true;
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) break;
    return false;
  }
  // A client that said all it had to say goes once it has everything.
  return !(c.eof && c.out.empty() && !c.answer && c.in.find('\n') == std::string::npos);
}

}  // namespace Board
