// AbiWord as the judge: it reads our RTF with the same text (its plain-text export) and the same
// attributes (its own document format, which states every run's and paragraph's properties), and
// the RTF it writes of that document reads back into ours intact.
#include <gtest/gtest.h>

#include "../shell_command.h"
#include "interop_document.h"
#include "rtf/rtf_reader.h"
#include "rtf/rtf_writer.h"

using namespace qv::rtf;
using namespace qv::rtf::interop;
using qv::testing::Shell;

namespace {

constexpr int kConversionSeconds = 120;

class AbiWord : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveTool("abiword")) return;
    dir_ = new WorkDir;
    WriteFile(dir_->File("ours.rtf"), WriteRtf(JudgedDocument()));
    for (const char* format : {"txt", "abw", "rtf"}) {
      // HOME points into the work folder: AbiWord keeps a profile there.
      const std::string cmd = "cd " + dir_->Path() + " && HOME=" + dir_->Path() + " timeout " +
                              std::to_string(kConversionSeconds) + " abiword --to=" + format + " -o theirs." +
                              format + " ours.rtf 2>&1";
      log_ += Shell(cmd);
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "AbiWord (abiword, Debian abiword) is not installed";
  }
  static std::string Output(const char* format) { return ReadFile(dir_->File(std::string("theirs.") + format)); }

  static WorkDir* dir_;
  static std::string log_;
};

WorkDir* AbiWord::dir_ = nullptr;
std::string AbiWord::log_;

TEST_F(AbiWord, ReadsOurText) {
  const std::string text = Output("txt");
  ASSERT_FALSE(text.empty()) << log_;
  // One line per paragraph; a page break shows as a form feed at the start of its paragraph.
  const std::string expected = std::string(kTitle) + "\nPlain text, then " + kItalic + ", " + kUnderline + ", " +
                               kBold + " and " + kBig + ".\n" + kRight + "\n" + kJustified + "\n\f" + kSecondPage +
                               "\n" + kAccents + "\n\f" + kThirdPage + "\n" + kFieldLead + kPlaceholder + ",";
  EXPECT_EQ(text.substr(0, expected.size()), expected);
}

TEST_F(AbiWord, ReadsOurAttributes) {
  const std::string abw = Output("abw");
  ASSERT_FALSE(abw.empty()) << log_;
  auto run = [&](const char* text) {
    const size_t at = abw.find(std::string(">") + text);
    EXPECT_NE(at, std::string::npos) << text;
    return at == std::string::npos ? std::string() : EnclosingTag(abw, at, "<c ");
  };
  auto paragraph = [&](const char* text) {
    const size_t at = abw.find(text);
    EXPECT_NE(at, std::string::npos) << text;
    return at == std::string::npos ? std::string() : EnclosingTag(abw, at, "<p ");
  };
  EXPECT_NE(run(kTitle).find("font-weight:bold"), std::string::npos);
  EXPECT_NE(run(kTitle).find("font-size:16pt"), std::string::npos);
  EXPECT_NE(run(kItalic).find("font-style:italic"), std::string::npos);
  EXPECT_NE(run(kUnderline).find("text-decoration:underline"), std::string::npos);
  EXPECT_NE(run(kBold).find("font-weight:bold"), std::string::npos);
  EXPECT_NE(run(kBig).find("font-size:20pt"), std::string::npos);
  const std::string plain = run("Plain text, then ");
  EXPECT_NE(plain.find("font-weight:normal"), std::string::npos) << plain;
  EXPECT_NE(plain.find("font-style:normal"), std::string::npos) << plain;
  EXPECT_NE(plain.find("font-size:12pt"), std::string::npos) << plain;
  EXPECT_NE(paragraph(kTitle).find("text-align:center"), std::string::npos);
  EXPECT_NE(paragraph(kItalic).find("text-align:left"), std::string::npos);
  EXPECT_NE(paragraph(kRight).find("text-align:right"), std::string::npos);
  EXPECT_NE(paragraph(kJustified).find("text-align:justify"), std::string::npos);
  EXPECT_NE(paragraph(kSecondPage).find("text-align:left"), std::string::npos);
  EXPECT_NE(paragraph(kThirdPage).find("text-align:center"), std::string::npos);
  EXPECT_NE(abw.find(std::string("<pbr/>") + kSecondPage), std::string::npos);
  EXPECT_NE(abw.find(std::string("<pbr/>") + kThirdPage), std::string::npos);
  EXPECT_NE(abw.find("mime-type=\"image/png\""), std::string::npos) << "the picture was dropped";
}

TEST_F(AbiWord, ItsRtfReadsIntoOurs) {
  const std::string rtf = Output("rtf");
  ASSERT_FALSE(rtf.empty()) << log_;
  Document doc;
  const ReadResult r = ReadRtf(rtf, doc);
  ASSERT_TRUE(r) << r.message;
  ExpectJudgedAttributes(doc);
  EXPECT_EQ(PictureCount(doc), 1) << "skipped " << r.skippedPictures;
  EXPECT_EQ(doc.page.marginLeft, 720);
  // AbiWord keeps a merge field's text, not the field.
  EXPECT_NE(doc.PlainText().find(std::string(kFieldLead) + kPlaceholder + ","), std::string::npos) << doc.PlainText();
}

}  // namespace
