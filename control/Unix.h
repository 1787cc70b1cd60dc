#pragma once
// The connection endpoints over Unix-domain stream sockets: the same stack
// (stream layer and TPKT framing) and the same listener contract as the
// TCP kinds, with socket paths in place of addresses. A fixed socket path
// lives under the board root (Root::path), and the socket files an
// endpoint creates are removed when it stops or goes.
#include "control/Connector.h"
#include "control/Listener.h"
#include "control/Service.h"
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Timer.h"

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <string>

namespace Control {

// A Unix-domain socket address: the path cut to 107 characters and a
// terminating NUL, the rest of the field zero, always passed at full size.
struct UnixAddr {
  sockaddr_un sun;
  explicit UnixAddr(const std::string& path);
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&sun); }
  static socklen_t size() { return sizeof(sockaddr_un); }
  std::string path() const;
};

// The path a configured socket path names on this machine: under the
// board root, or empty when none was given.
std::string UnixSocketPath(const std::string& configured);

// Removes a socket file left at path by an earlier endpoint. Anything that
// is not a socket is left alone (binding there then fails and says so).
void RemoveSocketFile(const std::string& path);

class ServiceUnix : public Service {
public:
  // Takes the link up on a duplicate of s, the peer known by its path
  // text; does nothing while a loss is still being reported.
  void Connected(Fd s, const std::string& peer);
};

class AcceptorUnix : public ServiceUnix, private Listener::Owner {
public:
  static const unsigned kBindRetryMs = Listener::kBindRetryMs;

  AcceptorUnix();
  explicit AcceptorUnix(const std::string& path);
  ~AcceptorUnix() override;

  const std::string& path() const { return path_; }
  bool listening() const { return listener_.listening(); }
  bool paused() const { return listener_.paused(); }

  void OnSocketEvent(int fd, short events) { listener_.OnSocketEvent(fd, events); }

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override {}
  virtual void ImplRefuseConnection() {}
  virtual void ImplConnected(Fd) {}

private:
  int BindAddress(int fd) override;
  void Accepted(Fd s, const sockaddr_storage& from, socklen_t len) override;
  void ListenFailed() override { Deactivate(); }
  bool Verbose() const override { return verbose(); }
  void RemoveOwnFile();

  std::string path_;
  Listener listener_;
  // The file this endpoint bound, so that only that one is removed.
  bool bound_ = false;
  dev_t boundDev_ = 0;
  ino_t boundIno_ = 0;
};

class ConnectorUnix : public ServiceUnix {
public:
  ConnectorUnix();
  explicit ConnectorUnix(const std::string& path);
  ConnectorUnix(const std::string& path, const std::string& localPath);
  ~ConnectorUnix() override;

  const std::string& path() const { return path_; }
  const std::string& localPath() const { return localPath_; }
  int fastRetries() const { return retry_.fastRetries(); }
  unsigned retry_pending_ms() const { return retry_.pending_ms(); }

  void TryConnect();
  void OnSocketEvent(int fd, short events);
  void OnTimeout(Timer*);

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

private:
  std::string path_;
  std::string localPath_;
  Fd socket_;
  ConnectRetry retry_;
  Event connectEvent_;
  bool running_ = false;
};

}  // namespace Control
