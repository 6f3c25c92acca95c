#pragma once
// Draws a rich text document as fax pages: 1664 x 2156 one-bit bitmaps at 200 dpi, 49-pixel
// margins, merge fields filled at render time. Glyphs are rasterised for one bit (hinted, no grey
// thresholded into ragged strokes); pictures are dithered.

#include <QImage>
#include <QRect>
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
  // Draws page `page` (1-based; 0 counts as 1) onto a white QImage::Format_Mono image of the
  // render size (colour index 1 = black, so the bits are fax rows: 1 = black, leftmost pixel in
  // the high bit) and returns the next page number, 0 when none is left.
  int RenderPage(int page, QImage& out) const;
  // Where the text is laid out on the bitmap: the page setup's text area at 200 dpi, kept inside
  // the 49-pixel margins.
  QRect TextRect() const;

 private:
  struct Impl;
  Impl* d_;
};

// Whether an editor's content counts as nothing to send: no content at all, or text of fewer than
// 256 characters in which every line is blank after trimming. A picture is always content, and so
// is a visible character on any line of a short text.
bool IsBlankForSending(const rtf::Document& doc);

}  // namespace qv::ui
