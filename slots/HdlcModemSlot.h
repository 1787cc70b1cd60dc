#pragma once
// The modem kind for digital (synchronous) PPP calls: a free hdlcN network
// interface switched to PPP, with pppd running on it. Whenever a stream is
// connected while no pppd runs, the interface is asked for its switch
// channel, switched to PPP and a new pppd started; the slot's end takes the
// interface down, back to raw HDLC, and returns it to the factory.
#include <string>

#include "slots/ModemSlot.h"

class HdlcModemSlot : public ModemSlot {
 public:
  HdlcModemSlot(const TERM::ModemParams& params, const std::string& device);
  ~HdlcModemSlot() override;

  void IAfterCreate() override {}
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override { return "digital-modem"; }
  // Every digital modem shares one session with the plug-in; the bridge
  // tells them apart by the pppd that the plug-in runs in.
  static constexpr int kSession = -1;
  int modem_id() const override { return kSession; }
  void unbind() override;

  const std::string& deviceName() const { return device_; }

 private:
  void initModem();

  int channel_ = -1;
  std::string device_;
};
