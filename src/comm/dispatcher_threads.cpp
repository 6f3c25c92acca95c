#include "comm/dispatcher_threads.h"

#include "comm/dispatcher_list.h"

namespace qv::comm {

namespace {
thread_local TQvDispatcherThread* tCurrent = nullptr;
}

TQvDispatcherThread* TQvDispatcherThread::Current() { return tCurrent; }

void TQvDispatcherThread::Run() {
  tCurrent = this;
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
