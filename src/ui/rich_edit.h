#pragma once
// The word-processing component of cover sheets and fax documents: a QTextEdit that shows the
// text as pages of the set paper size (outline and page breaks visible), with its tool bar,
// merge fields and the whole content in and out as RTF. The content model is rtf::Document;
// conversion to and from the QTextDocument lives in rich_document.h.

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "rtf/rtf_document.h"

class QTextEdit;
class QToolBar;

namespace qv::ui {

// Values handed out for merge fields are cut to this many characters.
inline constexpr int kMaxMergeFieldLength = 100;

struct FontAttributes {
  QString name;
  int pointSize = 12;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool operator==(const FontAttributes&) const = default;
};

// Twips throughout, as rtf::ParaFormat.
using ParagraphAttributes = rtf::ParaFormat;

class TQvRichEdit : public QWidget {
  Q_OBJECT
 public:
  explicit TQvRichEdit(QWidget* parent = nullptr);
  ~TQvRichEdit() override;

  // Whole content. LoadRtf leaves the content unchanged and returns false (with a message) when
  // the RTF cannot be read. Pictures the RTF holds in kinds the editor cannot show (anything but
  // PNG and JPEG) are left out; the editor then shows a notice saying how many, until the user
  // closes it or other content is loaded.
  void Clear();
  bool LoadRtf(std::string_view rtf, std::string* error = nullptr);
  std::string SaveRtf() const;
  rtf::Document ToDocument() const;
  void SetDocument(const rtf::Document& doc);
  bool IsEmpty() const;
  int TextLength() const;
  int LineCount() const;

  // View.
  int Zoom() const;                       // percent
  void SetZoom(int percent);
  bool WordWrap() const;
  void SetWordWrap(bool on);
  void SetPageSize(int widthTwips, int heightTwips);
  void SetMargins(int leftTwips, int topTwips, int rightTwips, int bottomTwips);
  rtf::PageSetup PageSetup() const;

  // The paragraph holding the caret.
  ParagraphAttributes CurrentParagraph() const;
  void SetCurrentParagraph(const ParagraphAttributes& attrs);

  // Character attributes at the caret (and of the selection when one is set).
  FontAttributes CurrentFont() const;
  void SetCurrentFont(const FontAttributes& font);
  // The font of new text in an empty editor.
  void SetDefaultFont(const FontAttributes& font);

  // Merge fields: shown red with their placeholder while there is no value; FieldValue supplies the
  // value (cut to kMaxMergeFieldLength) when the text is shown, printed or rendered.
  void InsertMergeField(int kind, const QString& placeholder);
  std::function<QString(int kind)> FieldValue;

  // Pictures at the caret, kept in the memo: an image file (PNG, JPEG, BMP), or every page of a PDF
  // as a full-page picture, each on a page of its own. False with a message (content unchanged)
  // for an unreadable file; progress may cancel a long PDF.
  bool InsertPicture(const QString& fileName, std::string* error = nullptr);
  bool InsertPdfPages(const QString& fileName, std::string* error = nullptr,
                      const std::function<bool(int done, int total)>& progress = {});

  void SetCaretToStart();
  void Reformat();                        // lays the text out again
  void Repaint();

  QTextEdit* TextEdit() const;            // the editing surface (spell check, find, tests)
  QToolBar* ToolBar() const;              // normal, bold, italic, underline, strike-out, sub/sup,
                                          // alignments, clipboard, select all, find, replace, spell,
                                          // insert picture, insert PDF pages
  // A second row under the tool bar for the form's own commands; made on first use.
  QToolBar* CommandBar();
  // How many pictures the last LoadRtf left out; and the notice saying so (hidden when none).
  int SkippedPictures() const;
  QWidget* PictureNotice() const;

 signals:
  void SpellCheckRequested();             // the tool bar's spell button
  void ContentChanged();
  void InsertPictureRequested();          // the tool bar's picture and PDF buttons: the form asks
  void InsertPdfRequested();              // for the file and calls InsertPicture / InsertPdfPages

 private:
  void ShowSkippedPictures(int count);

  struct Impl;
  Impl* d_;
};

}  // namespace qv::ui
