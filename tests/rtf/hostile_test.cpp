// Damaged and hostile memos: each gives a clear error and leaves the caller's document as it was.
#include <gtest/gtest.h>

#include "core/error_codes.h"
#include "rtf/rtf_reader.h"

using namespace qv::rtf;

namespace {

Document Sentinel() {
  Document doc;
  doc.page.paperWidth = 4242;
  Paragraph p;
  Run r;
  r.text = "stored memo";
  p.runs.push_back(r);
  doc.paragraphs.push_back(p);
  return doc;
}

// Reads `rtf` into a filled document and expects failure with `code`, the document untouched.
void ExpectRejected(std::string_view rtf, int code, std::string_view messagePart) {
  Document doc = Sentinel();
  const ReadResult r = ReadRtf(rtf, doc);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.code, code) << r.message;
  EXPECT_NE(r.message.find(messagePart), std::string::npos) << r.message;
  EXPECT_EQ(doc, Sentinel());
}

std::string PictureOf(size_t hexDigits) {
  std::string rtf = "{\\rtf1 before{\\pict\\pngblip\\picw1\\pich1 ";
  rtf.append(hexDigits, 'a');
  rtf += "}after}";
  return rtf;
}

}  // namespace

TEST(RtfHostile, UnbalancedBraces) {
  ExpectRejected("{\\rtf1 text", qv::core::ecDataError, "unbalanced");
  ExpectRejected("{\\rtf1 {\\b text}", qv::core::ecDataError, "unbalanced");
  ExpectRejected("{\\rtf1 text}}", qv::core::ecDataError, "unbalanced");
  ExpectRejected("{\\rtf1 text}{\\b more}", qv::core::ecDataError, "unbalanced");
  ExpectRejected("{\\rtf1 {\\*\\skipped {nested}", qv::core::ecDataError, "unbalanced");
  ExpectRejected("{\\rtf1 text\\", qv::core::ecDataError, "unbalanced");
}

TEST(RtfHostile, NotRtfAtAll) {
  ExpectRejected("Dear Sir,\nplain text", qv::core::ecDataError, "not rich text");
  ExpectRejected("{\\rtx1 almost}", qv::core::ecDataError, "not rich text");
  ExpectRejected(std::string("\x89PNG\r\n\x1a\n", 8), qv::core::ecDataError, "not rich text");
}

TEST(RtfHostile, DeepNestingIsRejectedWithoutRecursion) {
  for (int depth : {kMaxGroupDepth + 1, 100'000}) {
    std::string rtf = "{\\rtf1 ";
    rtf.append(static_cast<size_t>(depth), '{');
    rtf += "deep";
    rtf.append(static_cast<size_t>(depth), '}');
    rtf += '}';
    ExpectRejected(rtf, qv::core::ecDataError, "deeper than");
  }
  // Exactly at the limit is fine.
  std::string rtf = "{\\rtf1 ";
  rtf.append(kMaxGroupDepth - 1, '{');
  rtf += "deep";
  rtf.append(kMaxGroupDepth - 1, '}');
  rtf += '}';
  Document doc;
  ASSERT_TRUE(ReadRtf(rtf, doc));
  EXPECT_EQ(doc.PlainText(), "deep");
}

TEST(RtfHostile, PicturesOverTheLimit) {
  constexpr size_t kFiftyMegabytes = 50u * 1024 * 1024;
  ExpectRejected(PictureOf(2 * kFiftyMegabytes), qv::core::ecBufferTooBig, "picture larger than");
  ExpectRejected(PictureOf(2 * kMaxPictureBytes + 2), qv::core::ecBufferTooBig, "picture larger than");
  std::string binary = "{\\rtf1 {\\pict\\jpegblip\\bin" + std::to_string(kFiftyMegabytes) + " ";
  binary.append(kFiftyMegabytes, '\xFF');
  binary += "}}";
  ExpectRejected(binary, qv::core::ecBufferTooBig, "picture larger than");
  // A picture of exactly the limit is kept.
  Document doc;
  ASSERT_TRUE(ReadRtf(PictureOf(2 * kMaxPictureBytes), doc));
  ASSERT_EQ(doc.paragraphs.size(), 1u);
  ASSERT_EQ(doc.paragraphs[0].runs.size(), 3u);
  EXPECT_EQ(doc.paragraphs[0].runs[1].picture.data.size(), kMaxPictureBytes);
  // Pictures we do not keep cost no memory, whatever their size.
  std::string metafile = "{\\rtf1 {\\pict\\wmetafile8 ";
  metafile.append(2 * kFiftyMegabytes, '0');
  metafile += "}}";
  const ReadResult r = ReadRtf(metafile, doc);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(r.skippedPictures, 1);
}

TEST(RtfHostile, BadHexAndTruncatedBinary) {
  ExpectRejected("{\\rtf1 {\\pict\\pngblip 89504g}}", qv::core::ecDataError, "bad hexadecimal");
  ExpectRejected("{\\rtf1 {\\pict\\pngblip 89504}}", qv::core::ecDataError, "bad hexadecimal");  // odd count
  ExpectRejected("{\\rtf1 caf\\'e}", qv::core::ecDataError, "bad hexadecimal");
  ExpectRejected("{\\rtf1 caf\\'zz}", qv::core::ecDataError, "bad hexadecimal");
  ExpectRejected("{\\rtf1 caf\\'", qv::core::ecDataError, "bad hexadecimal");
  ExpectRejected("{\\rtf1 {\\pict\\pngblip\\bin100 abc}}", qv::core::ecDataError, "\\bin");
  ExpectRejected("{\\rtf1 {\\*\\skipped\\bin2147483647 }}", qv::core::ecDataError, "\\bin");
}

TEST(RtfHostile, TooManyParagraphs) {
  std::string rtf = "{\\rtf1 ";
  for (size_t i = 0; i <= kMaxDocumentParts; ++i) rtf += "\\par";
  rtf += '}';
  ExpectRejected(rtf, qv::core::ecBufferTooBig, "paragraphs and runs");
}

// Found by the fuzzer: fields and pictures opened by the document group itself close with it.
TEST(RtfHostile, DestinationsOfTheOutermostGroup) {
  for (std::string_view rtf : {"{\\rtf1\\field x}", "{\\rtf1 a\\field{\\*\\fldinst MERGEFIELD DATE}{\\fldrslt d}}",
                               "{\\rtf1\\pict\\pngblip 0102}", "{\\rtf1\\fldrslt x}", "{\\rtf1\\fonttbl\\f1 A}"}) {
    Document doc;
    const ReadResult r = ReadRtf(rtf, doc);
    EXPECT_TRUE(r) << rtf << ": " << r.message;
  }
  Document doc;
  ASSERT_TRUE(ReadRtf("{\\rtf1 a\\field{\\*\\fldinst MERGEFIELD DATE}{\\fldrslt d}}", doc));
  ASSERT_EQ(doc.paragraphs.size(), 1u);
  EXPECT_EQ(doc.paragraphs[0].runs.back().field, (MergeField{4, "d"}));
}
