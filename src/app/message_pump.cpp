#include "app/message_pump.h"

#include "app/dialog_service.h"
#include "comm/dispatcher_list.h"
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

void ConnectExceptionDisplay() {
  comm::SetExceptionDisplay([](const std::string& message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    const QString text = QString::fromStdString(message);
    QMetaObject::invokeMethod(app, [text] { Dialogs().Error(nullptr, text); }, Qt::QueuedConnection);
  });
}

}  // namespace qv::app
