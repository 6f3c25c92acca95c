#pragma once

#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

namespace qv::comm {

class TQvEvent;

// The events of one dispatcher share one mutex, so a thread can wait for whichever of several
// events comes first (the writer waits for output or flush). Each waiting thread has its own
// condition variable and names the events it waits for: setting an event wakes only the threads
// waiting for that one, never the port's other threads (every wake-up is a thread switch, and
// a switch per byte arrival is what a port's CPU time is made of).
class TQvEventGroup {
 public:
  TQvEventGroup() = default;
  TQvEventGroup(const TQvEventGroup&) = delete;
  TQvEventGroup& operator=(const TQvEventGroup&) = delete;

 private:
  friend class TQvEvent;
  struct Waiter {
    // Shared so that a setter can notify it after releasing the mutex: the waiter may have
    // left meanwhile (its wait timed out), and the copy the setter holds keeps it valid.
    std::shared_ptr<std::condition_variable> Wake;
    std::initializer_list<TQvEvent*> Events;
  };
  std::mutex mutex_;
  std::vector<Waiter*> waiters_;  // threads inside WaitAny (mutex_)
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
