#include "faximage/marks_editor.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "faximage/marks_file.h"
#include "faximage/signature_store.h"
#include "temp_dir.h"

using namespace qv::faximage;
using namespace qv::faximage::testing;

// Every step is undone to exactly what was before and redone to exactly what was after; a new
// step forgets what could be redone; saving marks the state that is not "modified".
TEST(MarksEditor, UndoAndRedoGiveBackEachStepExactly) {
  FaxMarks start;
  start.marks.push_back(Mark::Box(MarkKind::Check, 1, 10, 10, 40, 40));
  MarksEditor e(start);
  EXPECT_FALSE(e.Modified());
  EXPECT_FALSE(e.CanUndo());

  std::vector<FaxMarks> states{e.Marks()};
  EXPECT_EQ(e.Add(Mark::Stroke(MarkKind::Pen, 1, 3, {{0, 0}, {50, 50}})), 1);
  states.push_back(e.Marks());
  EXPECT_TRUE(e.Move(1, 5, -7));
  states.push_back(e.Marks());
  EXPECT_EQ(e.Marks().marks[1].points, (std::vector<MarkPoint>{{5, -7}, {55, 43}}));
  EXPECT_TRUE(e.Remove(0));
  states.push_back(e.Marks());
  e.Rotate(1, PageRotation::Half, 1728, 2287);
  states.push_back(e.Marks());
  EXPECT_TRUE(e.Modified());

  for (int i = static_cast<int>(states.size()) - 2; i >= 0; --i) {
    ASSERT_TRUE(e.Undo());
    EXPECT_EQ(e.Marks(), states[static_cast<size_t>(i)]) << i;
  }
  EXPECT_FALSE(e.Undo());
  EXPECT_FALSE(e.Modified());
  for (size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(e.Redo());
    EXPECT_EQ(e.Marks(), states[i]) << i;
  }
  EXPECT_FALSE(e.Redo());

  e.Undo();
  e.Add(Mark::Box(MarkKind::Whiteout, 2, 0, 0, 5, 5));
  EXPECT_FALSE(e.CanRedo()) << "a new step forgets the undone ones";
  e.SetSaved();
  EXPECT_FALSE(e.Modified());
  EXPECT_FALSE(e.Remove(7));
  EXPECT_FALSE(e.Move(-1, 1, 1));
}

// Selection finds the topmost mark under the pointer, with some slack for a thin line.
TEST(MarksEditor, MarkAtFindsTheTopmostMarkOfThePage) {
  MarksEditor e;
  MarkRasterizer r;
  e.Add(Mark::Box(MarkKind::Whiteout, 1, 100, 100, 200, 200));
  e.Add(Mark::Box(MarkKind::Check, 1, 150, 150, 40, 40));
  e.Add(Mark::Stroke(MarkKind::Pen, 1, 2, {{500, 500}, {600, 500}}));
  e.Add(Mark::Box(MarkKind::Check, 2, 150, 150, 40, 40));
  EXPECT_EQ(e.MarkAt(1, 160, 160, r), 1);
  EXPECT_EQ(e.MarkAt(1, 120, 120, r), 0);
  EXPECT_EQ(e.MarkAt(1, 550, 506, r), 2) << "within the slack of the line";
  EXPECT_EQ(e.MarkAt(1, 550, 530, r), -1);
  EXPECT_EQ(e.MarkAt(2, 120, 120, r), -1);
  EXPECT_EQ(e.MarkAt(2, 160, 160, r), 3);
}

