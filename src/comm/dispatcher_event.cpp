#include "comm/dispatcher_event.h"

#include <chrono>

namespace qv::comm {

void TQvEvent::Set() {
  {
    std::lock_guard lock(group_.Mutex);
    signalled_ = true;
  }
  group_.Changed.notify_all();
}

void TQvEvent::Reset() {
  std::lock_guard lock(group_.Mutex);
  signalled_ = false;
}

bool TQvEvent::IsSet() const {
  std::lock_guard lock(group_.Mutex);
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
  std::unique_lock lock(group.Mutex);
  auto ready = [&]() -> int {
    int i = 0;
    for (TQvEvent* e : events) {
      if (e->consumeLocked()) return i;
      ++i;
    }
    return -1;
  };
  int which = ready();
  if (which >= 0) return which;
  if (timeoutMs < 0) {
    group.Changed.wait(lock, [&] { return (which = ready()) >= 0; });
    return which;
  }
  group.Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return (which = ready()) >= 0; });
  return which;
}

}  // namespace qv::comm
