// Starts the real program twice over one data directory.

#include "app/forms/single_instance.h"
#include "../test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

TEST(SecondInstance, SecondStartRaisesTheFirstAndEnds) {
  test::App();
  test::DataDir dir;
  // The data directory is the program's own: run a copy of the program from the temporary one.
  const QString program = dir.File(QStringLiteral("quorvane"));
  ASSERT_TRUE(QFile::copy(QStringLiteral(QV_BIN_DIR "/quorvane"), program));
  QFile ini(dir.File(QStringLiteral("QRV.INI")));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Modem]\r\nComPort=0\r\n");
  ini.close();

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  QProcess first;
  first.setProcessEnvironment(env);
  first.start(program, {});
  ASSERT_TRUE(first.waitForStarted(5000));

  // Wait until the first instance listens.
  const QString server = TJustOne(dir.Path()).ServerName();
  QElapsedTimer clock;
  clock.start();
  bool listening = false;
  while (!listening && clock.elapsed() < 15000 && first.state() == QProcess::Running) {
    QLocalSocket probe;
    probe.connectToServer(server);
    listening = probe.waitForConnected(100);
    if (!listening) QThread::msleep(50);
  }
  ASSERT_TRUE(listening) << first.readAllStandardError().toStdString();

  QProcess second;
  second.setProcessEnvironment(env);
  second.start(program, {});
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);  // the first instance acknowledged the raise
  EXPECT_EQ(first.state(), QProcess::Running);

  first.kill();
  first.waitForFinished(5000);
  // A lock left by a program that died is taken over by the next start.
  TJustOne next(dir.Path());
  EXPECT_TRUE(next.Claim());
}

}  // namespace
}  // namespace qv::app
