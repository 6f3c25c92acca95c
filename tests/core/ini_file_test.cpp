#include "core/exceptions.h"
#include "core/file_util.h"
#include "core/ini_file.h"
#include "../small_fs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv::core;
namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv_ini_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "QRV.INI").string();
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_);
  }
  void writeRaw(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  std::string readRaw() {
    std::string bytes;
    ReadWholeFile(path_, bytes);
    return bytes;
  }
  fs::path dir_;
  std::string path_;
};

}  // namespace

TEST_F(IniFileTest, MissingFileAndKeysGiveDefaults) {
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Modem", "Init", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), -1);
  EXPECT_TRUE(ini.ReadBool("Hints", "On", true));
  EXPECT_FALSE(ini.SectionExists("Modem"));
  EXPECT_TRUE(ini.ReadSection("Modem").empty());
}

TEST_F(IniFileTest, IntegerRules) {
  writeRaw("[S]\r\nhex=0x10\r\nHEX=0XfF\r\nshort=0x\r\nneg=-12\r\nplus=+7\r\nword=abc\r\n"
           "trail=12abc\r\nbig=99999999999\r\nhexbad=0x1G\r\nfull=0xFFFFFFFF\r\nempty=\r\nspaced=  42  \r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("S", "short", 5), 5);  // "0x" alone is not a number
  EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -12);
  EXPECT_EQ(ini.ReadInteger("S", "plus", 0), 7);
  EXPECT_EQ(ini.ReadInteger("S", "word", 3), 3);
  EXPECT_EQ(ini.ReadInteger("S", "trail", 3), 3);
  EXPECT_EQ(ini.ReadInteger("S", "big", 3), 3);
  EXPECT_EQ(ini.ReadInteger("S", "hexbad", 3), 3);
  EXPECT_EQ(ini.ReadInteger("S", "full", 0), -1);
  EXPECT_EQ(ini.ReadInteger("S", "empty", 9), 9);
  EXPECT_EQ(ini.ReadInteger("S", "spaced", 0), 42);
  EXPECT_TRUE(ini.ReadBool("S", "hex", false));
  EXPECT_FALSE(ini.ReadBool("S", "word", false));  // not a number: the default
  // Names match regardless of case; "HEX" is a second key that the first one shadows.
  EXPECT_EQ(ini.ReadInteger("s", "Hex", 0), 16);
}

TEST_F(IniFileTest, StringRules) {
  std::string longValue(3000, 'x');
  writeRaw("; comment\r\n[User]\r\nName =  Jane Smith  \r\nQuoted=\"  padded  \"\r\nEq=a=b\r\nEmpty=\r\nLong=" +
           longValue + "\r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("user", "name", ""), "Jane Smith");
  EXPECT_EQ(ini.ReadString("User", "Quoted", ""), "  padded  ");
  EXPECT_EQ(ini.ReadString("User", "Eq", ""), "a=b");
  EXPECT_EQ(ini.ReadString("User", "Empty", "dflt"), "");  // present but empty is not missing
  EXPECT_EQ(ini.ReadString("User", "Long", "").size(), 1023u);
}

TEST_F(IniFileTest, WritesKeepOtherLinesAndUseCrLf) {
  writeRaw("; keep me\n[Modem]\nComPort=1\nInit=ATZ\n\n[Other]\nX=1\n");
  TIniFile ini(path_);
  ini.WriteInteger("Modem", "comport", 3);  // replaces in place, keeps the key's spelling
  ini.WriteString("Modem", "Reset", "AT&F");  // appended to the end of its section
  ini.WriteBool("Hints", "On", true);         // a new section at the end
  EXPECT_EQ(readRaw(),
            "; keep me\r\n[Modem]\r\nComPort=3\r\nInit=ATZ\r\nReset=AT&F\r\n\r\n[Other]\r\nX=1\r\n\r\n[Hints]\r\nOn=1\r\n");
  EXPECT_EQ(ini.ReadSection("modem"), (std::vector<std::string>{"ComPort", "Init", "Reset"}));
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Modem", "Other", "Hints"}));
  ini.DeleteKey("Modem", "Init");
  ini.EraseSection("Other");
  EXPECT_FALSE(ini.ValueExists("Modem", "Init"));
  EXPECT_FALSE(ini.SectionExists("Other"));
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", 0), 3);
  EXPECT_TRUE(ini.ReadBool("Hints", "On", false));
}

TEST_F(IniFileTest, MalformedFilesReadWithoutHarm) {
  writeRaw(std::string("garbage line\n[Broken\nKey=1\n=novalue\n[]\n\x01\x02\xff=\xfe\n[Good]\nK=2\n[Good]\nK=3\n", 58));
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("Broken", "Key", 0), 1);  // an unclosed header still names a section
  EXPECT_EQ(ini.ReadInteger("Good", "K", 0), 2);      // the first of duplicate sections wins
  EXPECT_EQ(ini.ReadString("Nope", "K", "d"), "d");
  ini.WriteInteger("Good", "K", 5);
  EXPECT_EQ(ini.ReadInteger("Good", "K", 0), 5);
}

TEST_F(IniFileTest, FailedWriteRaisesAndLeavesFileIntact) {
  if (geteuid() == 0) {
    // root ignores directory permissions; use a path whose parent is a regular file instead.
    std::string blocked = (dir_ / "file").string();
    writeRaw("x");
    std::ofstream(blocked) << "x";
    TIniFile ini(blocked + "/QRV.INI");
    try {
      ini.WriteInteger("Modem", "ComPort", 1);
      FAIL();
    } catch (const EIniWrite& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocked + "/QRV.INI");
    }
    return;
  }
  writeRaw("[Modem]\r\nComPort=1\r\n");
  chmod(dir_.c_str(), 0555);
  TIniFile ini(path_);
  EXPECT_THROW(ini.WriteInteger("Modem", "ComPort", 2), EIniWrite);
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", 0), 1);
}

