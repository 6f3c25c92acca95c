#include "faximage/marks_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>

#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// One mark of every kind, with the awkward cases each field can hold.
FaxMarks EveryKind() {
  FaxMarks m;
  m.SetRotation(2, PageRotation::Half);
  m.SetRotation(3, PageRotation::Quarter);
  Mark pen = Mark::Stroke(MarkKind::Pen, 1, 3, {{10, 20}, {-5, 30}, {1700, 2200}});
  Mark hi = Mark::Stroke(MarkKind::Highlight, 1, 24, {{300, 400}});
  Mark text = Mark::Words(MarkKind::Text, 2, 100, 200, 40, "DejaVu Sans", "Paid 100% \xE2\x82\xAC\n  second line\tand a tab");
  Mark stamp = Mark::Words(MarkKind::Stamp, 2, 900, 60, 32, "Sans", "Received 10.12.2026 14:03");
  Mark check = Mark::Box(MarkKind::Check, 1, 50, 60, 70, 80);
  Mark white = Mark::Box(MarkKind::Whiteout, 3, 0, 0, 1728, 100);
  Mark sig = Mark::Box(MarkKind::Signature, 1, 800, 2000, 400, 120);
  sig.picture.width = 13;  // not a whole number of bytes
  sig.picture.height = 3;
  sig.picture.bits = {0xFF, 0xF8, 0x80, 0x08, 0x12, 0x30};
  m.marks = {pen, hi, text, stamp, check, white, sig};
  return m;
}

}  // namespace

// Every kind of mark and the rotations come back equal from the text and from the file beside the
// fax, and the fax file itself is left alone.
TEST(MarksFile, EveryKindRoundTripsThroughTextAndFile) {
  const FaxMarks marks = EveryKind();
  FaxMarks back;
  MarksError error;
  const std::string text = FormatMarks(marks);
  ASSERT_TRUE(ParseMarks(text, back, error)) << error.Describe();
  EXPECT_EQ(back, marks);
  EXPECT_EQ(FormatMarks(back), text);
  EXPECT_EQ(text.rfind("QVMARKS 1\n", 0), 0u);
  EXPECT_NE(text.find(" Paid%20100%25%20\xE2\x82\xAC%0A%20%20second"), std::string::npos)
      << "spaces, '%' and line breaks escaped, UTF-8 kept";

  TempDir dir;
  const std::string fax = dir.file("FAX0001.QVF");
  Spit(fax, "not really a fax");
  ASSERT_TRUE(SaveMarks(fax, marks));
  EXPECT_EQ(MarksFileName(fax), dir.file("FAX0001.QVM"));
  EXPECT_EQ(Slurp(fax), "not really a fax");
  ASSERT_EQ(LoadMarks(fax, back, error), MarksLoad::Loaded) << error.Describe();
  EXPECT_EQ(back, marks);
}

// The picture's bits past its width mean nothing: they are written clear, so what is read back
// equals what was meant.
TEST(MarksFile, PicturePaddingBitsAreWrittenClear) {
  FaxMarks marks = EveryKind();
  marks.marks.back().picture.bits[1] = 0xFF;  // three bits past pixel 13
  FaxMarks back;
  MarksError error;
  ASSERT_TRUE(ParseMarks(FormatMarks(marks), back, error));
  EXPECT_EQ(back.marks.back().picture.bits[1], 0xF8);
}

TEST(MarksFile, ReadsWhatAPersonMightWrite) {
  FaxMarks back;
  MarksError error;
  ASSERT_TRUE(ParseMarks("QVMARKS 1\r\n\r\n# a comment\r\n  check\t1  5 6 7 8  \r\nrotate 1 0\n", back, error))
      << error.Describe();
  ASSERT_EQ(back.marks.size(), 1u);
  EXPECT_EQ(back.marks[0], (Mark::Box(MarkKind::Check, 1, 5, 6, 7, 8)));
  EXPECT_TRUE(back.rotation.empty()) << "rotation 0 is no rotation";
  EXPECT_EQ(MarksFileName("/r/fax0001.qvf"), "/r/fax0001.qvm");
  EXPECT_EQ(MarksFileName("/r/FAX0001"), "/r/FAX0001.QVM");
}

