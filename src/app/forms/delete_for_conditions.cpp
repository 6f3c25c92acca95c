#include "app/forms/delete_for_conditions.h"

#include "app/forms/dialog_service.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {
// Widths of the FROM, RECIPIENT and PHONE fields.
constexpr int kFromWidth = 20;
constexpr int kRecipientWidth = 35;
constexpr int kPhoneWidth = 25;
}  // namespace

TDeleteForConditions::TDeleteForConditions(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DeleteForConditions"));
  setWindowTitle(QStringLiteral("Delete Faxes Where...."));

  auto choice = [this](const char* name, const QString& caption) {
    auto* r = new QRadioButton(caption, this);
    r->setObjectName(QString::fromLatin1(name));
    r->setAccessibleName(caption);
    return r;
  };
  auto edit = [this](const char* name, int width, const QString& label) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    e->setMaxLength(width);
    e->setAccessibleName(label);
    e->setMinimumWidth(fontMetrics().averageCharWidth() * 30);
    return e;
  };
  rFrom_ = choice("rFrom", QStringLiteral("Fax is FROM:"));
  rRecipient_ = choice("rRecipient", QStringLiteral("RECIPIENT is:"));
  rPhone_ = choice("rPhone", QStringLiteral("FAX # is:"));
  FaxFROM_ = edit("FaxFROM", kFromWidth, QStringLiteral("Fax is FROM"));
  FaxRECIPIENT_ = edit("FaxRECIPIENT", kRecipientWidth, QStringLiteral("RECIPIENT is"));
  FaxPHONE_ = edit("FaxPHONE", kPhoneWidth, QStringLiteral("FAX # is"));
  ExactMatch_ = new QCheckBox(QStringLiteral("Text must match exactly"), this);
  ExactMatch_->setObjectName(QStringLiteral("ExactMatch"));
  ExactMatch_->setAccessibleName(ExactMatch_->text());
  ExactMatch_->setChecked(true);
  auto* note = new QLabel(QStringLiteral("(uncheck to allow  partial matches)"), this);
  note->setObjectName(QStringLiteral("Label1"));
  ExactMatch_->setAccessibleDescription(note->text());
  rFrom_->setChecked(true);

  // Typing into an edit selects its choice.
  for (auto [r, e] : {std::pair{rFrom_, FaxFROM_}, std::pair{rRecipient_, FaxRECIPIENT_},
                      std::pair{rPhone_, FaxPHONE_}}) {
    QRadioButton* radio = r;
    connect(e, &QLineEdit::textEdited, radio, [radio] { radio->setChecked(true); });
  }

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("OkButton"));
  ok->setAccessibleName(QStringLiteral("Ok"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  connect(ok, &QPushButton::clicked, this, &TDeleteForConditions::OkClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* grid = new QGridLayout;
  grid->addWidget(rFrom_, 0, 0);
  grid->addWidget(FaxFROM_, 0, 1);
  grid->addWidget(rRecipient_, 1, 0);
  grid->addWidget(FaxRECIPIENT_, 1, 1);
  grid->addWidget(rPhone_, 2, 0);
  grid->addWidget(FaxPHONE_, 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(ExactMatch_);
  layout->addWidget(note);
  layout->addLayout(buttons);
}

void TDeleteForConditions::SetupOutgoing(const QString& recipient, const QString& phone) {
  rFrom_->setEnabled(false);
  FaxFROM_->setEnabled(false);
  rRecipient_->setChecked(true);
  FaxRECIPIENT_->setText(recipient);
  FaxPHONE_->setText(phone);
}

void TDeleteForConditions::SetupReceived(const QString& from) {
  for (QWidget* w : std::initializer_list<QWidget*>{rRecipient_, FaxRECIPIENT_, rPhone_, FaxPHONE_}) {
    w->setEnabled(false);
  }
  rFrom_->setChecked(true);
  FaxFROM_->setText(from.trimmed());
}

ConditionField TDeleteForConditions::Field() const {
  if (rRecipient_->isChecked()) return ConditionField::Recipient;
  if (rPhone_->isChecked()) return ConditionField::Phone;
  return ConditionField::From;
}

QString TDeleteForConditions::Text() const {
  switch (Field()) {
    case ConditionField::Recipient: return FaxRECIPIENT_->text();
    case ConditionField::Phone: return FaxPHONE_->text();
    case ConditionField::From: break;
  }
  return FaxFROM_->text();
}

bool TDeleteForConditions::Exact() const { return ExactMatch_->isChecked(); }

void TDeleteForConditions::OkClick() {
  if (Text().trimmed().isEmpty()) {
    Dialogs().Information(this, QStringLiteral("Please enter a value"));
    return;
  }
  if (Dialogs().Question(this, QStringLiteral("VERIFY DELETE"),
                         QStringLiteral("Are you sure you wish to delete all faxes matching this criteria?"),
                         false)) {
    accept();
  }
}

}  // namespace qv::app
