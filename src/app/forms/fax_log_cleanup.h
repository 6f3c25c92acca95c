#pragma once
// "Fax Log Cleanup Utility": deletes outgoing and received fax records in bulk (the current
// one, all before a date, all sent or unsent, all matching a sender, recipient or number, or
// all), choosing the records by xBase conditions that the table engine evaluates. A received
// fax goes together with its image file in the receive folder: one is never removed without
// the other.

#include <QDate>
#include <QDialog>
#include <QStringList>

#include <string>

class QAction;
class QLabel;
class QMenu;
class QTabWidget;
class QTableView;

namespace qv::app {

class TablePair;
class TTableModel;
class ReceiveFolder;
enum class ConditionField;

// The record selections of the commands.
inline constexpr const char* kSentExpression = ".not. EMPTY(DATESENT)";
inline constexpr const char* kNotSentExpression = "EMPTY(DATESENT)";
inline constexpr const char* kAllFaxesExpression = ".true.";
// Faxes sent (outgoing) or received before a date; faxes without a date are never taken. The
// year is written with its century, so a date far from today cannot fall into another century.
std::string BeforeDateExpression(bool outgoing, const QDate& date);
// Faxes whose trimmed, upper-cased field equals (exact) or contains the trimmed, upper-cased
// text. The text is quoted with a delimiter it does not hold, so it is always only text; empty
// when it holds every delimiter and so cannot be quoted.
std::string ConditionExpression(ConditionField field, const QString& text, bool exact);

inline constexpr int kFaxLogCleanupHelpTopic = 21071;

class TDMForm : public QDialog {
  Q_OBJECT
 public:
  enum Page { kOutgoingPage = 0, kIncomingPage = 1 };

  // mainWindow: what the dialogs of the commands are centred over.
  TDMForm(TablePair& fax, TablePair& rec, const QString& dataDir, QWidget* mainWindow,
          QWidget* parent = nullptr);
  ~TDMForm() override;

  // Something was deleted (the opener rebuilds the indexes then).
  bool AnythingDeleted() const { return deleted_; }

  int CurrentPage() const;
  void SetCurrentPage(int page);
  TTableModel* SendModel() const { return sendModel_; }
  TTableModel* RecModel() const { return recModel_; }
  QString ProgressText() const;

  // Runs once, when the form is first shown (tests may call it themselves).
  void FormActivate();
  void UpdateControls();

 public slots:
  void mnuToggleDeletedStateClick();
  void mnuAllBeforeDateClick();
  void mnuDeleteAllthatHaveBeenSentClick();
  void mnuDeleteAllThatHaveNOTBeenSentClick();
  void mnuDeleteAllFaxesMeetingCertainConditionsClick();
  void DeleteAllFaxes1Click();
  void HelpClick();

 public:
  // Deletes every record of the current page's table for which the expression holds and that
  // is not deleted already; reports and returns the count.
  int DeleteFor(const std::string& expression);

 signals:
  void HelpRequested(int topic);

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  struct Problems {
    QStringList keptFiles;     // "name: reason" of fax files that could not be removed
    QStringList keptRecords;   // records the table refused to delete
  };
  TablePair& PageTable();
  TTableModel* PageModel();
  QTableView* PageGrid();
  bool Outgoing() const { return CurrentPage() == kOutgoingPage; }
  // Deletes the current record of the table and, given the receive folder, a received fax's
  // file; false when kept.
  bool DeleteCurrentRecord(TablePair& pair, ReceiveFolder* receive, Problems& problems);
  void ReportProblems(const Problems& problems);
  void SyncCurrentRecord(QTableView* grid, TTableModel* model);
  void GridDoubleClick(QTableView* grid, TTableModel* model, const QModelIndex& index);
  void RestoreQueries();

  TablePair& fax_;
  TablePair& rec_;
  QString dataDir_;
  QWidget* mainWindow_;
  bool deleted_ = false;
  bool activated_ = false;
  bool queriesSaved_ = false;
  std::string faxQuery_;
  std::string recQuery_;

  QTabWidget* PageControl1_ = nullptr;
  QWidget* outgoing_ = nullptr;
  QWidget* incoming_ = nullptr;
  QTableView* SendGrid_ = nullptr;
  QTableView* RecGrid_ = nullptr;
  TTableModel* sendModel_ = nullptr;
  TTableModel* recModel_ = nullptr;
  QMenu* mnuActions_ = nullptr;
  QMenu* popup_ = nullptr;
  QAction* mnuDeleteAllthatHaveBeenSent_ = nullptr;
  QAction* mnuDeleteAllThatHaveNOTBeenSent_ = nullptr;
  QLabel* progress_ = nullptr;
};

}  // namespace qv::app