// A damaged file is refused with the line and the reason, and nothing half-read is kept.
TEST(MarksFile, DamagedFilesAreRefusedWithLineAndReason) {
  const struct {
    const char* text;
    int line;
    const char* why;
  } cases[] = {
      {"", 0, "empty"},
      {"check 1 1 1 1 1\n", 1, "not a marks file"},
      {"QVMARKS 2\ncheck 1 1 1 1 1\n", 1, "newer"},
      {"QVMARKS 1\ncheck 1 1 1 1 1\nblot 1 2 3\n", 3, "unknown mark \"blot\""},
      {"QVMARKS 1\npen 1 3 10,20 10;30\n", 2, "bad point"},
      {"QVMARKS 1\npen 1 0 10,20\n", 2, "stroke width"},
      {"QVMARKS 1\npen 1 3\n", 2, "at least one"},
      {"QVMARKS 1\ncheck 0 1 1 1 1\n", 2, "page"},
      {"QVMARKS 1\ncheck 1 1 1 1\n", 2, "wants"},
      {"QVMARKS 1\nwhiteout 1 1 1 0 5\n", 2, "size"},
      {"QVMARKS 1\ncheck 1 99999999999 1 1 1\n", 2, "position"},
      {"QVMARKS 1\ntext 1 1 1 40 Sans bad%2\n", 2, "bad text"},
      {"QVMARKS 1\ntext 1 1 1 40 Sans bad%zz\n", 2, "bad text"},
      {"QVMARKS 1\ntext 1 1 1 2 Sans small\n", 2, "text size"},
      {"QVMARKS 1\nsignature 1 0 0 10 10 9 2 FF80FF\n", 2, "wrong length"},
      {"QVMARKS 1\nsignature 1 0 0 10 10 8 1 GG\n", 2, "picture data"},
      {"QVMARKS 1\nsignature 1 0 0 10 10 5000 1 FF\n", 2, "picture size"},
      {"QVMARKS 1\nrotate 1 45\n", 2, "0, 90, 180 or 270"},
  };
  for (const auto& c : cases) {
    FaxMarks back = EveryKind();
    MarksError error;
    EXPECT_FALSE(ParseMarks(c.text, back, error)) << c.text;
    EXPECT_TRUE(back.empty()) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.Describe().find(c.why), std::string::npos) << c.text << " -> " << error.Describe();
    if (c.line > 0) {
      EXPECT_EQ(error.Describe().rfind("line " + std::to_string(c.line) + ": ", 0), 0u);
    }
  }
}

// A damaged marks file leaves the fax without marks and says why; it is not touched, so nothing
// the user made is lost by merely opening the fax.
TEST(MarksFile, DamagedOrMissingFileOnLoad) {
  TempDir dir;
  const std::string fax = dir.file("FAX0002.QVF");
  FaxMarks marks = EveryKind();
  MarksError error;
  EXPECT_EQ(LoadMarks(fax, marks, error), MarksLoad::None);
  EXPECT_TRUE(marks.empty());

  Spit(MarksFileName(fax), "QVMARKS 1\npen 1 3 10,20\ncheck 1 2\n");
  marks = EveryKind();
  EXPECT_EQ(LoadMarks(fax, marks, error), MarksLoad::Damaged);
  EXPECT_TRUE(marks.empty());
  EXPECT_EQ(error.line, 3);
  EXPECT_EQ(Slurp(MarksFileName(fax)), "QVMARKS 1\npen 1 3 10,20\ncheck 1 2\n");

  Spit(MarksFileName(fax), std::string("QVMARKS 1\n\0\xFF\xFE", 13));
  EXPECT_EQ(LoadMarks(fax, marks, error), MarksLoad::Damaged);
}

// Saving nothing removes the file; removing a fax's marks when it has none is no failure. The marks
// file is no more readable than the fax it belongs to (a signature is private).
TEST(MarksFile, SaveEmptyRemovesAndPermissionsFollowTheFax) {
  TempDir dir;
  const std::string fax = dir.file("FAX0003.QVF");
  Spit(fax, "x");
  ASSERT_EQ(::chmod(fax.c_str(), 0600), 0);
  ASSERT_TRUE(SaveMarks(fax, EveryKind()));
  struct stat st {};
  ASSERT_EQ(::stat(MarksFileName(fax).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_TRUE(SaveMarks(fax, FaxMarks{}));
  EXPECT_NE(::stat(MarksFileName(fax).c_str(), &st), 0);
  EXPECT_TRUE(RemoveMarks(fax));

  ASSERT_TRUE(SaveMarks(fax, EveryKind()));
  EXPECT_TRUE(RemoveMarks(fax));
  EXPECT_NE(::stat(MarksFileName(fax).c_str(), &st), 0);
}
