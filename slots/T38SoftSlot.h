#pragma once
// Software T.38: the fax relay runs in the T.38 daemon program, one child
// per slot, reading and writing a transparent controller channel as its
// standard input; the slot only names the channel's switch channel and
// reports the child's end (an abort with the raw wait status). The
// factory asks the same program how many instances the board can run.
#include <string>
#include <vector>

#include "runtime/ChildWait.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

class T38SoftSlot : public Slot {
 public:
  T38SoftSlot(int pid, int channel);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel_; }
  int IGetReceiveChannel() override { return channel_; }
  const char* GetName() const override { return "t38 soft"; }

  void PutHeader(std::ostream& os) const;
  void OnT38Terminate(int status);

 private:
  int pid_;
  int channel_;
  ChildWait child_;
};

class T38SoftFactory : public SlotFactory {
 public:
  // How long the instance query may hold the loop.
  static constexpr int kQueryTimeoutMs = 1000;
  // The argument vector holds at most 32 entries with the null.
  static constexpr size_t kMaxArgs = 31;

  static T38SoftFactory& instance();

  const char* GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;
  unsigned QueryNumOfInstances();
  void PutHeader(std::ostream& os) const { os << "t38soft: "; }

 private:
  T38SoftFactory();
  // The first line the program writes, read for at most kQueryTimeoutMs;
  // false when it wrote none.
  bool readFirstLine(int fd, int pid, std::string& line);
  void onQueryEnd(int) {}

  ChildWait query_;
};
