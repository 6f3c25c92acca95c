#pragma once
// TQvFaxPrinterStatus: the window a fax printer shows while it prints: the fax's file name, page
// count, resolution and width, the range being printed, the current step and page, and an Abort
// button that stops the print.

#include <QDialog>

class QLabel;
class QPushButton;

namespace qv::ui {

class TQvCustomFaxPrinter;

class TQvFaxPrinterStatus : public QDialog {
  Q_OBJECT
 public:
  explicit TQvFaxPrinterStatus(QWidget* parent = nullptr);

  // Linked by the printer (SetStatusDisplay); the window reads its state from it.
  void SetPrinter(TQvCustomFaxPrinter* printer) { printer_ = printer; }
  TQvCustomFaxPrinter* Printer() const { return printer_; }

  // Shows the printer's current state.
  void Refresh();
  // "%s %d of %d": progress text, page being printed, last page to print.
  QString StatusLine() const;

  QPushButton* AbortButton() const { return abort_; }

 private:
  TQvCustomFaxPrinter* printer_ = nullptr;
  QLabel* fileName_ = nullptr;
  QLabel* totalPages_ = nullptr;
  QLabel* resolution_ = nullptr;
  QLabel* width_ = nullptr;
  QLabel* firstPage_ = nullptr;
  QLabel* lastPage_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* abort_ = nullptr;
};

}  // namespace qv::ui
