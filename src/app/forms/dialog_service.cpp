#include "app/forms/dialog_service.h"

#include "comm/dispatcher_list.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>

namespace qv::app {

namespace {
QtDialogService& QtService() {
  static QtDialogService service;
  return service;
}
DialogService* g_service = nullptr;
}  // namespace

std::optional<int> AskBeforeLosingChanges(QWidget* form, const QString& question, bool modified, int result) {
  if (result == QDialog::Accepted || !modified) return result;
  switch (Dialogs().YesNoCancel(form, form->windowTitle(), question)) {
    case DialogService::Choice::Yes: return QDialog::Accepted;
    case DialogService::Choice::No: return result;
    case DialogService::Choice::Cancel: break;
  }
  return std::nullopt;
}

QString DisplayText(const QString& text) {
  QString out = text;
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return out;
}

void QtDialogService::Information(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Information, caption, DisplayText(text), QMessageBox::Ok, parent);
  box.exec();
}

bool QtDialogService::Question(QWidget* parent, const QString& caption, const QString& text,
                               bool defaultYes) {
  QMessageBox box(QMessageBox::Question, caption, DisplayText(text),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

DialogService::Choice QtDialogService::YesNoCancel(QWidget* parent, const QString& caption,
                                                   const QString& text) {
  QMessageBox box(QMessageBox::Question, caption, DisplayText(text),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Yes: return Choice::Yes;
    case QMessageBox::No: return Choice::No;
    default: return Choice::Cancel;
  }
}

void QtDialogService::Error(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Quorvane"), DisplayText(text),
                  QMessageBox::Ok, parent);
  box.exec();
}

QString QtDialogService::OpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                      const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString QtDialogService::SaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                      const QString& filter) {
  return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

int QtDialogService::Exec(QDialog* dialog) { return dialog->exec(); }

void QtDialogService::Beep() { QApplication::beep(); }

DialogService& Dialogs() { return g_service ? *g_service : QtService(); }

DialogService* SetDialogs(DialogService* service) {
  DialogService* previous = g_service;
  g_service = service;
  return previous;
}

void ConnectExceptionDisplay() {
  comm::SetExceptionDisplay([](const std::string& message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    const QString text = QString::fromStdString(message);
    QMetaObject::invokeMethod(app, [text] { Dialogs().Error(nullptr, text); }, Qt::QueuedConnection);
  });
}

}  // namespace qv::app
