#pragma once

#include <condition_variable>
#include <initializer_list>
#include <mutex>

namespace qv::comm {

// The events of one dispatcher share one mutex and condition variable, so a thread can wait for
// whichever of several events comes first (the writer waits for output or flush).
class TQvEventGroup {
 public:
  std::mutex Mutex;
  std::condition_variable Changed;
};

// An auto- or manual-reset event: set() wakes waiters; an auto-reset event is consumed by the
// one wait that sees it.
class TQvEvent {
 public:
  TQvEvent(TQvEventGroup& group, bool manualReset) : group_(group), manualReset_(manualReset) {}
  TQvEvent(const TQvEvent&) = delete;
  TQvEvent& operator=(const TQvEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits at most timeoutMs (negative: no limit); true when the event was signalled.
  bool Wait(int timeoutMs);
  // Waits for the first of several events of the same group; returns its position, or -1 on
  // time-out. Only the event returned is consumed.
  static int WaitAny(std::initializer_list<TQvEvent*> events, int timeoutMs);

 private:
  bool consumeLocked();

  TQvEventGroup& group_;
  bool manualReset_;
  bool signalled_ = false;
};

}  // namespace qv::comm
