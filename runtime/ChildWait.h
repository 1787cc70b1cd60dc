#pragma once
// Notification of a child process's exit as an ordinary loop callback.
//
// The SIGCHLD handler reaps every exited child and sends one datagram
// {pid, raw wait status} per child over a socket pair; the loop reads them
// and calls the ChildWait attached with that pid. The owner binds one of
// its methods taking the raw status, starts the child, then Attach(pid).
//
// Nothing is lost when many children end at once: the handler never
// blocks; when the socket queue is full it keeps the one record it holds,
// stops reaping (the other children stay zombies, their status kept by the
// kernel) and the loop, once it has drained the queue, takes that record
// and resumes the reaping.
#include "runtime/Event.h"
#include "runtime/List.h"

#include <csignal>
#include <new>

class ChildWaitService;

class ChildWait : public F_dual_list_item<ChildWait> {
public:
  class Handler {
  public:
    virtual ~Handler() = default;
    virtual void Invoke(ChildWait& wait, int status) = 0;
    // Handlers live in their ChildWait's storage and are destroyed in place.
    static void operator delete(void*) {}
  };

  template <class T>
  class THandler1 : public Handler {
  public:
    THandler1(T* object, void (T::*method)(int)) : object_(object), method_(method) {}
    void Invoke(ChildWait&, int status) override { (object_->*method_)(status); }

  private:
    T* object_;
    void (T::*method_)(int);
  };

  class DummyHandler : public Handler {
  public:
    void Invoke(ChildWait&, int) override {}
  };

  // Held by every unit that uses ChildWait, so the service exists before
  // its first use and goes after its last.
  class Init {
  public:
    Init();
    ~Init();
  };

  ChildWait();
  ChildWait(const ChildWait&) = delete;
  ChildWait& operator=(const ChildWait&) = delete;
  ~ChildWait();

  // Binding never allocates: the handler is built in the object's storage.
  template <class T>
  void Bind(T* object, void (T::*method)(int)) {
    static_assert(sizeof(THandler1<T>) <= sizeof(storage_), "handler storage too small");
    handler_->~Handler();
    handler_ = new (storage_) THandler1<T>(object, method);
  }

  void Attach(int pid);
  void Detach();
  int pid() const { return pid_; }
  bool is_attached() const { return linked_; }

  static void Initialize();
  static void Cleanup();
  static void Activate();
  static int UsageCounter;

private:
  friend class ChildWaitService;
  int pid_ = 0;
  bool linked_ = false;
  alignas(void*) unsigned char storage_[sizeof(void*) + sizeof(void*) + sizeof(void (DummyHandler::*)(int))];
  Handler* handler_;
};

class ChildWaitService {
public:
  ChildWaitService();
  ChildWaitService(const ChildWaitService&) = delete;
  ChildWaitService& operator=(const ChildWaitService&) = delete;
  ~ChildWaitService();

  // Socket pair, loop event and SIGCHLD handler; once.
  void Activate();
  bool is_active() const { return write_end_.is_valid(); }
  void Attach(ChildWait* w);
  void Detach(ChildWait* w);
  const F_dual_list<ChildWait>& waiters() const { return waiters_; }

  static void SigChldHandlerWrapper(int, siginfo_t*, void*);
  // Signal context: reaps and reports; touches no object.
  static void SigChldHandler();
  void OnChildEvent(int fd, short revents);

  const Fd& write_end() const { return write_end_; }
  // How often the queue was full and the reaping waited for the loop.
  unsigned int stalls() const { return stalls_; }

  static ChildWaitService* childWaitService;

private:
  void dispatch(int pid, int status);

  Event event_;
  Fd write_end_;
  F_dual_list<ChildWait> waiters_;
  bool handler_installed_ = false;
  unsigned int stalls_ = 0;
};

static ChildWait::Init childWaitInit;
