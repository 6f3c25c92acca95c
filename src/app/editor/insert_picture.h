#pragma once
// The editors' picture and PDF buttons: the file is asked for, a PDF shows its progress (and
// can be stopped), and a file that cannot be read is reported with its reason. Shared by every
// form that holds a rich text editor.

class QWidget;

namespace qv::ui {
class TQvRichEdit;
}

namespace qv::app {

// Answers the editor's InsertPictureRequested and InsertPdfRequested for the given form.
void ConnectPictureImport(QWidget* form, qv::ui::TQvRichEdit* editor);

// The two commands themselves (the connection calls them).
void InsertPictureCommand(QWidget* form, qv::ui::TQvRichEdit* editor);
void InsertPdfCommand(QWidget* form, qv::ui::TQvRichEdit* editor);

}  // namespace qv::app
