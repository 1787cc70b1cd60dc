#pragma once
// A connection endpoint: one message link carried by a stack of the socket
// stream layer (bottom) and TPKT framing (top), its state, and the one
// listener that hears connect, each message and disconnect. The concrete
// kinds decide how a socket comes to exist (accepting or connecting) and
// what to do after a loss.
#include "control/StrmProtocol.h"
#include "control/Tpkt.h"
#include "runtime/Fd.h"
#include "runtime/Multiplexer.h"
#include "runtime/Net.h"
#include "runtime/Protocol.h"

#include <iosfwd>
#include <string>

namespace Control {

class Notify {
public:
  virtual ~Notify() = default;
  virtual void OnConnect() {}
  virtual void OnDisconnect() {}
  virtual void OnMessage(const char* /*data*/, int /*length*/) {}
};

class Service : private ProtocolsFamily {
public:
  struct State {
    enum Type : int { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
  };

  Service();
  ~Service() override;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  void Bind(Notify* n) { notify_ = n; }
  void UnBind() { notify_ = nullptr; }

  bool Activate();
  void Deactivate();
  void Disconnect();
  void Send(const char* data, int length);
  void Release();

  State::Type GetState() const { return state_; }
  bool IsConnected() const { return state_ == State::Connected; }
  const std::string& GetAddr() const { return peer_; }

  bool verbose() const { return verbose_; }
  void verbose(bool v) { verbose_ = v; }

  unsigned GetOverflowCounter() const { return stream_->GetOverflowCounter(); }
  const std::string& service_name() const { return stream_->service_name(); }
  void service_name(const std::string& n) { stream_->service_name(n); }
  const Measure& get_read_measure() const { return stream_->get_read_measure(); }
  const Measure& get_write_measure() const { return stream_->get_write_measure(); }

protected:
  virtual bool ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  virtual void ImplOnDisconnect() = 0;

  void on_message(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status_ptr s) override;
  void OnDeactivateDPC();

  StrmProtocol* stream() const { return stream_; }
  void set_state(State::Type s) { state_ = s; }
  void set_peer(const std::string& p) { peer_ = p; }
  Notify* notify() const { return notify_; }
  // Brings the stack up on a socket the kind has connected.
  void ActivateStack(Fd s);
  // When the peer of the link has gone and its socket says so, but the
  // socket's own event has not run yet: handles it now as that event
  // would, so that the link goes down (Deactivating).
  void FinishEndedLink();

private:
  // Says how many sends the run of ignored ones held, and ends it.
  void endIgnoredRun();

  std::string peer_;
  bool verbose_ = true;
  // A run of sends ignored without a link: said once at its start, counted
  // at its end, so that a daemon without a controller logs no line per send.
  unsigned long ignoredSends_ = 0;
  State::Type ignoredState_ = State::Idle;
  State::Type state_ = State::Idle;
  Notify* notify_ = nullptr;
  StrmProtocol* stream_;
  Tpkt_protocol* tpkt_;
  Dpc dpc_;
};

const char* GetTextNotation(Service::State::Type s);
std::ostream& operator<<(std::ostream& os, Service::State::Type s);

// What every TCP endpoint does once it holds a connected socket.
class ServiceNet : public Service {
public:
  // Takes the link up on a duplicate of s; does nothing while the previous
  // link's loss is still being reported (Deactivating).
  void Connected(Fd s, const INet4::Addr& a);
  const INet4::Addr& addr() const { return addr_; }

private:
  INet4::Addr addr_;
};

}  // namespace Control
