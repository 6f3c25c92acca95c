#include "fax/header_line.h"

#include <gtest/gtest.h>

namespace qv::fax {
namespace {

TEST(HeaderLine, TagsAreReplacedUpToTheNextSpace) {
  HeaderValues v{"ACME", "Bob", "Offer", "+1 555", 4, 1};
  EXPECT_EQ(ExpandHeaderTags("Page $P of $N", v), "Page 1 of 4");
  // the tag runs to the next space, so the colon belongs to it
  EXPECT_EQ(ExpandHeaderTags("From $f to $R: $s id $I", v), "From ACME to Bob Offer id +1 555");
  EXPECT_EQ(ExpandHeaderTags("$X unknown", v), " unknown");
  EXPECT_EQ(ExpandHeaderTags("trailing $", v), "trailing ");
  EXPECT_EQ(ExpandHeaderTags("no tags", v), "no tags");
  EXPECT_FALSE(ExpandHeaderTags("$D", v).empty());
  EXPECT_FALSE(ExpandHeaderTags("$T", v).empty());
}

TEST(HeaderLine, EndOfPageIsSevenEols) {
  auto eop = EndOfPageCodes();
  ASSERT_EQ(eop.size(), 12u);
  EXPECT_EQ(eop[0], 0x00);
  EXPECT_EQ(eop[1], 0x80);
}

}  // namespace
}  // namespace qv::fax
