#pragma once
// "Cover Sheet Template Browser": the cover sheet templates of the main window's cover table.
// Managing mode (from the main window) adds, clones, edits and deletes templates; choosing mode
// (the fax editor's "Load Template") leaves the table on the template the user accepts.

#include <QDialog>
#include <QString>

#include <functional>

class QPushButton;
class QTableView;

namespace qv::app {

class TCoverEditor;
class TFaxStore;
class TRichEditMemo;
class TTableModel;
class TablePair;

inline constexpr int kCoverBrowseHelpTopic = 1017;
inline constexpr const char* kCoverOpenFailedText =
    "The cover sheet templates (QRVCOV.DBF) cannot be opened.";

class TCoverBrowse : public QDialog {
  Q_OBJECT
 public:
  // The cover table must be open (TFaxStore::OpenCoverDBF).
  TCoverBrowse(TFaxStore& store, QWidget* mainWindow);
  ~TCoverBrowse() override;

  void SetChoosing();
  QTableView* CoverGrid() const { return CoverGrid_; }
  TTableModel* Model() const { return model_; }
  bool CloneRequest() const { return cloneRequest_; }

 signals:
  void HelpRequested(int topic);

 public slots:
  void SetButtons();
  void NewButtonClick();
  void CloneButtonClick();
  void ModifyButtonClick();
  void DeleteButtonClick();
  void AcceptbuttonClick();
  void HelpButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TablePair& Table();
  bool HasRecord();
  void Reload();
  // The editor's description and text into a new template or the current one; a failure is
  // reported over the editor, which then stays open.
  bool StoreTemplate(TCoverEditor& editor, TRichEditMemo& memo, bool append);

  TFaxStore& store_;
  QWidget* mainWindow_;
  QString dataDir_;
  TTableModel* model_ = nullptr;
  bool cloneRequest_ = false;

  QTableView* CoverGrid_ = nullptr;
  QPushButton* NewButton_ = nullptr;
  QPushButton* ModifyButton_ = nullptr;
  QPushButton* CloneButton_ = nullptr;
  QPushButton* DeleteButton_ = nullptr;
  QPushButton* CloseButton_ = nullptr;
  QPushButton* CancelButton_ = nullptr;
  QPushButton* Acceptbutton_ = nullptr;
  QPushButton* HelpButton_ = nullptr;
};

// The cover sheets command: opens the cover table (reporting a failure), shows the browser centred
// over the main window, managing or choosing, and closes the table again. On Accept in choosing
// mode `accepted` runs while the table is still on the chosen template. True when accepted.
bool RunCoverBrowse(TFaxStore& store, QWidget* mainWindow, bool choosing,
                    const std::function<void(TablePair&)>& accepted = {});

}  // namespace qv::app
