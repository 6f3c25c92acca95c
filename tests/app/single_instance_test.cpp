#include "app/forms/single_instance.h"

#include "test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::DataDir;

TEST(SingleInstance, SecondClaimFailsAndRaisesTheFirst) {
  test::App();
  DataDir dir;
  TJustOne first(dir.Path());
  ASSERT_TRUE(first.Claim());
  EXPECT_FALSE(first.PreviousInstanceRunning());
  int raised = 0;
  QObject::connect(&first, &TJustOne::raiseRequested, [&] { ++raised; });

  // The second start runs in another thread, as it would in another process, so that the first
  // can answer from its event loop.
  bool claimed = true;
  bool acknowledged = false;
  QThread* second = QThread::create([&] {
    TJustOne other(dir.Path());
    claimed = other.Claim();
    acknowledged = !claimed && other.PreviousInstanceRunning() && other.RaisePrevious(5000);
  });
  second->start();
  QElapsedTimer clock;
  clock.start();
  while (!second->isFinished() && clock.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  second->wait();
  delete second;
  EXPECT_FALSE(claimed);
  EXPECT_TRUE(acknowledged);
  EXPECT_EQ(raised, 1);
}

TEST(SingleInstance, AnotherDirectoryIsAnotherInstance) {
  test::App();
  DataDir a, b;
  TJustOne first(a.Path());
  TJustOne second(b.Path());
  EXPECT_TRUE(first.Claim());
  EXPECT_TRUE(second.Claim());
}

TEST(SingleInstance, ReleasedLockCanBeTakenAgain) {
  test::App();
  DataDir dir;
  {
    TJustOne first(dir.Path());
    ASSERT_TRUE(first.Claim());
  }
  TJustOne again(dir.Path());
  EXPECT_TRUE(again.Claim());
  // Nobody listens on a directory without a running instance.
  DataDir empty;
  TJustOne lonely(empty.Path());
  EXPECT_FALSE(lonely.RaisePrevious(200));
}

}  // namespace
}  // namespace qv::app
