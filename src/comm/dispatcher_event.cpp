#include "comm/dispatcher_event.h"

#include <algorithm>
#include <chrono>

namespace qv::comm {

void TQvEvent::Set() {
  std::lock_guard lock(group_.mutex_);
  if (signalled_) return;  // its waiters were woken when it was set
  signalled_ = true;
  // Under the lock: a waiter leaves the list (and frees its condition variable) only while
  // holding it.
  for (TQvEventGroup::Waiter* w : group_.waiters_)
    if (std::find(w->Events.begin(), w->Events.end(), this) != w->Events.end()) w->Wake.notify_one();
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
  TQvEventGroup::Waiter self{{}, events};
  group.waiters_.push_back(&self);
  if (timeoutMs < 0)
    self.Wake.wait(lock, [&] { return (which = ready()) >= 0; });
  else
    self.Wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return (which = ready()) >= 0; });
  std::erase(group.waiters_, &self);
  return which;
}

}  // namespace qv::comm
