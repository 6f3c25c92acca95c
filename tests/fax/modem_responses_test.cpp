#include "fax/modem_responses.h"

#include <gtest/gtest.h>

namespace qv::fax {
namespace {

TEST(ModemResponses, ClassListsPickTheRightClass) {
  TFaxClassSet all = ParseClassList("0,1,2,2.0");
  EXPECT_TRUE(all.contains(fcClass1));
  EXPECT_TRUE(all.contains(fcClass2));
  EXPECT_TRUE(all.contains(fcClass2_0));
  EXPECT_EQ(PreferredClass(all), fcClass2_0);
  EXPECT_EQ(PreferredClass(ParseClassList("0,1,2")), fcClass2);
  EXPECT_EQ(PreferredClass(ParseClassList("0,1")), fcClass1);
  EXPECT_EQ(PreferredClass(ParseClassList("0")), fcUnknown);
  EXPECT_TRUE(ParseClassList("0").empty());
  // 2.0 alone does not imply Class 2; a prefix is removed first.
  TFaxClassSet v20 = ParseClassList("+FCLASS: 0,2.0");
  EXPECT_TRUE(v20.contains(fcClass2_0));
  EXPECT_FALSE(v20.contains(fcClass2));
  EXPECT_FALSE(v20.contains(fcClass1));
}

TEST(ModemResponses, CommandTableFollowsTheClass) {
  Class2Commands c2 = BuildClass2Commands(fcClass2);
  EXPECT_EQ(c2.selectClass, "AT+FCLASS=2");
  EXPECT_EQ(c2.localId, "AT+FLID");
  EXPECT_EQ(c2.receiveCaps, "AT+FDCC");
  EXPECT_EQ(c2.pageStatus, "+FPTS");
  EXPECT_EQ(c2.hangup, "FHNG");
  Class2Commands c20 = BuildClass2Commands(fcClass2_0);
  EXPECT_EQ(c20.selectClass, "AT+FCLASS=2.0");
  EXPECT_EQ(c20.capabilities, "AT+FIS");
  EXPECT_EQ(c20.connectReport, "+FCO");
  EXPECT_EQ(c20.transmitterId, "+FTI");
  EXPECT_EQ(c20.calledId, "+FCI");
  EXPECT_EQ(c20.hangup, "FHS");
  for (const std::string* s : {&c2.selectClass, &c20.selectClass, &c20.pageStatus}) EXPECT_LE(s->size(), 13u + 4u);
}

TEST(ModemResponses, BitRateCodes) {
  EXPECT_EQ(BitRateCode(2400), '0');
  EXPECT_EQ(BitRateCode(14400), '5');
  EXPECT_EQ(BitRateCode(9600), '3');
  EXPECT_EQ(BitRateCode(1234), '3');
}

TEST(ModemResponses, LineTestsPrefixesAndCodes) {
  EXPECT_TRUE(HasCarrier("NO CARRIER"));
  EXPECT_TRUE(HasConnect("CONNECT 9600"));
  EXPECT_FALSE(HasOk("ERROR"));
  EXPECT_EQ(RemovePrefix("+FCSI: \"  12345 \" "), "\"  12345 \"");
  EXPECT_EQ(RemovePrefix("AT+FCLASS=1"), "1");
  EXPECT_EQ(RemovePrefix("plain"), "plain");
  EXPECT_EQ(HangupNumber("+FHNG:0"), 0);
  EXPECT_EQ(HangupNumber("+FHNG: 52"), 52);
  EXPECT_EQ(HangupNumber("+FHS:A0"), 0xA0);
  EXPECT_EQ(HangupNumber("+FHNG"), 0);
  EXPECT_EQ(CodeAfterColon("+FPTS:2,1000,0,0"), "2,1");
}

TEST(ModemResponses, ParameterReports) {
  Class2Params p = DecodeClass2Params("1,5,0,2,0,0,0,7");
  EXPECT_TRUE(p.fine);
  EXPECT_EQ(p.bps, 14400);
  EXPECT_FALSE(p.wide);
  EXPECT_FALSE(p.ecm);
  EXPECT_EQ(p.scanCode, 7);
  p = DecodeClass2Params("0,3,1,2,0,2,0,0");
  EXPECT_FALSE(p.fine);
  EXPECT_EQ(p.bps, 9600);
  EXPECT_TRUE(p.wide);
  EXPECT_TRUE(p.ecm);
  // Short or odd reports do not read past their end.
  p = DecodeClass2Params("1");
  EXPECT_TRUE(p.fine);
  EXPECT_EQ(p.bps, 9600);
  EXPECT_EQ(p.scanCode, 0);
  EXPECT_EQ(p.df, 0);
  // The page coding: MR, MMR; anything else reads as MH.
  EXPECT_EQ(DecodeClass2Params("1,5,0,2,1,0,0,0").df, 1);
  EXPECT_EQ(DecodeClass2Params("1,5,0,2,3,1,0,0").df, 3);
  EXPECT_EQ(DecodeClass2Params("1,5,0,2,9,1,0,0").df, 0);
}

// The capability ranges of +FCC=? / +FDCC=?, as modems write them: lists, ranges, bare values,
// hexadecimal in 2.0; a missing or garbled position lists nothing.
TEST(ModemResponses, CapabilityRanges) {
  const std::string answer = "(0,1),(0-5),(0-2),(0-2),(0,1,3),(0-2),(0),(0-7)";
  EXPECT_EQ(Class2RangeValues(answer, 5), (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(Class2RangeValues(answer, 2), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Class2RangeValues(answer, 7), (std::vector<int>{0}));
  EXPECT_EQ(Class2RangeValues("(0-7F),(0-D),0,2,(0-3)", 5), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(Class2RangeValues("(0-7F),(0-D),0,2,(0-3)", 3), (std::vector<int>{0}));
  EXPECT_EQ(Class2RangeValues("(0-7F),(0-D)", 1).size(), 64u);  // bounded however wide the range
  EXPECT_TRUE(Class2RangeValues(answer, 9).empty());
  EXPECT_TRUE(Class2RangeValues(answer, 0).empty());
  EXPECT_TRUE(Class2RangeValues("(0,1),(0-5),(0-2),(0-2),(x)", 5).empty());
  EXPECT_TRUE(Class2RangeValues("ERROR", 5).empty());
  // Values past a byte are noise, however a modem writes them (found by the fuzz target: a
  // value beyond an int came back negative).
  EXPECT_EQ(Class2RangeValues("(0,FFFFFFFF),(1)", 1), (std::vector<int>{0}));
  EXPECT_EQ(Class2RangeValues("(FE-FFFFFFFFFF)", 1), (std::vector<int>{0xFE, 0xFF}));
  EXPECT_TRUE(Class2RangeValues("((((0,1", 1).empty());  // unbalanced: no reading
}

TEST(ModemResponses, RemoteIdIsCleaned) {
  EXPECT_EQ(CleanRemoteId("+FCSI:\"  +49 30 1234\""), "+49 30 1234");
  EXPECT_EQ(CleanRemoteId("+FTI: \"ACME FAX  \"  "), "ACME FAX");
  EXPECT_EQ(CleanRemoteId("+FTSI:\"ABCDEFGHIJKLMNOPQRSTUVWXYZ\""), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(CleanRemoteId("+FCSI:\"\""), "");
}

}  // namespace
}  // namespace qv::fax
