#pragma once
// "Phone Book Browser": the names and fax numbers to send to. Managing mode (from the main
// window) adds, edits and deletes entries and imports or exports contacts; choosing mode (from
// the fax editor) hands back the entry the user accepts. The browser has its own table pair over
// the phone book file, opened by its opener and closed when the browser goes.

#include <QDialog>
#include <QHash>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace qv::app {

class TFaxStore;
class TTableModel;
class TablePair;

inline constexpr int kPhoneBookHelpTopic = 1019;
inline constexpr const char* kPhoneBookOpenFailedText = "The phone book (QRVPB.DBF) cannot be opened.";

enum class ContactFileFormat { VCard4, VCard3, Csv };

// One entry as a choice hands it back.
struct TPhoneEntry {
  QString name;
  QString number;
  bool operator==(const TPhoneEntry&) const = default;
};

class TPhoneBook : public QDialog {
  Q_OBJECT
 public:
  TPhoneBook(TFaxStore& store, QWidget* mainWindow);
  ~TPhoneBook() override;

  // Opens the browser's own pair with the phone-book opening routine; false when it failed.
  bool OpenTable();
  TablePair& PhoneTable() { return *PhoneTable_; }
  // Choosing mode: Close hidden, Accept and Cancel shown.
  void SetChoosing();
  bool Choosing() const { return choosing_; }
  // Choosing several: the grid selects many rows and Accept hands back every one selected.
  void SetChoosingMany();
  const std::vector<TPhoneEntry>& Results() const { return results_; }

  // What Accept hands back.
  const QString& ResultName() const { return resultName_; }
  const QString& ResultNumber() const { return resultNumber_; }

  QTableView* PhoneGrid() const { return PhoneGrid_; }
  QLineEdit* SearchEdit() const { return SearchEdit_; }
  TTableModel* Model() const { return model_; }
  int CurrentRow() const;
  QString CurrentName();

  // Reads contacts from a vCard or CSV file, shows what would be added and skipped, and adds the
  // new ones when the user agrees. Returns the number of entries added.
  int ImportFile(const QString& path);
  // Writes every entry; false (and the reason shown) when the file cannot be written.
  bool ExportFile(const QString& path, ContactFileFormat format);

 signals:
  void HelpRequested(int topic);

 public slots:
  void SetButtons();
  void AddbuttonClick();
  void ModifybuttonClick();
  void DeletebuttonClick();
  void OKButtonClick();
  void HelpbuttonClick();
  void ImportbuttonClick();
  void ExportClick(ContactFileFormat format);
  // Incremental search: the first name beginning with the text, through the NAME tag.
  void Search(const QString& text);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Reload();
  void SelectCurrent();
  bool HasRecord();
  std::vector<std::string> ExistingKeys();

  TFaxStore& store_;
  QWidget* mainWindow_;
  std::unique_ptr<TablePair> PhoneTable_;
  TTableModel* model_ = nullptr;
  QHash<int, int> rowOfRecNo_;  // the grid's rows by record number, for the search
  bool choosing_ = false;
  QString resultName_;
  QString resultNumber_;
  bool many_ = false;
  std::vector<TPhoneEntry> results_;

  QTableView* PhoneGrid_ = nullptr;
  QLineEdit* SearchEdit_ = nullptr;
  QLabel* SearchStatus_ = nullptr;
  QPushButton* Addbutton_ = nullptr;
  QPushButton* Modifybutton_ = nullptr;
  QPushButton* Deletebutton_ = nullptr;
  QPushButton* Importbutton_ = nullptr;
  QPushButton* Exportbutton_ = nullptr;
  QPushButton* Closebutton_ = nullptr;
  QPushButton* Cancelbutton_ = nullptr;
  QPushButton* OKButton_ = nullptr;
  QPushButton* Helpbutton_ = nullptr;
};

// The phone book command: creates the browser, opens its table (reporting a failure) and shows it
// centred over the main window, managing or choosing. True when an entry was accepted; then
// name and number receive it.
bool RunPhoneBook(TFaxStore& store, QWidget* mainWindow, bool choosing, QString* name = nullptr,
                  QString* number = nullptr);
// The same choosing several entries (in the grid's order); true when some were accepted.
bool RunPhoneBookMany(TFaxStore& store, QWidget* mainWindow, std::vector<TPhoneEntry>& chosen);

}  // namespace qv::app
