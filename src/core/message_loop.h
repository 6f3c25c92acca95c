#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace qv::core {

// The user-interface thread's message queue: what hidden windows and window messages were for.
// Worker threads post work to the UI thread or send it and wait for it to run (with a time-out,
// like a synchronous window message). The desktop program pumps it from Qt's event loop (through
// the wake-up hook); command-line tools and tests pump it themselves.
class MessageLoop {
 public:
  static MessageLoop& instance();

  // Makes the calling thread the UI thread. Without a call, the first thread that pumps or asks
  // isUiThread() becomes it.
  void bindToCurrentThread();
  bool isUiThread() const;

  // Queues work for the UI thread and returns at once.
  void post(std::function<void()> work);

  // Runs work on the UI thread and waits for it at most timeoutMs. Called on the UI thread, it
  // runs the work directly. Returns false when the work did not finish in time (it still runs
  // later, when the UI thread gets to it) or when the loop is shutting down.
  bool send(std::function<void()> work, int timeoutMs = 1000);

  // Runs everything queued at the moment of the call ("let pending messages run"); returns the
  // number of items run. Only the UI thread pumps; elsewhere it does nothing.
  int pumpPending();

  // Blocks until something is queued or timeoutMs has passed, then pumps; true if anything ran.
  bool waitAndPump(int timeoutMs);

  // The quit message: ends waits that pump the loop. Whoever sees it re-posts it (leaves it set)
  // so the outer loop ends too; takeQuit() clears it.
  void postQuit();
  bool quitPosted() const { return quit_.load(); }
  bool takeQuit() { return quit_.exchange(false); }

  // Called (on any thread) after work is posted, so an outer event loop can wake and pump.
  void setWakeup(std::function<void()> wakeup);

  // Items posted that have not run yet: those queued and those of a running pump's batch still
  // to come. Work that must not overtake them (a status handled at once on the UI thread) is
  // posted instead while there are any.
  size_t pendingCount() const;

 private:
  MessageLoop() = default;
  void ensureUiThread() const;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  size_t batchLeft_ = 0;  // items taken by pumps (nested ones too) that have not run yet
  std::function<void()> wakeup_;
  mutable std::atomic<std::thread::id> uiThread_{};
  std::atomic<bool> quit_{false};
};

}  // namespace qv::core
