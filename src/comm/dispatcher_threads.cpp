#include "comm/dispatcher_threads.h"

#include <pthread.h>

#include "comm/dispatcher_list.h"

namespace qv::comm {

namespace {
thread_local TQvDispatcherThread* tCurrent = nullptr;
}

TQvDispatcherThread* TQvDispatcherThread::Current() { return tCurrent; }

void TQvDispatcherThread::Run() {
  tCurrent = this;
  // Named so a profile or a debugger tells the port's threads apart.
  static constexpr const char* kNames[] = {"qv-port-reader", "qv-port-disp", "qv-port-writer"};
  pthread_setname_np(pthread_self(), kNames[Which()]);
  try {
    Execute();
  } catch (...) {
    ShowException(std::current_exception());
    if (Which() == kDispatcher) d_.releaseAfterDispThread_.store(d_.closePending_.load());
  }
  d_.ThreadGone(Which());
  tCurrent = nullptr;
}

}  // namespace qv::comm
