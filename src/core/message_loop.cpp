#include "core/message_loop.h"

#include <chrono>
#include <memory>

namespace qv::core {

MessageLoop& MessageLoop::instance() {
  static MessageLoop loop;
  return loop;
}

void MessageLoop::bindToCurrentThread() { uiThread_.store(std::this_thread::get_id()); }

void MessageLoop::ensureUiThread() const {
  std::thread::id none{};
  uiThread_.compare_exchange_strong(none, std::this_thread::get_id());
}

bool MessageLoop::isUiThread() const {
  ensureUiThread();
  return uiThread_.load() == std::this_thread::get_id();
}

void MessageLoop::post(std::function<void()> work) {
  std::function<void()> wake;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
    wake = wakeup_;
  }
  cv_.notify_all();
  if (wake) wake();
}

bool MessageLoop::send(std::function<void()> work, int timeoutMs) {
  if (isUiThread()) {
    work();
    return true;
  }
  struct State {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto state = std::make_shared<State>();
  post([state, work = std::move(work)] {
    // Signal completion even when the work throws, so the sender never waits the full time-out
    // for a handler that already failed.
    struct Done {
      State& s;
      ~Done() {
        {
          std::lock_guard l(s.m);
          s.done = true;
        }
        // Outside the lock: woken under it, the sender would run only to block on it again.
        // The state lives as long as this work item holds it.
        s.cv.notify_all();
      }
    } done{*state};
    work();
  });
  std::unique_lock lock(state->m);
  return state->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state->done; });
}

int MessageLoop::pumpPending() {
  if (!isUiThread()) return 0;
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
    batchLeft_ += batch.size();
  }
  int ran = 0;
  while (!batch.empty()) {
    auto work = std::move(batch.front());
    batch.pop_front();
    {
      std::lock_guard lock(mutex_);
      --batchLeft_;
    }
    try {
      work();
    } catch (...) {
      // A failing handler must not take the queue (and every later message) down with it:
      // put the rest back in front and let the exception reach the pump's caller.
      std::lock_guard lock(mutex_);
      batchLeft_ -= batch.size();
      while (!batch.empty()) {
        queue_.push_front(std::move(batch.back()));
        batch.pop_back();
      }
      throw;
    }
    ++ran;
  }
  return ran;
}

bool MessageLoop::waitAndPump(int timeoutMs) {
  {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !queue_.empty() || quit_.load(); });
  }
  return pumpPending() > 0;
}

void MessageLoop::postQuit() {
  quit_.store(true);
  std::function<void()> wake;
  {
    std::lock_guard lock(mutex_);
    wake = wakeup_;
  }
  cv_.notify_all();
  if (wake) wake();
}

void MessageLoop::setWakeup(std::function<void()> wakeup) {
  std::lock_guard lock(mutex_);
  wakeup_ = std::move(wakeup);
}

size_t MessageLoop::pendingCount() const {
  std::lock_guard lock(mutex_);
  return queue_.size() + batchLeft_;
}

}  // namespace qv::core
