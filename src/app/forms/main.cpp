// Quorvane: program start.

#include "app/store/data_directory.h"
#include "app/forms/dialog_service.h"
#include "app/forms/help_browser.h"
#include "app/forms/main_screen.h"
#include "app/flows/message_pump.h"
#include "app/forms/single_instance.h"
#include "core/version_option.h"

#include <QApplication>
#include <QDir>
#include <QProxyStyle>

#include <cstdio>
#include <cstring>

namespace {

// Hints appear after 1200 ms (they stay up 30000 ms, set per control).
class HintStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_ToolTip_WakeUpDelay) return 1200;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts: no display is needed to ask.
  if (qv::core::AnswerVersionOption(argc, argv, "quorvane")) return 0;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    // The program's folder is Qt's to tell, but no display is needed for it.
    QCoreApplication core(argc, argv);
    std::printf("usage: quorvane [--data-dir DIR] | quorvane --version\n"
                "  --data-dir DIR  keep the tables, faxes and settings in DIR (default: $%s, else\n"
                "                  the default data directory)\n"
                "User guide: %s\n",
                qv::app::kDataDirEnv, qv::app::HelpDirectory().toLocal8Bit().constData());
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quorvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quorvane"));
  app.setStyle(new HintStyle);
  qv::app::ConnectMessageLoop();
  qv::app::ConnectExceptionDisplay();

  const qv::app::DataDirectoryChoice choice = qv::app::ChooseDataDirectory(
      QCoreApplication::arguments(), qEnvironmentVariable(qv::app::kDataDirEnv),
      QCoreApplication::applicationDirPath(), QDir::homePath());
  if (!choice.error.isEmpty()) {
    std::fprintf(stderr, "quorvane: %s\n", choice.error.toLocal8Bit().constData());
    return 2;
  }
  const QString dataDir = choice.dir;
  qv::app::TJustOne justOne(dataDir);
  if (!justOne.Claim()) {
    // A previous instance runs over this data directory: bring it forward and end.
    return justOne.RaisePrevious() ? 0 : 1;
  }
  // Only now: with the lock held no other run over this directory can be using a working file,
  // so every one left is a crashed run's (a rendered fax copy among them).
  qv::app::RemoveStaleWorkFiles(dataDir);

  qv::app::TMainScreen mainScreen(dataDir);
  QObject::connect(&justOne, &qv::app::TJustOne::raiseRequested, &mainScreen, [&mainScreen] {
    if (mainScreen.isMinimized()) mainScreen.showNormal();
    mainScreen.show();
    mainScreen.raise();
    mainScreen.activateWindow();
  });
  mainScreen.show();
  return app.exec();
}
