#pragma once

#include <exception>
#include <functional>
#include <mutex>

namespace qv::comm {

class TQvBaseDispatcher;

// The process-wide list of dispatchers. A dispatcher takes the first empty slot and keeps its
// number as its registry index, which travels in the high word of every trigger message.
int AddDispatcher(TQvBaseDispatcher* dispatcher);
void RemoveDispatcher(int index);
// The list's lock: hold it while using what FindDispatcher returned.
std::recursive_mutex& DispatcherListLock();
TQvBaseDispatcher* FindDispatcher(int index);
int DispatcherCount();  // occupied slots

// The process-wide polling switch: when on, the dispatcher threads read the device every 50 ms
// instead of relying on character-received events (modems that fail to raise them).
void SetPollingMode(bool on);
bool PollingMode();

// The application's standard exception display, used for exceptions from event handlers and
// worker threads. Without a hook the message goes to standard error.
void SetExceptionDisplay(std::function<void(const std::string& message)> display);
void ShowException(std::exception_ptr e);

}  // namespace qv::comm
