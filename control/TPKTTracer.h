#pragma once
// A TCP port that any number of trace clients attach to: every message
// given to Send() reaches each of them as one TPKT frame, and the frames
// they send are reassembled (payloads of up to 512 bytes) and handed to an
// optional sink. Sending never waits: a client that cannot take a whole
// frame at once is dropped, so a slow or dead client never holds up the
// loop or the other clients.
#include "runtime/Accept.h"
#include "runtime/Event.h"
#include "runtime/Timer.h"

#include <list>
#include <memory>

class TPKTTracer {
public:
  static const unsigned kMaxPayload = 512;

  // Receives the payload of every complete non-empty frame from a client.
  // From inside Receive(), Send() answers that client only; the payload
  // stays readable for the whole call, even when an answer that could not
  // be sent closed that client.
  class Sink {
  public:
    virtual ~Sink() = default;
    virtual void Receive(const void* data, unsigned length) = 0;
  };

  struct Connection {
    Connection();
    void expect_header() {
      readingHeader = 1;
      expected = 4;
      received = 0;
    }
    int readingHeader;
    unsigned expected;
    unsigned received;
    Event event;
    unsigned char buffer[kMaxPayload];
  };
  using Connections = std::list<std::unique_ptr<Connection>>;

  TPKTTracer();
  ~TPKTTracer();
  TPKTTracer(const TPKTTracer&) = delete;
  TPKTTracer& operator=(const TPKTTracer&) = delete;

  // Listens on every interface at port; false (and nothing logged) when
  // any step fails.
  bool Listen(unsigned short port);
  void Send(const void* data, unsigned length);

  // Not owned; null detaches.
  void SetSink(Sink* sink) { sink_ = sink; }
  Sink* GetSink() const { return sink_; }
  bool listening() const { return listener_.IsActive(); }
  size_t clients() const { return connections_.size(); }

  void OnEvent(int fd, short events);
  void OnPauseEnd(Timer*);
  void OnDataEvent(int fd, short events);
  Connections::iterator FindConnection(int fd);
  void CloseConnection(Connections::iterator it);

private:
  // Reads what the client sent; false once the connection was closed.
  void ReadFrom(Connections::iterator it);
  bool SendTo(Connection& c, const unsigned char* header, const void* data, unsigned length);

  Sink* sink_ = nullptr;
  Event listener_;
  // Out of descriptors: see runtime/Accept.h.
  SpareAccept accept_;
  Timer pause_;
  Connections connections_;
  Connections::iterator current_;
  // The client closed while its data was being handled: its socket is
  // closed at once, its buffer (which a sink may still be reading) goes
  // when the handler returns.
  std::unique_ptr<Connection> closing_;
};
