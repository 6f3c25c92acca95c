#include "comm/dispatcher_event.h"

#include <algorithm>
#include <chrono>

namespace qv::comm {

void TQvEvent::Set() {
  // The waiters are woken after the lock is released. Woken under it, a waiter on another core
  // runs at once only to block on the lock it needs to return, and is woken a second time
  // when the setter lets go: two switches per hand-off instead of one (about half of the
  // dispatcher and writer threads' switches during a fax call were these).
  constexpr size_t kWokenOutsideLock = 4;  // a port has three threads; more is rare
  std::shared_ptr<std::condition_variable> woken[kWokenOutsideLock];
  size_t count = 0;
  {
    std::lock_guard lock(group_.mutex_);
    if (signalled_) return;  // its waiters were woken when it was set
    signalled_ = true;
    for (TQvEventGroup::Waiter* w : group_.waiters_) {
      if (std::find(w->Events.begin(), w->Events.end(), this) == w->Events.end()) continue;
      if (count < kWokenOutsideLock)
        woken[count++] = w->Wake;
      else
        w->Wake->notify_one();
    }
  }
  // The state changed under the lock, so a waiter that has not slept yet sees it in its
  // predicate; one that sleeps is woken here. Its condition variable outlives its wait.
  for (size_t i = 0; i < count; ++i) woken[i]->notify_one();
}

void TQvEvent::Reset() {
  std::lock_guard lock(group_.mutex_);
  signalled_ = false;
}

bool TQvEvent::IsSet() const {
  std::lock_guard lock(group_.mutex_);
  return signalled_;
}

bool TQvEvent::consumeLocked() {
  if (!signalled_) return false;
  if (!manualReset_) signalled_ = false;
  return true;
}

bool TQvEvent::Wait(int timeoutMs) { return WaitAny({this}, timeoutMs) == 0; }

int TQvEvent::WaitAny(std::initializer_list<TQvEvent*> events, int timeoutMs) {
  if (events.size() == 0) return -1;
  TQvEventGroup& group = (*events.begin())->group_;
  std::unique_lock lock(group.mutex_);
  auto ready = [&]() -> int {
    int i = 0;
    for (TQvEvent* e : events) {
      if (e->consumeLocked()) return i;
      ++i;
    }
    return -1;
  };
  int which = ready();
  if (which >= 0 || timeoutMs == 0) return which;
  TQvEventGroup::Waiter self{std::make_shared<std::condition_variable>(), events};
  group.waiters_.push_back(&self);
  if (timeoutMs < 0)
    self.Wake->wait(lock, [&] { return (which = ready()) >= 0; });
  else
    self.Wake->wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return (which = ready()) >= 0; });
  std::erase(group.waiters_, &self);
  return which;
}

}  // namespace qv::comm
