#include "app/editor/paragraph_dialog.h"

#include "app/forms/dialog_service.h"
#include "ui/rich_edit.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace qv::app {

namespace {
constexpr int kInchItem = 0;
constexpr int kCmItem = 1;
constexpr int kSameAsLeftItem = 0;
constexpr int kIndentedByItem = 1;

struct FieldInfo {
  const char* name;
  const char* label;
  const char* hint;  // lengths: completed by the unit's name
};

const FieldInfo kFields[TParagraphPropDlg::kFieldCount] = {
    {"FirstIndent", "First line:", "Specify first line indent for the paragraph in "},
    {"LeftIndent", "Left indent:", "Specify left indent for the paragraph in "},
    {"RightIndent", "Right indent:", "Specify right indent for the paragraph in "},
    {"SpaceBeforePts", "Space before (points):", "Specify the space before the paragraph in points"},
    {"SpaceAfterPts", "Space after (points):", "Specify the space after the paragraph in points"},
    {"LineHeightPts", "Line height (points):",
     "Specify the least height of a line in points (0: single spacing)"},
};

bool ParseNumber(const QString& text, double* value) {
  bool ok = false;
  *value = QLocale().toDouble(text, &ok);
  if (!ok) *value = QLocale::c().toDouble(text, &ok);
  return ok && std::isfinite(*value);
}
}  // namespace

QString TwipsToText(int twips, bool points, bool centimetres) {
  if (points) return QString::number(std::lround(twips / kTwipsPerPoint));
  return QLocale().toString(twips / (centimetres ? kTwipsPerCm : kTwipsPerInch), 'f', 2);
}

bool TextToTwips(const QString& text, bool points, bool centimetres, int* twips) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) {
    *twips = 0;
    return true;
  }
  double value = 0;
  if (!ParseNumber(trimmed, &value)) return false;
  const double factor = points ? kTwipsPerPoint : centimetres ? kTwipsPerCm : kTwipsPerInch;
  const double result = std::round(value * factor);
  // Beyond any page: a typing slip, not a length.
  if (std::fabs(result) > 1e8) return false;
  *twips = static_cast<int>(result);
  return true;
}

TParagraphPropDlg::TParagraphPropDlg(ui::TQvRichEdit* editor, QWidget* parent)
    : QDialog(parent), editor_(editor) {
  setObjectName(QStringLiteral("ParagraphPropDlg"));
  setWindowTitle(QStringLiteral("Paragraph Properties"));
  setAccessibleName(windowTitle());

  auto* form = new QFormLayout;
  ComboBox1_ = new QComboBox(this);
  ComboBox1_->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox1_->addItems({QStringLiteral("Inch"), QStringLiteral("Cm")});
  ComboBox1_->setAccessibleName(QStringLiteral("Units"));
  ComboBox1_->setToolTip(QStringLiteral("Choose the unit of the indents"));
  form->addRow(QStringLiteral("&Units:"), ComboBox1_);

  FirstIndentCombo_ = new QComboBox(this);
  FirstIndentCombo_->setObjectName(QStringLiteral("FirstIndentCombo"));
  FirstIndentCombo_->addItems({QStringLiteral("Same as Left Indent"), QStringLiteral("Indented by")});
  FirstIndentCombo_->setAccessibleName(QStringLiteral("First line"));

  for (int i = 0; i < kFieldCount; ++i) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(kFields[i].name));
    QString label = QString::fromLatin1(kFields[i].label);
    edit->setAccessibleName(label.chopped(1));
    edits_[i] = edit;
    connect(edit, &QLineEdit::textChanged, this, [this, i] { FieldChanged(Field(i)); });
    if (i == kFirstIndent) {
      auto* row = new QHBoxLayout;
      row->addWidget(FirstIndentCombo_);
      row->addWidget(edit);
      form->addRow(label, row);
    } else {
      form->addRow(label, edit);
    }
    if (IsPointsField(Field(i))) edit->setToolTip(QString::fromLatin1(kFields[i].hint));
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("OKButton"));
  ok->setAccessibleName(QStringLiteral("OK"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  connect(ok, &QPushButton::clicked, this, &TParagraphPropDlg::OKButtonClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ComboBox1_, &QComboBox::currentIndexChanged, this, [this] { ShowValues(); });
  connect(FirstIndentCombo_, &QComboBox::currentIndexChanged, this,
          &TParagraphPropDlg::FirstIndentComboChange);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);

  FormShow();
}

