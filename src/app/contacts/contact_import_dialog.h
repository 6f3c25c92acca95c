#pragma once
// "Import Contacts": what an import would add to the phone book and what it passes over, and why,
// before anything is written.

#include <QDialog>

#include "app/contacts/contact_import.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace qv::app {

inline constexpr int kContactImportHelpTopic = 1030;

class TImportPreview : public QDialog {
  Q_OBJECT
 public:
  TImportPreview(const QString& fileName, const ContactList& parsed, const ImportPlan& plan,
                 QWidget* parent = nullptr);

  QTableWidget* PreviewGrid() const { return PreviewGrid_; }
  QTableWidget* SkippedGrid() const { return SkippedGrid_; }
  QString Summary() const;
  QPushButton* ImportButton() const { return ImportButton_; }

 signals:
  void HelpRequested(int topic);

 private:
  QLabel* Summary_ = nullptr;
  QTableWidget* PreviewGrid_ = nullptr;
  QTableWidget* SkippedGrid_ = nullptr;
  QPushButton* ImportButton_ = nullptr;
};

// "3 contacts to add; 2 skipped: 1 no phone or fax number, 1 already in the phone book."
QString ImportSummary(const ImportPlan& plan);

}  // namespace qv::app
