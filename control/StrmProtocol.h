#pragma once
// The bottom layer of a connection endpoint's stack: one connected,
// non-blocking stream socket. Each readiness event gives one recv whose
// bytes go up at once; each packet from above is written out completely
// within one second or the link fails. Every failure closes the socket
// first and then travels upward as an error status; this layer never
// reconnects.
#include "runtime/Event.h"
#include "runtime/Fd.h"
#include "runtime/Multiplexer.h"
#include "runtime/Protocol.h"

#include <iosfwd>
#include <string>

class StrmProtocol : public Protocol {
public:
  // The budget of one message write, from its first attempt.
  static const unsigned kWriteBudgetMs = 1000;

  StrmProtocol();
  explicit StrmProtocol(Fd s);
  ~StrmProtocol() override;

  void attach(Fd s);
  void release();
  bool opened() const { return fd_.is_valid(); }

  const Protocol_name& name() const override { return name_; }
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;

  void on_event(int fd, short events);
  void on_error(const std::string& text);

  // Socket queries for the diagnostic lines; -1 when a query fails.
  int sendbuf_space() const;
  int recvbuf_space() const;
  int inq_space() const;
  int outq_space() const;
  int free_space() const;
  bool outq_is_free() const { return outqIsFree_; }

  const std::string& service_name() const { return serviceName_; }
  void service_name(const std::string& n) { serviceName_ = n; }
  unsigned GetOverflowCounter() const { return overflowCounter_; }
  const Measure& get_read_measure() const { return readMeasure_; }
  const Measure& get_write_measure() const { return writeMeasure_; }
  int lowlevel_fd() const { return fd_.lowlevel_fd(); }

  void PutHeader(std::ostream& os) const;

private:
  void do_read();
  void put_diagnostics(std::ostream& os) const;

  Protocol_name_str name_{"StrmProtocol"};
  Fd fd_;
  bool outqIsFree_ = false;
  std::string serviceName_;
  Event event_;
  Measure readMeasure_;
  Measure writeMeasure_;
  unsigned overflowCounter_ = 0;
};
