#pragma once
// The main window: outgoing and received faxes on two pages, the commands on a tool bar and in the
// menus, and the program's mode.

#include "app/flows/internet_line.h"
#include "app/flows/practice_line.h"
#include "app/flows/receive_service.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <string>

class QAction;
class QLabel;
class QStackedWidget;
class QTabBar;
class QTableView;
class QToolButton;
class QSoundEffect;

namespace qv::ui {
class TQvFaxPrinter;
}
namespace qv::comm {
class TQvComPort;
}
namespace qv::fax {
class TQvAbstractFax;
class TQvReceiveFax;
}

namespace qv::app {

class TArrivalNotice;
class TOutbox;
class TOutboxObserver;
class TFaxEditor;
class TFaxStore;
class TPrintJobs;
class TStartingFaxForm;
struct TTakenJob;
class TRichEditMemo;
class TTableModel;
enum class TableId;

class TMainScreen : public QMainWindow, private TReceiveObserver {
  Q_OBJECT
 public:
  enum Page { kOutgoingPage = 0, kIncomingPage = 1 };

  explicit TMainScreen(const QString& dataDir, QWidget* parent = nullptr);
  ~TMainScreen() override;

  TFaxStore& Store() { return *store_; }
  QString DataDir() const { return dataDir_; }
  std::string IniFile() const;
  bool TablesOpen() const { return tablesOpen_; }

  int CurrentPage() const;
  void SetCurrentPage(int page);

  bool ReceiveMode() const { return receiveMode_; }
  // Receive mode as the window shows it (the STOP button, the guard); the receive service switches it.
  void SetReceiveMode(bool on);
  // A fax is being received now (closing the window asks first).
  bool ReceivingNow() const;
  void SetReceivingNow(bool on);
  bool CloneRequest() const { return cloneRequest_; }
  bool QuickSetupDue() const { return quickSetupDue_; }
  bool FirstActivationDone() const { return !firstActivation_; }
  // The practice line's modems run (the settings chose it and it started).
  bool PracticeLineRunning() const { return practice_ && practice_->Running(); }
  // What carries the faxes, in plain words (the About box says it).
  QString LineInUse() const;

  void SetStatus(const QString& text);
  QString StatusText() const;

  // Refreshes both grids from their tables.
  void RefreshGrids();

  // Renders the current outgoing fax (cover sheet, then document) into one QVF file in the data
  // directory and sets PageCount(); the caller deletes the file. Empty, after telling the user,
  // when there is nothing to send or the file cannot be made (no working file is left then).
  QString CreateFaxFile();
  // Pages of the last fax rendered by CreateFaxFile.
  int PageCount() const { return pageCount_; }
  // The window's own fax printer (status window and print log in the data directory), for the
  // Print command and print on receipt: set FileName, range and options, then PrintFax(); or use
  // TQvFaxPrinter::PrintFaxFile for a one-call print.
  qv::ui::TQvFaxPrinter& FaxPrinter();
  // Receive mode (receive_mode.cpp): the service's port and component.
  TReceiveService& Receive() { return *receive_; }
  // The print jobs of the fax printer (null until the window's first activation).
  TPrintJobs* PrintJobs() { return printJobs_.get(); }
  // The queue of faxes to send later or again (receive_mode.cpp starts and stops it).
  TOutbox& Outbox() { return *outbox_; }
  qv::comm::TQvComPort& QvComPort1();
  qv::fax::TQvReceiveFax& QvReceiveFax1();
  TArrivalNotice& ArrivalNotice() { return *arrivalNotice_; }
  // Selects the received fax of that file on the incoming page and opens it in the viewer.
  void ViewReceivedFile(const QString& fileName);
  TStartingFaxForm* StartingFaxForm() const { return StartingFaxForm_; }

 public slots:
  void SetButtons();
  void FormActivate();
  void FaxArrived();

