#pragma once

#include "comm/dispatcher.h"

namespace qv::comm {

// The three worker threads of an open port. Each runs its loop with every exception caught at
// its top (shown through the application's exception display) and then reports itself gone.
class TQvDispatcherThread {
 public:
  static constexpr int kReader = 0, kDispatcher = 1, kWriter = 2;
  explicit TQvDispatcherThread(TQvBaseDispatcher& dispatcher) : d_(dispatcher) {}
  virtual ~TQvDispatcherThread() = default;
  void Run();
  // The worker thread running on the calling thread, if any.
  static TQvDispatcherThread* Current();

 protected:
  virtual void Execute() = 0;
  virtual int Which() const = 0;
  TQvBaseDispatcher& d_;
};

// Waits for device events, moves arrived bytes into the input ring and hands each event to the
// dispatcher thread.
class TComThread : public TQvDispatcherThread {
 public:
  using TQvDispatcherThread::TQvDispatcherThread;

 protected:
  void Execute() override { d_.ReaderExecute(); }
  int Which() const override { return kReader; }
};

// Fills the input ring, evaluates the triggers and delivers them.
class TDispThread : public TQvDispatcherThread {
 public:
  using TQvDispatcherThread::TQvDispatcherThread;

 protected:
  void Execute() override { d_.DispatcherExecute(); }
  int Which() const override { return kDispatcher; }
};

// Drains the output ring to the device.
class TOutThread : public TQvDispatcherThread {
 public:
  using TQvDispatcherThread::TQvDispatcherThread;

 protected:
  void Execute() override { d_.WriterExecute(); }
  int Which() const override { return kWriter; }
};

}  // namespace qv::comm
