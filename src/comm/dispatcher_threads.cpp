#include "comm/dispatcher_threads.h"

#include "comm/dispatcher_list.h"

namespace qv::comm {

void TQvDispatcherThread::Run() {
  try {
    Execute();
  } catch (...) {
    ShowException(std::current_exception());
    if (Which() == kDispatcher) d_.releaseAfterDispThread_.store(d_.closePending_.load());
  }
  d_.ThreadGone(Which());
}

}  // namespace qv::comm
