#include "app/store/receive_folder.h"

#include "app/store/data_directory.h"
#include "app/forms/single_instance.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace qv::app {
namespace {

using test::DataDir;

void Touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

TEST(ReceiveFolder, NamesMatchWithoutRegardToCase) {
  DataDir dir;
  QDir(dir.Path()).mkdir(QStringLiteral("RECEIVE"));
  Touch(dir.File(QStringLiteral("RECEIVE/Fax0001.QVF")));
  EXPECT_EQ(ReceiveFilePath(dir.Path(), QStringLiteral("FAX0001.qvf")),
            dir.File(QStringLiteral("RECEIVE/Fax0001.QVF")));
  // Unknown names still get their place in the folder.
  EXPECT_EQ(ReceiveFilePath(dir.Path(), QStringLiteral("NEW.QVF")),
            dir.File(QStringLiteral("RECEIVE/NEW.QVF")));
}

TEST(ReceiveFolder, OneFolderObjectServesABatchOfLookups) {
  DataDir dir;
  QDir(dir.Path()).mkdir(QStringLiteral("Receive"));
  for (const char* name : {"a1.qvf", "B2.QVF", "Mixed.Qvf"}) Touch(dir.File(QStringLiteral("Receive/") + QLatin1String(name)));
  ReceiveFolder folder(dir.Path());
  // A missing name first (it makes the listing), then variants of every file, then more missing.
  EXPECT_EQ(folder.FilePath(QStringLiteral("GONE.QVF")), dir.File(QStringLiteral("Receive/GONE.QVF")));
  EXPECT_EQ(folder.FilePath(QStringLiteral("A1.QVF")), dir.File(QStringLiteral("Receive/a1.qvf")));
  EXPECT_EQ(folder.FilePath(QStringLiteral("b2.qvf ")), dir.File(QStringLiteral("Receive/B2.QVF")));
  EXPECT_EQ(folder.FilePath(QStringLiteral("mIXED.qVF")), dir.File(QStringLiteral("Receive/Mixed.Qvf")));
  EXPECT_EQ(folder.FilePath(QStringLiteral("a1.qvf")), dir.File(QStringLiteral("Receive/a1.qvf")));
  EXPECT_EQ(folder.FilePath(QStringLiteral("other.qvf")), dir.File(QStringLiteral("Receive/other.qvf")));
  EXPECT_TRUE(folder.FilePath(QStringLiteral("../a1.qvf")).isEmpty());
}

TEST(ReceiveFolder, NamesThatLeaveTheFolderAreRefused) {
  DataDir dir;
  QDir(dir.Path()).mkdir(QStringLiteral("receive"));
  for (const char* bad : {"", "  ", ".", "..", "../QRV.DBF", "..\\QRV.DBF", "/etc/passwd", "a/b"}) {
    EXPECT_TRUE(ReceiveFilePath(dir.Path(), QString::fromLatin1(bad)).isEmpty()) << bad;
  }
  // Stored names carry the field's trailing blanks.
  EXPECT_EQ(ReceiveFilePath(dir.Path(), QStringLiteral("F1.QVF      ")),
            dir.File(QStringLiteral("receive/F1.QVF")));
}

TEST(DataDirectory, ProgramDirectoryWhenWritableElseHome) {
  DataDir program, home;
  EXPECT_EQ(ResolveDataDirectory(program.Path(), home.Path()),
            WithTrailingSlash(QDir::cleanPath(program.Path())));
  if (::geteuid() != 0) {  // root may write anywhere
    ASSERT_EQ(::chmod(program.StdPath().c_str(), 0555), 0);
    EXPECT_EQ(ResolveDataDirectory(program.Path(), home.Path()),
              home.Path() + QStringLiteral(".local/share/Quorvane/"));
    EXPECT_TRUE(QDir(home.Path() + QStringLiteral(".local/share/Quorvane")).exists());
    ::chmod(program.StdPath().c_str(), 0755);
  }
  EXPECT_EQ(ResolveDataDirectory(QStringLiteral("/no/such/dir"), home.Path()),
            home.Path() + QStringLiteral(".local/share/Quorvane/"));
  EXPECT_EQ(WithTrailingSlash(QStringLiteral("/a")), QStringLiteral("/a/"));
  EXPECT_EQ(WithTrailingSlash(QStringLiteral("/a/")), QStringLiteral("/a/"));
}

// An installed program (<prefix>/bin beside <prefix>/share/quorvane) keeps its data in the home
// folder even where its bin/ is writable (root running /usr/bin/quorvane): tables and settings
// written into /usr/bin would be left behind by the package's removal and shared by every user.
TEST(DataDirectory, AnInstalledProgramNeverKeepsDataBesideItself) {
  DataDir prefix, home;
  ASSERT_TRUE(QDir().mkpath(prefix.File(QStringLiteral("bin"))));
  const QString bin = prefix.File(QStringLiteral("bin"));
  EXPECT_EQ(InstalledShareDirectory(bin), QString());
  EXPECT_EQ(ResolveDataDirectory(bin, home.Path()), WithTrailingSlash(bin));  // a build tree's bin/
  ASSERT_TRUE(QDir().mkpath(prefix.File(QStringLiteral("share/quorvane/help"))));
  EXPECT_EQ(InstalledShareDirectory(bin), QDir::cleanPath(prefix.File(QStringLiteral("share/quorvane"))));
  EXPECT_EQ(ResolveDataDirectory(bin, home.Path()), home.Path() + QStringLiteral(".local/share/Quorvane/"));
  EXPECT_TRUE(QDir(bin).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

}  // namespace
}  // namespace qv::app

namespace qv::app {
namespace {
TEST(DataDirectory, CommandLineBeatsEnvironmentBeatsTheDefault) {
  test::DataDir program, home, fromArgs, fromEnv;
  const QString args = fromArgs.Path() + QStringLiteral("sub/dir");  // created when missing
  const QString env = fromEnv.Path();
  const QString prog = QStringLiteral("quorvane");
  auto choose = [&](const QStringList& a, const QString& e) {
    return ChooseDataDirectory(a, e, program.Path(), home.Path());
  };
  DataDirectoryChoice c = choose({prog, QStringLiteral("--data-dir"), args}, env);
  EXPECT_EQ(c.error, QString());
  EXPECT_EQ(c.dir, QDir::cleanPath(args) + QLatin1Char('/'));
  EXPECT_TRUE(QDir(args).exists());
  EXPECT_EQ(choose({prog, QStringLiteral("--data-dir=") + args}, env).dir, QDir::cleanPath(args) + QLatin1Char('/'));
  EXPECT_EQ(choose({prog}, env).dir, WithTrailingSlash(QDir::cleanPath(env)));
  EXPECT_EQ(choose({prog}, QString()).dir, WithTrailingSlash(QDir::cleanPath(program.Path())));
  // The program's own name is not taken for the option.
  EXPECT_EQ(choose({QStringLiteral("--data-dir")}, QString()).dir, WithTrailingSlash(QDir::cleanPath(program.Path())));
}

TEST(DataDirectory, AnUnusableExplicitDirectoryIsAnErrorNotAFallback) {
  test::DataDir program, home, scratch;
  QFile plain(scratch.File(QStringLiteral("plain")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const QString prog = QStringLiteral("quorvane");
  const QString below = scratch.File(QStringLiteral("plain/data"));
  DataDirectoryChoice c = ChooseDataDirectory({prog, QStringLiteral("--data-dir"), below}, QString(), program.Path(), home.Path());
  EXPECT_TRUE(c.dir.isEmpty());
  EXPECT_TRUE(c.error.contains(below)) << c.error.toStdString();
  EXPECT_TRUE(c.error.contains(QStringLiteral("--data-dir")));
  c = ChooseDataDirectory({prog}, below, program.Path(), home.Path());
  EXPECT_TRUE(c.dir.isEmpty());
  EXPECT_TRUE(c.error.contains(QString::fromLatin1(kDataDirEnv)));
  // A regular file is not a directory either.
  EXPECT_FALSE(ChooseDataDirectory({prog, QStringLiteral("--data-dir"), plain.fileName()}, QString(), program.Path(), home.Path()).error.isEmpty());
  for (const QStringList& bad : {QStringList{prog, QStringLiteral("--data-dir")}, QStringList{prog, QStringLiteral("--data-dir=")}}) {
    c = ChooseDataDirectory(bad, scratch.Path(), program.Path(), home.Path());
    EXPECT_TRUE(c.dir.isEmpty());
    EXPECT_FALSE(c.error.isEmpty());
  }
}
}  // namespace
}  // namespace qv::app

namespace qv::app {
namespace {

const QStringList kOurWorkFiles = {
    QStringLiteral("QRV_1.QVF"),   QStringLiteral("QRV_17.QVF"), QStringLiteral("QRV_1000.QVF"),
    QStringLiteral("QRV1.QVF"),    QStringLiteral("QRVAX2.QVF"), QStringLiteral("QRVAX14.QVF"),
    QStringLiteral("_TMP.BMP"),    QStringLiteral("Eraseme.rtf")};
// Near misses: another case, another number form, another extension, other files of ours.
const QStringList kNotWorkFiles = {
    QStringLiteral("qrv_1.qvf"),   QStringLiteral("QRV_0.QVF"),   QStringLiteral("QRV_01.QVF"),
    QStringLiteral("QRV_1001.QVF"), QStringLiteral("QRV_X.QVF"),  QStringLiteral("QRV_1.QVF.bak"),
    QStringLiteral("QRVAX1.QVF"),  QStringLiteral("QRVAX02.QVF"), QStringLiteral("QRV_2.qvf"),
    QStringLiteral("QRV.DBF"),     QStringLiteral("QRV.INI"),     QStringLiteral("Lastrec.log"),
    QStringLiteral("MY_QRV_1.QVF")};

void MakeFiles(const QString& dir, const QStringList& names) {
  for (const QString& name : names) {
    QFile f(dir + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
    f.write("x");
  }
}

QStringList Existing(const QString& dir, const QStringList& names) {
  QStringList out;
  for (const QString& name : names)
    if (QFileInfo::exists(dir + name)) out << name;
  return out;
}

TEST(StaleWorkFiles, OnlyOurWorkingFilesInTheDataDirectoryItselfGo) {
  DataDir dir;
  MakeFiles(dir.Path(), kOurWorkFiles);
  MakeFiles(dir.Path(), kNotWorkFiles);
  // The same names below the data directory, and a folder with a working file's name, stay.
  ASSERT_TRUE(QDir(dir.Path()).mkpath(QStringLiteral("receive")));
  MakeFiles(dir.File(QStringLiteral("receive/")), kOurWorkFiles);
  ASSERT_TRUE(QDir(dir.Path()).mkdir(QStringLiteral("QRV_5.QVF")));
  // A link with a working file's name is not a file we wrote: it stays, and so does its target.
  ASSERT_TRUE(QFile::link(dir.File(QStringLiteral("QRV.INI")), dir.File(QStringLiteral("QRV_6.QVF"))));

  QStringList removed = RemoveStaleWorkFiles(dir.Path());
  removed.sort();
  QStringList expected = kOurWorkFiles;
  expected.sort();
  EXPECT_EQ(removed, expected);
  EXPECT_TRUE(Existing(dir.Path(), kOurWorkFiles).isEmpty());
  EXPECT_EQ(Existing(dir.Path(), kNotWorkFiles), kNotWorkFiles);
  EXPECT_EQ(Existing(dir.File(QStringLiteral("receive/")), kOurWorkFiles), kOurWorkFiles);
  EXPECT_TRUE(QFileInfo(dir.File(QStringLiteral("QRV_5.QVF"))).isDir());
  EXPECT_TRUE(QFileInfo(dir.File(QStringLiteral("QRV_6.QVF"))).isSymLink());
  EXPECT_TRUE(RemoveStaleWorkFiles(dir.Path()).isEmpty());
}

// The real program over a data directory: a start clears what a crashed run left, but a start
// that finds another instance running leaves that instance's copies alone.
TEST(StaleWorkFiles, AStartClearsACrashedRunsCopiesButNeverARunningInstancesOnes) {
  test::App();
  DataDir dir;
  QFile ini(dir.File(QStringLiteral("QRV.INI")));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Modem]\r\nComPort=0\r\n");
  ini.close();
  MakeFiles(dir.Path(), kOurWorkFiles);
  MakeFiles(dir.Path(), kNotWorkFiles);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  const QStringList args = {QStringLiteral("--data-dir"), dir.Path()};
  auto start = [&](QProcess& p) {
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QV_BIN_DIR "/quorvane"), args);
    return p.waitForStarted(5000);
  };

