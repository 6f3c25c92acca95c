#pragma once
// "Paragraph Properties": indents and spacing of the paragraph holding an editor's caret. Values
// are held in twips; lengths are shown in inches or centimetres, spacing in points.

#include <QDialog>

#include "rtf/rtf_document.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace qv::ui {
class TQvRichEdit;
}

namespace qv::app {

inline constexpr double kTwipsPerInch = 1440.0;
inline constexpr double kTwipsPerCm = 566.929;
inline constexpr double kTwipsPerPoint = 20.0;

// Twips shown in a field: points rounded to a whole number for the spacing fields (their names
// contain "PTS"), inches or centimetres with two decimals for the lengths.
QString TwipsToText(int twips, bool points, bool centimetres);
// The field's text back in twips, rounded; an empty text is 0. False when it is not a number.
bool TextToTwips(const QString& text, bool points, bool centimetres, int* twips);

class TParagraphPropDlg : public QDialog {
  Q_OBJECT
 public:
  enum Field { kFirstIndent, kLeftIndent, kRightIndent, kSpaceBefore, kSpaceAfter, kLineHeight,
               kFieldCount };

  explicit TParagraphPropDlg(ui::TQvRichEdit* editor, QWidget* parent = nullptr);

  // The stored value of a field in twips. FirstIndent is the first line's own indent from the
  // margin (the editor keeps it relative to the left indent).
  int Twips(Field field) const { return twips_[field]; }
  QLineEdit* Edit(Field field) const { return edits_[field]; }

 public slots:
  // Applies the values to the current paragraph and closes with Accepted; a field that is not a
  // number is reported and keeps the dialog open.
  void OKButtonClick();

 private:
  void FormShow();
  void ShowValues();
  void UpdateHints();
  void FieldChanged(Field field);
  void FirstIndentComboChange();
  bool UsesCentimetres() const;
  static bool IsPointsField(Field field);

  ui::TQvRichEdit* editor_;
  rtf::ParaFormat paragraph_;
  int twips_[kFieldCount] = {};
  QLineEdit* edits_[kFieldCount] = {};
  QComboBox* ComboBox1_ = nullptr;
  QComboBox* FirstIndentCombo_ = nullptr;
  bool showing_ = false;  // values are being put into the fields, not typed
};

}  // namespace qv::app