// Turning a page takes its marks along: what was at the top left is at the bottom right after a
// half turn, and a quarter turn moves a point as the page's pixels move.
TEST(MarksEditor, TurningAPageTakesItsMarksAlong) {
  MarksEditor e;
  e.Add(Mark::Stroke(MarkKind::Pen, 1, 3, {{10, 20}}));
  e.Add(Mark::Box(MarkKind::Check, 1, 0, 0, 100, 50));
  e.Add(Mark::Stroke(MarkKind::Pen, 2, 3, {{10, 20}}));
  e.Rotate(1, PageRotation::Half, 1728, 2000);
  EXPECT_EQ(e.Marks().Rotation(1), PageRotation::Half);
  EXPECT_EQ(e.Marks().marks[0].points[0], (MarkPoint{1717, 1979}));
  EXPECT_EQ(e.Marks().marks[1].x, 1628);
  EXPECT_EQ(e.Marks().marks[1].y, 1950);
  EXPECT_EQ(e.Marks().marks[2].points[0], (MarkPoint{10, 20})) << "other pages stay";
  // From a half turn to three quarters is one more quarter clockwise on the page as now shown.
  e.Rotate(1, PageRotation::ThreeQuarters, 1728, 2000);
  EXPECT_EQ(e.Marks().marks[0].points[0], (MarkPoint{2000 - 1 - 1979, 1717}));
  e.Rotate(1, PageRotation::None, 2000, 1728);
  EXPECT_TRUE(e.Marks().rotation.empty());
}

// A drawn signature keeps the stroke's shape, cut to its ink; a picture keeps only opaque dark
// pixels (a transparent background, a light one, or half-transparent ink are not ink).
TEST(SignaturePicture, FromStrokesAndFromGreyAlpha) {
  MarkPicture drawn = PictureFromStrokes({{{100, 100}, {140, 100}}, {{120, 90}, {120, 110}}}, 2);
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(drawn.width, 42);
  EXPECT_EQ(drawn.height, 22);
  EXPECT_TRUE(drawn.black(0, 10) && drawn.black(41, 10) && drawn.black(20, 0) && drawn.black(20, 21));
  EXPECT_FALSE(drawn.black(0, 0));
  EXPECT_TRUE(PictureFromStrokes({}, 2).empty());

  // 4 x 3 grey+alpha: transparent black, opaque black, opaque white, half-transparent black ...
  const uint8_t px[] = {0, 0,   0, 255, 255, 255, 0, 100,  //
                        0, 0,   0, 0,   0,   255, 200, 255,  //
                        0, 0,   0, 0,   0,   0,   0,   0};
  MarkPicture pic = PictureFromGreyAlpha(px, 4, 3);
  EXPECT_EQ(pic.width, 2);  // ink at (1,0) and (2,1)
  EXPECT_EQ(pic.height, 2);
  EXPECT_TRUE(pic.black(0, 0));
  EXPECT_TRUE(pic.black(1, 1));
  EXPECT_FALSE(pic.black(1, 0));
  EXPECT_FALSE(pic.black(0, 1));
  const uint8_t clear[8] = {};
  EXPECT_TRUE(PictureFromGreyAlpha(clear, 2, 2).empty());
}

// Signatures are kept for this user only, and read back as they were kept; a name that could
// leave the folder, or a file that is not ours, is refused.
TEST(SignatureStore, KeptPrivateAndReadBack) {
  TempDir dir;
  const std::string data = dir.path().string();
  MarkPicture pic = PictureFromStrokes({{{0, 0}, {30, 12}}}, 3);
  pic.bits[0] |= 0x20;  // a byte that looks like white space after the header
  ::umask(022);
  ASSERT_TRUE(SaveSignature(data, "Ann Smith", pic));
  struct stat st {};
  ASSERT_EQ(::stat(SignatureFolder(data).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat((SignatureFolder(data) + "/Ann Smith.pbm").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  MarkPicture back;
  ASSERT_TRUE(LoadSignature(data, "Ann Smith", back));
  EXPECT_EQ(back, pic);
  EXPECT_EQ(SignatureNames(data), std::vector<std::string>{"Ann Smith"});

  for (const char* bad : {"", "../escape", "a/b", ".hidden", " lead"}) EXPECT_FALSE(SaveSignature(data, bad, pic)) << bad;
  EXPECT_FALSE(SaveSignature(data, "empty", MarkPicture{}));
  EXPECT_FALSE(LoadSignature(data, "missing", back));
  { std::FILE* f = std::fopen((SignatureFolder(data) + "/broken.pbm").c_str(), "wb"); std::fputs("P4\n9 9\nxx", f); std::fclose(f); }
  EXPECT_FALSE(LoadSignature(data, "broken", back));
  EXPECT_TRUE(RemoveSignature(data, "Ann Smith"));
  EXPECT_EQ(SignatureNames(data), std::vector<std::string>{"broken"});
}
