#include "app/contacts/phone_book_editor.h"

#include "app/contacts/contact_import.h"
#include "app/editor/field_limit.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qv::app {

TPhoneBookEditor::TPhoneBookEditor(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PhoneBookEditor"));
  setWindowTitle(QStringLiteral("Phone Book Editor"));
  setAccessibleName(windowTitle());

  auto edit = [this](const char* name, const QString& hint, size_t width) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    LimitToField(e, width);
    e->setToolTip(hint);
    e->setPlaceholderText(hint);
    e->setAccessibleName(hint);
    e->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
    return e;
  };
  Name_ = edit("Name", QStringLiteral("Type the recipient's name here"), kPhoneNameWidth);
  Number_ = edit("Number", QStringLiteral("Type the fax number here"), kPhoneNumberWidth);

  auto button = [this](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    return b;
  };
  QPushButton* ok = button("OKButton", QStringLiteral("&Accept"));
  QPushButton* cancel = button("Cancelbutton", QStringLiteral("Cance&l"));
  QPushButton* help = button("Helpbutton", QStringLiteral("&Help"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, [this] { done(kModalAccept); });
  connect(cancel, &QPushButton::clicked, this, [this] { done(kModalCancel); });
  connect(help, &QPushButton::clicked, this, [this] { emit HelpRequested(kPhoneBookEditorHelpTopic); });

  auto* form = new QFormLayout;
  auto label = [this](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, this);
    l->setBuddy(buddy);
    return l;
  };
  form->addRow(label(QStringLiteral("&Name:"), Name_), Name_);
  form->addRow(label(QStringLiteral("Fax &#:"), Number_), Number_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
}

}  // namespace qv::app
