// The receive machine's state table and its file names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/string_table.h"
#include "fax/receive_fax.h"

namespace fs = std::filesystem;

namespace qv::fax {
namespace {

// The dispatch log shows each state under its subtype; the text it finds there must be the
// state's own name, and only the states that read the modem's lines may wait for them.
TEST(ReceiveStates, DispatchLogShowsEachStatesName) {
  for (int i = 0; i < kReceiveStateCount; ++i) {
    const RfStateInfo& info = ReceiveStateInfo(static_cast<RfState>(i));
    EXPECT_EQ(static_cast<int>(info.state), i);
    EXPECT_EQ(core::QvErrorString(15100 + info.logSubtype), info.name) << "state " << i;
  }
  EXPECT_STREQ(ReceiveStateInfo(RfState::rfGtPgDta).name, "rfGtPgDta");
  EXPECT_FALSE(ReceiveStateInfo(RfState::rfGtPgDta).waitsForLine);    // reads page data, not lines
  EXPECT_FALSE(ReceiveStateInfo(RfState::rf1CollTrn).waitsForLine);   // reads training bytes
  EXPECT_TRUE(ReceiveStateInfo(RfState::rfWaiting).waitsForLine);
  EXPECT_TRUE(ReceiveStateInfo(RfState::rf2GtPgRslt).waitsForLine);
  EXPECT_FALSE(ReceiveStateInfo(RfState::rfAnswer).waitsForLine);
}

// A receiver limited to 12000 still offers a valid rate code (V.17, as at 14400): the code with
// the V.33 bit alone is invalid, and a T.30 sender then finds no common modem.
TEST(ReceiveStates, DisAtTwelveThousandOffersV17) {
  EXPECT_EQ(BuildDisFrame(5)[4], 0x42 | 0x2C);
  EXPECT_EQ(BuildDisFrame(4)[4], 0x42 | 0x0C);
}

// Runs in a folder of its own: without a destination folder the names have none.
class FallbackNames : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("qvfax_names_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  fs::path old_, dir_;
};

// A scheme without automatic names falls back to "noname.qvf"; a second fax must not overwrite the
// first one received under that name, and every name fits the received table's 12 characters.
TEST_F(FallbackNames, NeverNameAnExistingFile) {
  TQvReceiveFax receive;
  receive.NameScheme = 7;
  EXPECT_EQ(receive.NextFileName(), "noname.qvf");
  std::ofstream("noname.qvf") << "first fax";
  EXPECT_EQ(receive.NextFileName(), "noname01.qvf");
  std::ofstream("noname01.qvf") << "second fax";
  EXPECT_EQ(receive.NextFileName(), "noname02.qvf");
  std::ifstream in("noname.qvf");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "first fax");
}

// Every counter name of the day (or of all time) taken: the fallback goes into the destination
// folder like any fax (never into the working directory), each name fits the received table's
// 12-character FAXFILE, and once the fallbacks are used up there is no name rather than an
// overwritten fax.
TEST_F(FallbackNames, AfterTheLastCounterNameTheFallbackStaysInTheFolderAndFitsTheRecord) {
  const fs::path folder = dir_ / "receive";
  fs::create_directories(folder);
  for (int n = 1; n <= 9999; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "FAX%04d.QVF", n);
    std::ofstream(folder / name);
  }
  TQvReceiveFax receive;
  receive.SetDestinationDir(folder.string());
  EXPECT_EQ(receive.NextFileName(), (folder / "NONAME.QVF").string());
  std::ofstream(folder / "NONAME.QVF") << "fax 10000";
  std::vector<std::string> names;
  for (std::string name; !(name = receive.NextFileName()).empty(); std::ofstream(name) << "fax") {
    ASSERT_EQ(fs::path(name).parent_path(), folder);
    names.push_back(fs::path(name).filename().string());
    ASSERT_LE(names.back().size(), 12u) << names.back();
    ASSERT_LT(names.size(), 1000u);
  }
  ASSERT_EQ(names.size(), 99u);
  EXPECT_EQ(names.front(), "NONAME01.QVF");
  EXPECT_EQ(names.back(), "NONAME99.QVF");
  EXPECT_FALSE(fs::exists(dir_ / "NONAME.QVF"));
  std::ifstream in(folder / "NONAME.QVF");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "fax 10000");
}

}  // namespace
}  // namespace qv::fax