  QProcess first;
  ASSERT_TRUE(start(first));
  // The lock is the program's before it clears anything: wait for its local server, then for the files.
  const QString server = TJustOne(dir.Path()).ServerName();
  QElapsedTimer clock;
  clock.start();
  bool listening = false;
  while (!listening && clock.elapsed() < 20000 && first.state() == QProcess::Running) {
    QLocalSocket probe;
    probe.connectToServer(server);
    listening = probe.waitForConnected(100);
    if (!listening) QThread::msleep(50);
  }
  ASSERT_TRUE(listening) << first.readAllStandardError().toStdString();
  while (!Existing(dir.Path(), kOurWorkFiles).isEmpty() && clock.elapsed() < 20000) QThread::msleep(20);
  EXPECT_TRUE(Existing(dir.Path(), kOurWorkFiles).isEmpty()) << Existing(dir.Path(), kOurWorkFiles).join(u' ').toStdString();
  EXPECT_EQ(Existing(dir.Path(), kNotWorkFiles), kNotWorkFiles);

  // The running instance renders a fax; a second start raises it and ends without touching it.
  MakeFiles(dir.Path(), {QStringLiteral("QRV_1.QVF"), QStringLiteral("QRVAX3.QVF")});
  QProcess second;
  ASSERT_TRUE(start(second));
  ASSERT_TRUE(second.waitForFinished(15000));
  EXPECT_EQ(second.exitCode(), 0);
  const QStringList rendering = {QStringLiteral("QRV_1.QVF"), QStringLiteral("QRVAX3.QVF")};
  EXPECT_EQ(Existing(dir.Path(), rendering), rendering);
  EXPECT_EQ(first.state(), QProcess::Running);
  first.kill();
  first.waitForFinished(5000);
}

}  // namespace
}  // namespace qv::app
