#include "control/CtrlSrv.h"

#include "asn1/AVNEncoder.h"
#include "asn1/CoderEnv.h"
#include "log/Ext.h"

#include <algorithm>
#include <iostream>
#include <iterator>

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {
const unsigned kMaxSlot = 1023;
}

// ---------------------------------------------------------------- Server

Server::~Server() {
  Deactivate();
  for (Service* s : services_) s->server_ = nullptr;
}

void Server::Bind(Service* s) {
  services_.push_back(s);
  s->server_ = this;
}

void Server::Forget(Service* s) { services_.erase(std::remove(services_.begin(), services_.end(), s), services_.end()); }

bool Server::Activate(Control::Service* e) {
  Deactivate();
  endpoint_ = e;
  e->service_name("server");
  e->Bind(this);
  return e->Activate();
}

void Server::Deactivate() {
  if (!endpoint_) return;
  endpoint_->Deactivate();
  OnDisconnect();
  endpoint_->UnBind();
  delete endpoint_;
  endpoint_ = nullptr;
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  // A copy: a service may bind another while being told.
  std::vector<Service*> list = services_;
  for (Service* s : list) s->OnConnect();
}

void Server::OnDisconnect() {
  std::vector<Service*> list = services_;
  for (Service* s : list) s->OnDisconnect();
}

void Server::OnMessage(const char* data, int length) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  LGCP::Message m;
  if (ASN1::decode(data, data + length, &env, m, true)) {
    OnMessage(m);
  } else {
    std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl;
    const unsigned n = static_cast<unsigned>(length);
    if (n <= kLoggedOctets)
      std::cerr << " msg: " << ext::hex(data, n) << std::endl;
    else
      std::cerr << " msg: " << ext::hex(data, kLoggedOctets) << "... (" << n << " octets)" << std::endl;
  }
  slot_ = -1;
}

void Server::OnMessage(const LGCP::Message& m) {
  responseState_ = NothingSent;
  if (m.seq_isPresent()) {
    seq_ = static_cast<unsigned>(m.get_seq().getValue());
    seqPresent_ = true;
  } else {
    seqPresent_ = false;
  }
  const LGCP::PDU& pdu = m.get_pdu();
  if (!pdu.command_isSelected()) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  if (m.slot_isPresent()) {
    const unsigned v = m.get_slot().getValue();
    if (v > kMaxSlot) {
      slot_ = -1;
      Error(LGCP::ErrorCause::invalidSlot);
      return;
    }
    slot_ = static_cast<int>(v);
  } else {
    slot_ = -1;
  }
  const LGCP::Command& c = pdu.get_command();
  bool taken = false;
  std::vector<Service*> list = services_;
  for (Service* s : list) {
    if (s->OnCommand(c)) {
      taken = true;
      break;
    }
  }
  if (!taken) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
  } else if (responseState_ == NothingSent) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
    std::cerr << "please report this line and the log around it to technical support <support@quorvad.example>"
              << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

void Server::Answer(bool success, LGCP::ErrorCause::NamedNumber cause) {
  LGCP::Message m;
  if (seqPresent_) m.set_seq(static_cast<int>(seq_));
  if (slot_ != -1) m.set_slot(static_cast<unsigned>(slot_));
  LGCP::Response& r = m.set_pdu().select_response();
  if (success)
    r.select_success();
  else
    r.select_error(cause);
  SendMsg(m);
}

void Server::Success() {
  if (responseState_ != NothingSent) return;
  Answer(true, LGCP::ErrorCause::internal);
  responseState_ = Answered;
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (responseState_ == ErrorSent) return;
  Answer(false, cause);
  responseState_ = ErrorSent;
}

unsigned Server::delayResponse() {
  responseState_ = Answered;
  return seq_;
}

void Server::delayedSuccess(unsigned slot, unsigned seq) {
  LGCP::Message m;
  m.set_seq(static_cast<int>(seq));
  m.set_slot(slot);
  m.set_pdu().select_response().select_success();
  SendMsg(m);
}

void Server::SendSignal(const LGCP::Signal& sig) {
  LGCP::Message m;
  if (slot_ != -1) m.set_slot(static_cast<unsigned>(slot_));
  m.set_pdu().select_signal(sig);
  SendMsg(m);
}

void Server::SendSignal(unsigned slot, const LGCP::Signal& sig) {
  LGCP::Message m;
  m.set_slot(slot);
  m.set_pdu().select_signal(sig);
  SendMsg(m);
}

void Server::SendMsg(LGCP::Message& m) {
  std::vector<char> bytes;
  bytes.reserve(200);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  if (!ASN1::encode(m, &env, std::back_inserter(bytes))) {
    std::cerr << ext::header(this) << "send fail: encode error!" << m << ASN1::endLine;
    return;
  }
  if (!endpoint_) {
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
    return;
  }
  endpoint_->Send(bytes.data(), static_cast<int>(bytes.size()));
}

bool Server::CheckServerConnection(bool& connected) const {
  if (!endpoint_) return false;
  connected = endpoint_->IsConnected();
  return true;
}

void Server::OnHeartbeatTimeout() {
  if (endpoint_) endpoint_->Disconnect();
}

void Server::PutHeader(std::ostream& os) const {
  if (!endpoint_)
    os << "ctrl [null]: ";
  else if (endpoint_->IsConnected())
    os << "ctrl [" << endpoint_->GetAddr() << "]: ";
  else
    os << "ctrl [not connected]: ";
}

// ---------------------------------------------------------------- Service

Service::~Service() {
  if (server_) server_->Forget(this);
}

bool Service::check() {
  if (server_) return true;
  std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
  return false;
}

void Service::Success() {
  if (check()) server_->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (check()) server_->Error(cause);
}

void Service::notify_others(const LGCP::Signal& sig) {
  std::vector<Service*> list = server_->services_;
  for (Service* s : list)
    if (s != this) s->OnSignal(sig);
}

void Service::SendSignal(const LGCP::Signal& sig) {
  if (!check()) return;
  notify_others(sig);
  server_->SendSignal(sig);
}

void Service::SendSignal(unsigned slot, const LGCP::Signal& sig) {
  if (!check()) return;
  notify_others(sig);
  server_->SendSignal(slot, sig);
}

int Service::GetSlot() { return check() ? server_->GetSlot() : -1; }

bool Service::IsSlotPresent() { return check() && server_->IsSlotPresent(); }

unsigned Service::delayResponse() { return check() ? server_->delayResponse() : static_cast<unsigned>(-1); }

void Service::delayedSuccess(unsigned slot, unsigned seq) {
  if (check()) server_->delayedSuccess(slot, seq);
}

bool Service::CheckServerConnection(bool& connected) {
  if (!server_) return false;
  return server_->CheckServerConnection(connected);
}

}  // namespace CtrlSrv
