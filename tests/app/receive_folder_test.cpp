#include "app/receive_folder.h"

#include "app/data_directory.h"
#include "test_support.h"

#include <QDir>
#include <QFile>

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