TEST_F(IniFileTest, PythonConfigParserReadsWhatWeWrite) {
  if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
  TIniFile ini(path_);
  ini.WriteString("User", "Name", "Jane Smith");
  ini.WriteString("User", "Fax", "+1 (555) 010-2030");
  ini.WriteInteger("Modem", "ComPort", -1);
  ini.WriteBool("Hints", "On", false);
  ini.WriteString("Modem", "Init", "AT&FE0V1S0=0");
  ini.WriteString("Modem", "Init", "ATZ%1");  // rewritten in place, no duplicate key
  std::string script = "import configparser,sys\n"
                       "c=configparser.ConfigParser(interpolation=None,strict=True)\n"
                       "c.optionxform=str\n"
                       "c.read(sys.argv[1])\n"
                       "for s in c.sections():\n"
                       "  for k,v in c.items(s): print(s+'|'+k+'|'+v)\n";
  std::string scriptPath = (dir_ / "read.py").string();
  std::ofstream(scriptPath) << script;
  std::string command = "/usr/bin/python3 " + scriptPath + " " + path_;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
  ASSERT_EQ(pclose(pipe), 0) << out;
  EXPECT_EQ(out, "User|Name|Jane Smith\nUser|Fax|+1 (555) 010-2030\nModem|ComPort|-1\nModem|Init|ATZ%1\nHints|On|0\n");
}

namespace {

// Limits the size of files this process may write, so a write fails even for root (who ignores
// directory permissions). SIGXFSZ is ignored meanwhile so the write reports EFBIG instead.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

}  // namespace

TEST_F(IniFileTest, UpdateBatchWritesOnceAndReadsItsOwnChanges) {
  writeRaw("; note\r\n[Modem]\r\nComPort=1\r\n");
  const std::string before = readRaw();
  TIniFile ini(path_);
  const unsigned long writes = AtomicWritesDone();
  ini.BeginUpdate();
  EXPECT_TRUE(ini.Updating());
  for (int i = 0; i < 40; ++i) ini.WriteInteger("Sec" + std::to_string(i % 4), "K" + std::to_string(i), i);
  ini.WriteInteger("modem", "comport", 7);
  ini.DeleteKey("Sec0", "K4");
  // Reads inside the batch see its changes; the file does not until the commit.
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", 0), 7);
  EXPECT_EQ(ini.ReadInteger("Sec3", "K39", 0), 39);
  EXPECT_FALSE(ini.ValueExists("Sec0", "K4"));
  EXPECT_EQ(readRaw(), before);
  EXPECT_EQ(AtomicWritesDone(), writes);
  ini.CommitUpdate();
  EXPECT_FALSE(ini.Updating());
  EXPECT_EQ(AtomicWritesDone(), writes + 1);

  // The committed file is what the same writes one by one would have made.
  std::string batched = readRaw();
  writeRaw(before);
  TIniFile single(path_);
  for (int i = 0; i < 40; ++i) single.WriteInteger("Sec" + std::to_string(i % 4), "K" + std::to_string(i), i);
  single.WriteInteger("modem", "comport", 7);
  single.DeleteKey("Sec0", "K4");
  EXPECT_EQ(readRaw(), batched);
  EXPECT_NE(batched.find("ComPort=7\r\n"), std::string::npos);

  // A batch without changes, or a discarded one, writes nothing.
  const unsigned long after = AtomicWritesDone();
  ini.BeginUpdate();
  ini.CommitUpdate();
  ini.BeginUpdate();
  ini.WriteString("X", "Y", "Z");
  ini.DiscardUpdate();
  EXPECT_EQ(AtomicWritesDone(), after);
  EXPECT_FALSE(ini.ValueExists("X", "Y"));
}

TEST_F(IniFileTest, FailedBatchCommitRaisesAndKeepsTheOldFile) {
  writeRaw("[Modem]\r\nComPort=1\r\n");
  const std::string before = readRaw();
  TIniFile ini(path_);
  ini.BeginUpdate();
  for (int i = 0; i < 20; ++i) ini.WriteString("Big", "Key" + std::to_string(i), std::string(50, 'v'));
  {
    FileSizeLimit limit(before.size());  // the old contents fit, the new ones do not
    try {
      ini.CommitUpdate();
      FAIL() << "commit over the size limit succeeded";
    } catch (const EIniWrite& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_);
    }
  }
  EXPECT_FALSE(ini.Updating());
  EXPECT_EQ(readRaw(), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);  // no leftovers
}

// A really full disk, not a size limit: the kernel refuses the new file's blocks.
TEST(IniFileFullDisk, SaveOnAFullDiskRaisesAndKeepsTheOldFile) {
  SmallFs disk(64 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  const std::string path = disk / "QRV.INI";
  std::ofstream(path, std::ios::binary) << "[Modem]\r\nComPort=1\r\n";
  const std::string before = [&] {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  disk.Fill("filler");
  TIniFile ini(path);
  ini.BeginUpdate();
  for (int i = 0; i < 200; ++i) ini.WriteString("Big", "Key" + std::to_string(i), std::string(60, 'v'));
  try {
    ini.CommitUpdate();
    FAIL() << "a save on a full disk succeeded";
  } catch (const EIniWrite& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
  int files = 0;
  for (auto& entry : fs::directory_iterator(fs::path(path).parent_path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 2);  // QRV.INI and the filler: no half-written temporary left
}
