#pragma once
// What a flow (sending a fax, receive mode) tells the one who started it and what it asks. The
// flows have no widgets: a window implements this to show and ask; a caller without one (a print
// job, the outbox) answers for itself. Every call comes on the UI thread; the defaults show and
// ask nothing (and never go on without a modem).

#include <QString>

namespace qv::app {

class TFlowObserver {
 public:
  virtual ~TFlowObserver() = default;
  // A long step begins or ends (the hourglass).
  virtual void FlowBusy(bool /*busy*/) {}
  // A progress text; empty clears it.
  virtual void FlowStatus(const QString& /*text*/) {}
  // A plain notice for the user.
  virtual void FlowInformation(const QString& /*text*/) {}
  // The error dialog of sending and receiving; `stays`: it does not close by itself.
  virtual void FlowError(const QString& /*title*/, const QString& /*text*/, bool /*stays*/) {}
  // The same dialog with a Continue button: true when the user chose to go on.
  virtual bool FlowAskContinue(const QString& /*title*/, const QString& /*text*/) { return false; }
};

}  // namespace qv::app
