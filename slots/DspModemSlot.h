#pragma once
// The modem kind on one of the board's modem DSPs ("/dev/mctl"). Its first
// stream connection allocates the modem, learns its switch channel, sets
// its data modes and parameters, puts it in answer or originate mode and
// starts pppd on "/dev/mdm<N>"; a fax call starts a fax program instead,
// whose exit code is the number of pages (a receiver's end is reported to
// nobody). Whichever child it runs is asked to hang up at the destroy and
// killed when it has not gone within the timeout, as pppd is. The modem
// (the slot's file of "/dev/mctl") is held until the slot is deleted and
// its child's end has been reported: the child works the modem by its
// number, and a modem let go of earlier would be handed to the next call
// while this one still uses it. A slot deleted before that report (the
// controller left) hands the file to the factory, which closes it when the
// report comes; nothing waits for the child.
#include "runtime/Fd.h"
#include "slots/ModemSlot.h"

class DspModemSlot : public ModemSlot {
 public:
  explicit DspModemSlot(const TERM::ModemParams& params);
  // A child still running is killed here, while the slot's log lines still
  // name its kind; one whose end has not been reported yet may still work
  // the modem, which the factory holds for it until that report.
  ~DspModemSlot() override;

  void IAfterCreate() override {}
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override { return "dsp-modem"; }
  int modem_id() const override { return modem_; }
  bool hasSession() const override { return modem_ >= 0; }
  void unbind() override;

 private:
  void InitModem();
  void RunFaxTransfer();
  void RunFaxReceiver();
  void on_fax_terminate(int status);
  void on_receiver_terminate(int status);
  // A {modem, value...} request on fd; the driver's result.
  int modemRequest(int fd, uint32_t word, std::initializer_list<uint32_t> words);

  Fd device_;
  int channel_ = -1;
  int modem_ = -1;
};
