#pragma once
// The board's single point of contact with the controller: it decodes each
// framed message of the controller link, offers a command to the bound
// control services in bind order, and sends exactly one answer per command
// (plus the board's signals). Services reach the controller only through
// the service base below.
#include "control/Service.h"
#include "protocol/LGCP/LGCP.h"

#include <iosfwd>
#include <vector>

namespace CtrlSrv {

class Server;

class Service {
public:
  Service() = default;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  // Leaves the server's list, so that a server outliving its services
  // never calls a destroyed one.
  virtual ~Service();

  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // True: the command is this service's, and it has answered it or
  // deferred the answer.
  virtual bool OnCommand(const LGCP::Command& c) = 0;
  // Another service is about to send this signal to the controller.
  virtual void OnSignal(const LGCP::Signal&) {}

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  void SendSignal(const LGCP::Signal& sig);
  void SendSignal(unsigned slot, const LGCP::Signal& sig);
  int GetSlot();
  bool IsSlotPresent();
  unsigned delayResponse();
  void delayedSuccess(unsigned slot, unsigned seq);
  bool CheckServerConnection(bool& connected);

  Server* server() const { return server_; }

private:
  friend class Server;
  bool check();
  void notify_others(const LGCP::Signal& sig);

  Server* server_ = nullptr;
};

class Server : public Control::Notify {
public:
  enum ResponseState { NothingSent = 0, Answered = 1, ErrorSent = 2 };
  // Octets of an undecodable frame shown in the log; a longer frame shows
  // these and its length.
  static const unsigned kLoggedOctets = 32;

  Server() = default;
  ~Server() override;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  void Bind(Service* s);
  bool Activate(Control::Service* e);
  void Deactivate();

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;
  void OnMessage(const LGCP::Message& m);

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  unsigned delayResponse();
  void delayedSuccess(unsigned slot, unsigned seq);
  void SendSignal(const LGCP::Signal& sig);
  void SendSignal(unsigned slot, const LGCP::Signal& sig);
  void SendMsg(LGCP::Message& m);

  int GetSlot() const { return slot_; }
  bool IsSlotPresent() const { return slot_ != -1; }
  bool CheckServerConnection(bool& connected) const;
  void OnHeartbeatTimeout();

  void PutHeader(std::ostream& os) const;

  const std::vector<Service*>& services() const { return services_; }
  Control::Service* endpoint() const { return endpoint_; }
  int responseState() const { return responseState_; }

private:
  friend class Service;
  void Forget(Service* s);
  void Answer(bool success, LGCP::ErrorCause::NamedNumber cause);

  std::vector<Service*> services_;
  Control::Service* endpoint_ = nullptr;
  bool seqPresent_ = false;
  unsigned seq_ = 0;
  int slot_ = -1;
  int responseState_ = NothingSent;
};

}  // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;
