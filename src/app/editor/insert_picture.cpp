#include "app/editor/insert_picture.h"

#include "app/forms/dialog_service.h"
#include "ui/rich_edit.h"

#include <QApplication>
#include <QObject>
#include <QProgressDialog>

#include <string>

namespace qv::app {

namespace {

const char* const kPictureFilter = "Pictures (*.png *.jpg *.jpeg *.bmp *.gif);;All files (*)";
const char* const kPdfFilter = "PDF documents (*.pdf);;All files (*)";
// A PDF of a page or two is read before a progress window would be worth showing.
constexpr int kProgressDelayMs = 400;

QString Reason(const std::string& error, const QString& fileName) {
  return error.empty() ? QStringLiteral("Unable to read %1").arg(fileName) : QString::fromStdString(error);
}

}  // namespace

void InsertPictureCommand(QWidget* form, ui::TQvRichEdit* editor) {
  const QString file = Dialogs().OpenFileName(form, QStringLiteral("Insert Picture"), QString(),
                                              QString::fromLatin1(kPictureFilter));
  if (file.isEmpty()) return;
  std::string error;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = editor->InsertPicture(file, &error);
  QApplication::restoreOverrideCursor();
  if (!ok) Dialogs().Information(form, Reason(error, file));
}

void InsertPdfCommand(QWidget* form, ui::TQvRichEdit* editor) {
  const QString file = Dialogs().OpenFileName(form, QStringLiteral("Insert PDF Pages"), QString(),
                                              QString::fromLatin1(kPdfFilter));
  if (file.isEmpty()) return;
  QProgressDialog progress(QStringLiteral("Reading the pages of the PDF..."), QStringLiteral("Cancel"), 0, 1, form);
  progress.setObjectName(QStringLiteral("PdfProgress"));
  progress.setWindowTitle(QStringLiteral("Insert PDF Pages"));
  progress.setAccessibleName(QStringLiteral("Reading the pages of the PDF"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(kProgressDelayMs);
  bool cancelled = false;
  std::string error;
  const bool ok = editor->InsertPdfPages(file, &error, [&](int done, int total) {
    progress.setMaximum(total);
    progress.setValue(done);
    progress.setLabelText(QStringLiteral("Reading page %1 of %2...").arg(done + 1 > total ? total : done + 1).arg(total));
    QApplication::processEvents();
    cancelled = progress.wasCanceled();
    return !cancelled;
  });
  progress.reset();
  // Stopping is the user's own choice: nothing was inserted and nothing needs saying.
  if (!ok && !cancelled) Dialogs().Information(form, Reason(error, file));
}

void ConnectPictureImport(QWidget* form, ui::TQvRichEdit* editor) {
  QObject::connect(editor, &ui::TQvRichEdit::InsertPictureRequested, form,
                   [form, editor] { InsertPictureCommand(form, editor); });
  QObject::connect(editor, &ui::TQvRichEdit::InsertPdfRequested, form,
                   [form, editor] { InsertPdfCommand(form, editor); });
}

}  // namespace qv::app
