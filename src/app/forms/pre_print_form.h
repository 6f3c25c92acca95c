#pragma once
// TPrePrintForm: the page range and print options asked before a fax is printed, and the print
// flow that the fax viewer and the main window share.

#include <QDialog>
#include <QString>

#include <string>

class QCheckBox;
class QPushButton;
class QSpinBox;

namespace qv::ui {
class TQvFaxPrinter;
}

namespace qv::app {

class TPrePrintForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPrePrintForm(QWidget* parent = nullptr);

  QSpinBox* FromPage() const { return FromPage_; }
  QSpinBox* ToPage() const { return ToPage_; }
  QCheckBox* PrintMultiPage() const { return PrintMultiPage_; }
  QCheckBox* StretchToFit() const { return StretchToFit_; }
  QCheckBox* PrintHeader() const { return PrintHeader_; }
  QCheckBox* PrintFooter() const { return PrintFooter_; }
  QPushButton* OkButton() const { return OkButton_; }
  QPushButton* CancelButton() const { return CancelButton_; }

  // Accepts only when the range is in order (or the range is fixed); otherwise beeps.
  void OkButtonClick();

 private:
  QSpinBox* FromPage_ = nullptr;
  QSpinBox* ToPage_ = nullptr;
  QCheckBox* PrintMultiPage_ = nullptr;
  QCheckBox* StretchToFit_ = nullptr;
  QCheckBox* PrintHeader_ = nullptr;
  QCheckBox* PrintFooter_ = nullptr;
  QPushButton* OkButton_ = nullptr;
  QPushButton* CancelButton_ = nullptr;
};

// Asks for the range and options and prints. `currentPage` > 0 prints only that page (never
// several to a sheet); 0 prints the whole fax, offering the range kept in `rangeSet` / the
// printer (1 .. page count when `rangeSet` is false, which it then becomes). The options are read
// from and written to the "Printing" section of `iniFile`. A print that fails shows its reason.
// True when something was printed.
bool RunPrintFlow(QWidget* parent, qv::ui::TQvFaxPrinter& printer, const QString& faxFile,
                  const QString& headerText, int currentPage, bool& rangeSet,
                  const std::string& iniFile);

}  // namespace qv::app
