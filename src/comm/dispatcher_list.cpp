#include "comm/dispatcher_list.h"

#include "comm/dispatcher.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::comm {
namespace {

struct DispatcherList {
  std::recursive_mutex lock;
  std::vector<TQvBaseDispatcher*> slots;
};

DispatcherList& list() {
  static DispatcherList instance;
  return instance;
}

std::atomic<bool> gPolling{false};

std::mutex gDisplayLock;
std::function<void(const std::string&)>& display() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

}  // namespace

int AddDispatcher(TQvBaseDispatcher* dispatcher) {
  auto& l = list();
  std::lock_guard guard(l.lock);
  for (size_t i = 0; i < l.slots.size(); ++i) {
    if (!l.slots[i]) {
      l.slots[i] = dispatcher;
      return static_cast<int>(i);
    }
  }
  l.slots.push_back(dispatcher);
  return static_cast<int>(l.slots.size() - 1);
}

void RemoveDispatcher(int index) {
  auto& l = list();
  std::lock_guard guard(l.lock);
  if (index < 0 || index >= static_cast<int>(l.slots.size())) return;
  l.slots[index] = nullptr;
  while (!l.slots.empty() && !l.slots.back()) l.slots.pop_back();
}

std::recursive_mutex& DispatcherListLock() { return list().lock; }

TQvBaseDispatcher* FindDispatcher(int index) {
  auto& l = list();
  std::lock_guard guard(l.lock);
  if (index < 0 || index >= static_cast<int>(l.slots.size())) return nullptr;
  return l.slots[index];
}

int DispatcherCount() {
  auto& l = list();
  std::lock_guard guard(l.lock);
  int n = 0;
  for (auto* d : l.slots) n += d != nullptr;
  return n;
}

void SetPollingMode(bool on) {
  gPolling.store(on);
  // Dispatchers sleeping past the polling interval start polling now.
  auto& l = list();
  std::lock_guard guard(l.lock);
  for (auto* d : l.slots)
    if (d) d->RecheckWait();
}
bool PollingMode() { return gPolling.load(); }

void SetExceptionDisplay(std::function<void(const std::string&)> hook) {
  std::lock_guard guard(gDisplayLock);
  display() = std::move(hook);
}

void ShowException(std::exception_ptr e) {
  std::string message = "Unknown exception";
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    message = ex.what();
  } catch (...) {
  }
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard guard(gDisplayLock);
    hook = display();
  }
  if (hook) {
    hook(message);
  } else {
    std::fprintf(stderr, "Quorvane: %s\n", message.c_str());
  }
}

}  // namespace qv::comm
