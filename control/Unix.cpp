#include "control/Unix.h"

#include "runtime/Root.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iostream>

namespace Control {

// ---------------------------------------------------------------- addresses and files

UnixAddr::UnixAddr(const std::string& path) {
  std::memset(&sun, 0, sizeof sun);
  sun.sun_family = AF_UNIX;
  const size_t n = std::min(path.size(), sizeof sun.sun_path - 1);
  std::memcpy(sun.sun_path, path.data(), n);
}

std::string UnixAddr::path() const { return std::string(sun.sun_path, strnlen(sun.sun_path, sizeof sun.sun_path)); }

std::string UnixSocketPath(const std::string& configured) {
  return configured.empty() ? std::string() : Root::path(configured);
}

void RemoveSocketFile(const std::string& path) {
  if (path.empty()) return;
  struct stat st;
  if (::lstat(UnixAddr(path).path().c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
    ::unlink(UnixAddr(path).path().c_str());
}

namespace {

// The path of the socket at the other end as accept() reports it; empty
// for an unnamed (or abstract) client socket.
std::string peerPath(const sockaddr_un& a, socklen_t len) {
  const socklen_t off = offsetof(sockaddr_un, sun_path);
  if (len <= off || a.sun_path[0] == 0) return std::string();
  const size_t room = std::min<size_t>(len - off, sizeof a.sun_path);
  return std::string(a.sun_path, strnlen(a.sun_path, room));
}

}  // namespace

// ---------------------------------------------------------------- ServiceUnix

void ServiceUnix::Connected(Fd s, const std::string& peer) {
  if (GetState() == State::Deactivating) return;
  set_peer(peer);
  set_state(State::Connected);
  ActivateStack(s);
  if (Notify* n = notify()) n->OnConnect();
}

// ---------------------------------------------------------------- AcceptorUnix

AcceptorUnix::AcceptorUnix() : listener_(*this, "AcceptorUnix::OnSocketEvent") {}

AcceptorUnix::AcceptorUnix(const std::string& path) : AcceptorUnix() { path_ = UnixSocketPath(path); }

AcceptorUnix::~AcceptorUnix() {
  listener_.Close();
  RemoveOwnFile();
}

bool AcceptorUnix::ImplActivate() {
  if (!listener_.Open(AF_UNIX, 0)) return false;
  listener_.Bind();
  return true;
}

int AcceptorUnix::BindAddress(int fd) {
  RemoveSocketFile(path_);
  UnixAddr a(path_);
  if (::bind(fd, a.get(), UnixAddr::size()) != 0) return -1;
  struct stat st;
  if (::lstat(a.path().c_str(), &st) == 0) {
    bound_ = true;
    boundDev_ = st.st_dev;
    boundIno_ = st.st_ino;
  }
  return 0;
}

void AcceptorUnix::Accepted(Fd s, const sockaddr_storage& from, socklen_t len) {
  const std::string peer = peerPath(reinterpret_cast<const sockaddr_un&>(from), len);
  if (GetState() == State::Connected) {
    if (verbose()) std::cerr << "refuse connection from " << peer << std::endl;
    ImplRefuseConnection();
    return;
  }
  if (GetState() != State::Connecting) {
    // The previous link's loss is still being reported: nobody could
    // take this one; the client comes back on its own.
    if (verbose()) std::cerr << "refuse connection from " << peer << std::endl;
    return;
  }
  if (!s.NonBlock()) {
    if (verbose()) std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    return;
  }
  if (verbose()) std::cout << "new connection from " << peer << std::endl;
  Connected(s, peer);
  if (IsConnected()) ImplConnected(s);
}

void AcceptorUnix::RemoveOwnFile() {
  if (!bound_) return;
  bound_ = false;
  // Another endpoint may have taken the path since: remove our file only.
  const std::string p = UnixAddr(path_).path();
  struct stat st;
  if (::lstat(p.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == boundDev_ && st.st_ino == boundIno_)
    ::unlink(p.c_str());
}

void AcceptorUnix::ImplDeactivate() {
  listener_.Close();
  RemoveOwnFile();
}

// ---------------------------------------------------------------- ConnectorUnix

ConnectorUnix::ConnectorUnix() {
  connectEvent_.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::ConnectorUnix(const std::string& path) : ConnectorUnix() { path_ = UnixSocketPath(path); }

ConnectorUnix::ConnectorUnix(const std::string& path, const std::string& localPath) : ConnectorUnix(path) {
  localPath_ = UnixSocketPath(localPath);
}

ConnectorUnix::~ConnectorUnix() {
  running_ = false;
  retry_.Cancel();
  connectEvent_.Release();
  socket_.close();
  RemoveSocketFile(localPath_);
}

bool ConnectorUnix::ImplActivate() {
  running_ = true;
  retry_.Start();
  TryConnect();
  return running_;
}

void ConnectorUnix::TryConnect() {
  retry_.Cancel();
  connectEvent_.Release();
  socket_ = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket_.is_valid()) {
    std::cerr << "can't create domain socket:" << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (!socket_.NonBlock()) {
    std::cerr << "can't set domain socket to non block mode: " << std::strerror(errno) << std::endl;
    socket_.close();
    Deactivate();
    return;
  }
  if (!localPath_.empty()) {
    RemoveSocketFile(localPath_);
    UnixAddr local(localPath_);
    if (::bind(socket_.lowlevel_fd(), local.get(), UnixAddr::size()) != 0)
      std::cerr << "can't bind to domain socket '" << localPath_ << "': \"" << std::strerror(errno) << std::endl;
  }
  UnixAddr a(path_);
  if (::connect(socket_.lowlevel_fd(), a.get(), UnixAddr::size()) != 0) {
    std::cerr << "can't connect to " << path_ << " : " << std::strerror(errno) << std::endl;
    socket_.close();
    retry_.Failed(ConnectDelays::kConnectFailedMs, this);
    return;
  }
  std::clog << "connected to " << path_ << std::endl;
  // A local connect completes at once: the link is handed over here and
  // from now on only the stream layer watches it, so that its loss is
  // reported once, through ImplOnDisconnect.
  Connected(socket_, path_);
  socket_.close();
}

void ConnectorUnix::OnSocketEvent(int, short events) {
  connectEvent_.Release();
  // Only an attempt still in flight is this watch's business; a link that
  // was handed over belongs to the stream layer.
  if (!socket_.is_valid() || IsConnected()) return;
  if (events & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << path_ << std::endl;
    socket_.close();
    retry_.Failed(ConnectDelays::kPollFailedMs, this);
  }
}

void ConnectorUnix::OnTimeout(Timer*) { TryConnect(); }

void ConnectorUnix::ImplDeactivate() {
  running_ = false;
  Release();
  socket_.close();
  retry_.Cancel();
  connectEvent_.Release();
  RemoveSocketFile(localPath_);
}

void ConnectorUnix::ImplOnDisconnect() {
  if (!running_) {
    set_state(State::Idle);
    return;
  }
  retry_.Lost(this);
}

}  // namespace Control
