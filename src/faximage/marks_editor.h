#pragma once

#include <vector>

#include "faximage/page_marks.h"

namespace qv::faximage {

// The editing of a fax's marks behind the viewer's tools: add, select, move, delete and turn a
// page, each step undoable. Steps keep whole copies of the marks (a page of marks is a few
// kilobytes), so undo gives back exactly what was there whatever the step did.
class MarksEditor {
 public:
  static constexpr size_t kUndoSteps = 200;

  explicit MarksEditor(FaxMarks marks = {});

  const FaxMarks& Marks() const { return marks_; }
  // True when the marks differ from those loaded or last saved.
  bool Modified() const { return !(marks_ == saved_); }
  void SetSaved() { saved_ = marks_; }

  // Index of the new mark, which becomes the selected one.
  int Add(Mark mark);
  bool Remove(int index);
  bool Move(int index, int dx, int dy);
  // Turns the page as shown, and its marks with it so they stay on what they marked. The page's
  // size as shown now, in units, is needed to find where they go.
  void Rotate(int page, PageRotation to, int widthUnits, int heightUnits);

  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  bool Undo();
  bool Redo();

  int Selected() const { return selected_; }
  void Select(int index) { selected_ = index >= 0 && index < static_cast<int>(marks_.marks.size()) ? index : -1; }

  // The topmost mark of the page whose box, widened by `slack` units, holds (x, y); -1 when none.
  int MarkAt(int page, int x, int y, MarkRasterizer& rasterizer, int slack = 8) const;
  // The box a mark covers, in units.
  static void Bounds(const Mark& mark, MarkRasterizer& rasterizer, int& x, int& y, int& w, int& h);

 private:
  void step();  // before a change: keeps the marks for undo, forgets redo

  FaxMarks marks_;
  FaxMarks saved_;
  std::vector<FaxMarks> undo_, redo_;
  int selected_ = -1;
};

// A signature picture from a stroke drawn with the pointer (points in any units, `width` thick),
// cut to the stroke's extent; empty when there are no points.
MarkPicture PictureFromStrokes(const std::vector<std::vector<MarkPoint>>& strokes, int width);

// A signature picture from an 8-bit grey image with alpha (two bytes a pixel, rows of 2 * width):
// a pixel is black when it is opaque enough (alpha >= 128) and dark enough (grey < threshold). A
// scanned or photographed signature on white, or a PNG whose background is transparent, keeps
// the ink only. Cut to the ink's extent; empty when there is none.
MarkPicture PictureFromGreyAlpha(const uint8_t* pixels, int width, int height, int threshold = 128);

}  // namespace qv::faximage