  void NewbuttonClick();
  void EditButtonClick();
  void DeleteButtonClick();
  void SendButtonClick();
  void ReceiveButtonClick();
  void mnuViewPrintClick();
  void PrintbuttonClick();
  void mnuCloneClick();
  // Reply to or forward the current received fax: a new outgoing fax whose document is the
  // received pages with their marks (reply_fax.h), opened in the fax editor to confirm.
  void mnuReplyClick();
  void mnuForwardClick();
  void mnuCoverClick();
  void mnuPhoneBookClick();
  void mnuRebuildIndexesClick();
  void mnuPreferencesClick();
  void FaxlogCleanup1Click();
  void ConfigurationInformation1Click();
  void VisitOurInternetWebsite1Click();
  void HelpTopic(int topic);
  void Contents1Click();
  void FaqClick();
  void TechnicalHelpClick();
  void TechnicalSupportClick();
  void FormCloseRequest();
  void About1Click();
  void mnuShowHintClick();
  void RebuildIndexes();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void FormCreate();
  void BuildToolBar();
  void BuildMenus();
  void BuildPages();
  QAction* MenuItem(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                    void (TMainScreen::*slot)());
  QToolButton* ToolButton(const char* name, const QString& caption, const QString& hint,
                          int icon, void (TMainScreen::*slot)());
  void SetHint(QObject* control, const QString& hint);
  void ApplyHints();
  // The receive-mode guard: true (and the box shown) when the command must not run.
  bool Guarded();
  void NotAvailable();
  void ViewOrPrint(bool print);
  void EditReceivedNotes();
  // True when the editor stored the fax.
  bool EditOutgoing();
  // Runs Reply (forward false) or Forward for the received table's current record.
  void ReplyToReceived(bool forward);
  // The fax printer: jobs watched from the first activation on; each taken job is told, and
  // "Check and Send" opens it in the editor and then the Send Fax dialog.
  void StartPrintJobs();
  void PrintJobTaken(const TTakenJob& job);
  void PrintJobRefused(const QString& folder, const QString& why);
  // Outgoing record <-> fax editor: the memos through the store's rich-text routine and the three
  // fields. A memo that cannot be read is reported and, unless the user lets it be replaced, left
  // read-only and not written back. The store is all or nothing: a new record (append) or the
  // current one; a failure is reported over the editor and gives false.
  void LoadEditorFromRecord(TFaxEditor& editor, TRichEditMemo& cover, TRichEditMemo& doc);
  bool StoreEditorInRecord(TFaxEditor& editor, TRichEditMemo& cover, TRichEditMemo& doc, bool append);
  bool StoreEditorAs(TFaxEditor& editor, TRichEditMemo& cover, TRichEditMemo& doc, bool append,
                     const QString& recipient, const QString& number);
  bool StoreBroadcast(TFaxEditor& editor, TRichEditMemo& cover, TRichEditMemo& doc);
  void SyncCurrentRecord(TableId id);
  void FormCloseQueryTables();
  void SaveOnClose();
  // Starts, restarts or stops the Internet fax line as its settings say; while it runs, its
  // modem takes the chosen COM port's place.
  void ApplyInternetLine();
  void StopInternetLine();
  // The line the settings choose: the practice line, else the Internet line (else the modem's
  // port, which needs nothing started). A practice line chosen just now (it was off before)
  // brings the practice fax and receive mode, so the user can send at once and see it arrive.
  void ApplyLine(bool practiceWasOn);
  void StartPracticeLine();
  void StopPracticeLine();
  // The main window says whether faxes go anywhere: the note and the title.
  void ShowPracticeNote(bool on);
  // Puts the practice fax into the Outgoing list and selects it.
  void AddPracticeFax();
  void SetHourglass(bool on);
  void ConnectReceiveComponent();
  // What the receive service shows and asks (receive_mode.cpp).
  void FlowBusy(bool busy) override;
  void FlowStatus(const QString& text) override;
  void FlowInformation(const QString& text) override;
  void FlowError(const QString& title, const QString& text, bool stays) override;
  bool FlowAskContinue(const QString& title, const QString& text) override;
  void ReceiveStarting() override;
  void ReceiveNotice(bool shown) override;
  void ReceiveModeChanged(bool on) override;
  void ReceiveReady() override;
  void ReceivedTableChanged() override;
  void FaxFiled() override;
  void FaxArrived(const QString& file, const QString& from, int pages, const QString& printProblem) override;

  QString dataDir_;
  std::unique_ptr<TFaxStore> store_;
  bool tablesOpen_ = false;

  // Window state.
  bool cloneRequest_ = false;
  int pageCount_ = 0;
  bool receiveMode_ = false;
  std::unique_ptr<TInternetLine> line_;
  int linePort_ = 0;  // the COM number the line stands in for; 0 while none
  std::unique_ptr<TPracticeLine> practice_;
  QLabel* practiceNote_ = nullptr;
  bool firstActivation_ = true;
  bool quickSetupDue_ = false;
  bool closeSaved_ = false;
  bool activationQueued_ = false;
  QString helpFile_;

  // Controls.
  QToolButton* Newbutton_ = nullptr;
  QToolButton* EditButton_ = nullptr;
  QToolButton* DeleteButton_ = nullptr;
  QToolButton* SendButton_ = nullptr;
  QToolButton* ReceiveButton_ = nullptr;
  QToolButton* ViewFaxButton_ = nullptr;
  QToolButton* Printbutton_ = nullptr;
  QToolButton* Exitbutton_ = nullptr;
  QAction* mnuNew_ = nullptr;
  QAction* mnuEdit_ = nullptr;
  QAction* mnuClone_ = nullptr;
  QAction* mnuDelete_ = nullptr;
  QAction* mnuSend_ = nullptr;
  QAction* mnuReceive_ = nullptr;
  QAction* mnuViewPrint_ = nullptr;
  QAction* mnuReply_ = nullptr;
  QAction* mnuForward_ = nullptr;
  QAction* mnuShowHint_ = nullptr;
  QStackedWidget* NoteBook_ = nullptr;
  QTabBar* TabSet1_ = nullptr;
  QTableView* FaxGrid_ = nullptr;
  QTableView* RecFaxGrid_ = nullptr;
  TTableModel* faxModel_ = nullptr;
  TTableModel* recModel_ = nullptr;
  QLabel* status_ = nullptr;
  QSoundEffect* sound_ = nullptr;
  qv::ui::TQvFaxPrinter* faxPrinter_ = nullptr;

  // Receive mode and its notices.
  std::unique_ptr<TReceiveService> receive_;
  std::unique_ptr<TPrintJobs> printJobs_;
  bool printJobOpen_ = false;  // a taken job's notice, editor or send runs
  std::unique_ptr<TOutboxObserver> outboxWatch_;
  std::unique_ptr<TOutbox> outbox_;
  void StartOutbox();
  void StopOutbox();
  TStartingFaxForm* StartingFaxForm_ = nullptr;
  TArrivalNotice* arrivalNotice_ = nullptr;
  bool hourglass_ = false;
};

}  // namespace qv::app
