#include "app/forms/edit_receive_notes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv::app {

namespace {
constexpr int kNotesWidth = 60;  // width of the NOTES field
}

TEditReceiveNotes::TEditReceiveNotes(const QString& from, const QString& notes, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("EditReceiveNotes"));
  setWindowTitle(QStringLiteral("Received Fax Notes"));

  fromLabel_ = new QLabel(QStringLiteral("From: ") + from, this);
  fromLabel_->setObjectName(QStringLiteral("FromLabel"));
  notesEdit_ = new QLineEdit(notes, this);
  notesEdit_->setObjectName(QStringLiteral("NotesEdit"));
  notesEdit_->setMaxLength(kNotesWidth);
  notesEdit_->setAccessibleName(QStringLiteral("Notes"));
  notesEdit_->setAccessibleDescription(fromLabel_->text());
  notesEdit_->setMinimumWidth(fontMetrics().averageCharWidth() * 50);

  auto* accept = new QPushButton(QStringLiteral("&Accept"), this);
  accept->setObjectName(QStringLiteral("AcceptButton"));
  accept->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cance&l"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  accept->setAccessibleName(QStringLiteral("Accept"));
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  connect(accept, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(accept);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fromLabel_);
  layout->addWidget(notesEdit_);
  layout->addLayout(buttons);
}

QString TEditReceiveNotes::Notes() const { return notesEdit_->text(); }

}  // namespace qv::app
