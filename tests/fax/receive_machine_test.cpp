// The receive machine's state table and its file names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

// Runs in a folder of its own: the fallback names have no folder.
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
// first one received under that name.
TEST_F(FallbackNames, NeverNameAnExistingFile) {
  TQvReceiveFax receive;
  receive.NameScheme = 7;
  EXPECT_EQ(receive.NextFileName(), "noname.qvf");
  std::ofstream("noname.qvf") << "first fax";
  EXPECT_EQ(receive.NextFileName(), "noname0001.qvf");
  std::ofstream("noname0001.qvf") << "second fax";
  EXPECT_EQ(receive.NextFileName(), "noname0002.qvf");
  std::ifstream in("noname.qvf");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "first fax");
}

}  // namespace
}  // namespace qv::fax
