// The qvmodem program itself and its options.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "qvmodem/modem_set.h"
#include "../child_process.h"
#include "test_dte.h"

using namespace qv::modem;
using qv::modem::test::TestDte;

namespace {
// qvmodem with its output and errors on a pipe the test reads line by line.
struct Child {
  qv::test::ChildProcess process;
  explicit Child(const std::vector<std::string>& args) {
    std::vector<std::string> all = {std::string(QV_BIN_DIR) + "/qvmodem"};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_TRUE(process.StartWithPipe(all, true));
  }
  std::string line() { return process.ReadLine(); }
  // Its exit status; -1 when it had to be killed after 30 s or ended by a signal.
  int wait() {
    if (process.WaitEnd(30000)) return process.ExitStatus();
    process.Stop(0, SIGKILL);
    return -1;
  }
};

std::string tempDir() {
  char tmpl[] = "/tmp/qvmodem-cli-XXXXXX";
  return mkdtemp(tmpl);
}
}  // namespace

TEST(CommandLine, SingleModemPrintsAndLinksItsDevice) {
  const std::string dir = tempDir();
  const std::string link = dir + "/modem";
  Child child({"single", "--link", link, "--classes", "0,1,2"});
  const std::string first = child.line();
  ASSERT_EQ(first.substr(0, 2), "A ");
  const std::string path = first.substr(2, first.find(' ', 2) - 2);
  EXPECT_EQ(first, "A " + path + " " + link + "\n");
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);
  {
    TestDte dte(link);
    EXPECT_EQ(dte.command("AT"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(dte.command("AT&F"), "AT&F\r\r\nOK\r\n");
    EXPECT_EQ(dte.command("AT+FCLASS=?"), "AT+FCLASS=?\r\r\n0,1,2\r\n\r\nOK\r\n");
  }
  child.process.Signal(SIGTERM);
  EXPECT_EQ(child.wait(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));  // cleaned up
  std::filesystem::remove_all(dir);
}

TEST(CommandLine, RefusesToReplaceARealFileAndBadOptions) {
  const std::string dir = tempDir();
  const std::string file = dir + "/precious";
  FILE* f = fopen(file.c_str(), "w");
  fputs("keep me", f);
  fclose(f);
  {
    Child child({"single", "--link", file});
    EXPECT_NE(child.line().find("not a symlink"), std::string::npos);
    EXPECT_EQ(child.wait(), 1);
  }
  EXPECT_EQ(std::filesystem::file_size(file), 7u);
  {
    Child child({"pair", "--a", dir + "/a"});
    EXPECT_NE(child.line().find("pair needs --a PATH and --b PATH"), std::string::npos);
    EXPECT_EQ(child.wait(), 2);
  }
  {
    Child child({"pair", "--a", dir + "/a", "--b", dir + "/b", "--line-max-rate", "9000"});
    EXPECT_NE(child.line().find("bad bit rate 9000"), std::string::npos);
    EXPECT_EQ(child.wait(), 2);
  }
  std::filesystem::remove_all(dir);
}

TEST(CommandLine, OptionsReachTheRightSide) {
  ModemSetOptions o;
  EXPECT_EQ(parseModemSetOptions({"pair", "--a", "/x/a", "--b", "/x/b", "--fast", "--b-classes", "1", "--a-max-rate", "9600",
                                  "--refuse", "&F", "--b-rtn-page", "2", "--dial-result", "no-dialtone", "--drop-page", "3",
                                  "--drop-after", "10", "--corrupt-page", "0", "--line-max-rate", "4800", "--a-silent",
                                  "--b-ignore-at", "--a-ignore-atf", "--class2-lsb-first", "--b-no-xon"},
                                 o),
            "");
  EXPECT_TRUE(o.pair);
  EXPECT_EQ(o.linkA, "/x/a");
  EXPECT_EQ(o.linkB, "/x/b");
  EXPECT_TRUE(o.a.fast && o.b.fast);
  EXPECT_EQ(o.a.classes, "0,1,2,2.0");
  EXPECT_EQ(o.b.classes, "1");
  EXPECT_EQ(o.a.maxRate, 9600);
  EXPECT_EQ(o.b.maxRate, 14400);
  EXPECT_EQ(o.a.refuse, std::vector<std::string>{"&F"});
  EXPECT_EQ(o.b.refuse, std::vector<std::string>{"&F"});
  EXPECT_EQ(o.b.rtnPage, 2);
  EXPECT_EQ(o.a.rtnPage, 0);
  EXPECT_EQ(o.dialOutcome, DialOutcome::NoDialtone);
  EXPECT_EQ(o.faults.dropInPage, 3);
  EXPECT_EQ(o.faults.dropAfterBytes, 10);
  EXPECT_EQ(o.faults.corruptPage, 0);
  EXPECT_EQ(o.faults.maxRate, 4800);
  EXPECT_TRUE(o.a.silent && !o.b.silent);
  EXPECT_TRUE(o.b.ignoreAt && !o.a.ignoreAt);
  EXPECT_TRUE(o.a.ignoreAtF && !o.b.ignoreAtF);
  EXPECT_FALSE(o.a.class2ReceiveReversed || o.b.class2ReceiveReversed);
  EXPECT_TRUE(o.a.class2SendXon && !o.b.class2SendXon);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {},
           {"triple"},
           {"single", "--b", "/x"},
           {"single", "--classes", "1,3"},
           {"single", "--max-rate", "fast"},
           {"single", "--rtn-page", "0"},
           {"single", "--dial-result", "maybe"},
           {"single", "--link"},
           {"single", "--bogus"},
       }) {
    ModemSetOptions x;
    EXPECT_NE(parseModemSetOptions(bad, x), "") << (bad.empty() ? "" : bad[0]);
  }
}
