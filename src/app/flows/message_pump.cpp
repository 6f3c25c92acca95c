#include "app/flows/message_pump.h"

#include "core/message_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QString>

namespace qv::app {

void PumpMessages() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  core::MessageLoop::instance().pumpPending();
}

void ConnectMessageLoop() {
  core::MessageLoop& loop = core::MessageLoop::instance();
  loop.bindToCurrentThread();
  loop.setWakeup([] {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(app, [] { core::MessageLoop::instance().pumpPending(); },
                                Qt::QueuedConnection);
    }
  });
}

}  // namespace qv::app
