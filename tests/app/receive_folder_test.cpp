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
