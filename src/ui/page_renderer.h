#pragma once
// Draws a rich text document as fax pages: 1664 x 2156 one-bit bitmaps at 200 dpi, 49-pixel
// margins, merge fields filled at render time. Glyphs are rasterised for one bit (hinted, no grey
// thresholded into ragged strokes); pictures are dithered.

#include <QImage>
#include <functional>

#include "rtf/rtf_document.h"

namespace qv::ui {

inline constexpr int kRenderPageWidth = 1664;
inline constexpr int kRenderPageHeight = 2156;
inline constexpr int kRenderDpi = 200;
inline constexpr int kRenderMargin = 49;

class PageRenderer {
 public:
  // fieldValue: the text of a merge field kind (cut to 100 characters by the renderer); may be empty.
  explicit PageRenderer(const rtf::Document& doc,
                        std::function<QString(int kind)> fieldValue = {});
  ~PageRenderer();
  int PageCount() const;
  // Draws page `page` (1-based) onto a white QImage::Format_Mono image of the render size and
  // returns the next page number, 0 when none is left.
  int RenderPage(int page, QImage& out) const;

 private:
  struct Impl;
  Impl* d_;
};

}  // namespace qv::ui