bool TParagraphPropDlg::IsPointsField(Field field) {
  return QString::fromLatin1(kFields[field].name).contains(QStringLiteral("PTS"), Qt::CaseInsensitive);
}

bool TParagraphPropDlg::UsesCentimetres() const { return ComboBox1_->currentIndex() == kCmItem; }

void TParagraphPropDlg::FormShow() {
  if (editor_) paragraph_ = editor_->CurrentParagraph();
  twips_[kFirstIndent] = paragraph_.leftIndent + paragraph_.firstIndent;
  twips_[kLeftIndent] = paragraph_.leftIndent;
  twips_[kRightIndent] = paragraph_.rightIndent;
  twips_[kSpaceBefore] = paragraph_.spaceBefore;
  twips_[kSpaceAfter] = paragraph_.spaceAfter;
  twips_[kLineHeight] = paragraph_.lineHeight;
  showing_ = true;
  ComboBox1_->setCurrentIndex(kInchItem);
  FirstIndentCombo_->setCurrentIndex(twips_[kFirstIndent] != twips_[kLeftIndent] ? kIndentedByItem
                                                                                 : kSameAsLeftItem);
  showing_ = false;
  edits_[kFirstIndent]->setEnabled(FirstIndentCombo_->currentIndex() == kIndentedByItem);
  ShowValues();
}

void TParagraphPropDlg::ShowValues() {
  showing_ = true;
  for (int i = 0; i < kFieldCount; ++i) {
    edits_[i]->setText(TwipsToText(twips_[i], IsPointsField(Field(i)), UsesCentimetres()));
  }
  showing_ = false;
  UpdateHints();
}

void TParagraphPropDlg::UpdateHints() {
  const QString unit = UsesCentimetres() ? QStringLiteral("centimeters") : QStringLiteral("inches");
  for (Field f : {kLeftIndent, kRightIndent, kFirstIndent}) {
    edits_[f]->setToolTip(QString::fromLatin1(kFields[f].hint) + unit);
    edits_[f]->setAccessibleDescription(edits_[f]->toolTip());
  }
}

void TParagraphPropDlg::FieldChanged(Field field) {
  if (showing_) return;
  int value = 0;
  // A text that is not (yet) a number keeps the stored value; OK reports it.
  if (!TextToTwips(edits_[field]->text(), IsPointsField(field), UsesCentimetres(), &value)) return;
  twips_[field] = value;
  if (field == kLeftIndent && FirstIndentCombo_->currentIndex() == kSameAsLeftItem) {
    twips_[kFirstIndent] = value;
    showing_ = true;
    edits_[kFirstIndent]->setText(edits_[kLeftIndent]->text());
    showing_ = false;
  }
}

void TParagraphPropDlg::FirstIndentComboChange() {
  if (showing_) return;
  const bool indented = FirstIndentCombo_->currentIndex() == kIndentedByItem;
  edits_[kFirstIndent]->setEnabled(indented);
  if (!indented) {
    twips_[kFirstIndent] = twips_[kLeftIndent];
    showing_ = true;
    edits_[kFirstIndent]->setText(
        TwipsToText(twips_[kFirstIndent], false, UsesCentimetres()));
    showing_ = false;
  }
}

void TParagraphPropDlg::OKButtonClick() {
  for (int i = 0; i < kFieldCount; ++i) {
    int value = 0;
    if (!TextToTwips(edits_[i]->text(), IsPointsField(Field(i)), UsesCentimetres(), &value)) {
      Dialogs().Error(this, QStringLiteral("'%1' is not a valid floating point value")
                                .arg(edits_[i]->text()));
      edits_[i]->setFocus();
      edits_[i]->selectAll();
      return;
    }
  }
  rtf::ParaFormat para = editor_ ? editor_->CurrentParagraph() : paragraph_;
  para.spaceBefore = twips_[kSpaceBefore];
  para.lineHeight = twips_[kLineHeight];
  para.spaceAfter = twips_[kSpaceAfter];
  para.leftIndent = twips_[kLeftIndent];
  para.firstIndent = twips_[kFirstIndent] - twips_[kLeftIndent];
  para.rightIndent = twips_[kRightIndent];
  if (editor_) editor_->SetCurrentParagraph(para);
  paragraph_ = para;
  done(QDialog::Accepted);
}

}  // namespace qv::app
