#pragma once
// "Fax Editor": one outgoing fax — an optional cover sheet, the document and the recipient. The
// form never touches the tables: the main window fills it, shows it and stores what it holds.

#include "app/contacts/phone_book.h"
#include "app/store/merge_fields.h"

#include <QDialog>
#include <QString>

#include <vector>

#include <functional>
#include <string>

class QAction;
class QButtonGroup;
class QLabel;
class QMenu;
class QStackedWidget;
class QToolBar;
class QToolButton;

namespace qv::ui {
class TQvRichEdit;
}

namespace qv::app {

class TEditorCommands;
class TEnterEdit;
class TFaxStore;
class TZoomControl;
struct TSettings;

// Page geometry of both editors, in twips: US Letter with half-inch margins.
inline constexpr int kFaxPageWidth = 12240;
inline constexpr int kFaxPageHeight = 15840;
inline constexpr int kFaxPageMargin = 720;
inline constexpr int kFaxEditorHelpTopic = 1015;
inline constexpr const char* kPageBreakCaption = "Page Break";
inline constexpr const char* kPageBreakQuestion = "Add a page break here?";
inline constexpr const char* kWordWrapOnHint = "Toggle word wrap on";
inline constexpr const char* kWordWrapOffHint = "Toggle word wrap off";

class TFaxEditor : public QDialog {
  Q_OBJECT
 public:
  enum Page { kCoverPage = 0, kDocumentPage = 1, kRecipientPage = 2 };

  // dataDir ends in "/": settings, placement and dictionaries are there. The parent is the main
  // window, over which the form and its dialogs are centred.
  TFaxEditor(const QString& dataDir, QWidget* mainWindow);
  ~TFaxEditor() override;

  ui::TQvRichEdit* RTCover() const { return RTCover_; }
  ui::TQvRichEdit* RTDoc() const { return RTDoc_; }
  TEnterEdit* Recipient() const { return Recipient_; }
  // The recipients added from the phone book besides the one in the fields (a broadcast).
  const std::vector<TPhoneEntry>& Recipients() const { return recipients_; }
  void SetRecipients(std::vector<TPhoneEntry> recipients);
  TEnterEdit* FaxNumber() const { return FaxNumber_; }
  TEnterEdit* Subject() const { return Subject_; }
  QMenu* ZoomMenu() const;
  int CurrentPage() const;

  // The store "&Phonebook" and "Load Template" choose from; without one both stay hidden.
  void SetFaxStore(TFaxStore* store);

  // A new blank fax: both empty editors get the stored default font.
  void ApplyDefaultFont(const TSettings& settings);

  // The text of a merge field: recipient, number, subject, today's date or the time, cut to
  // 100 characters. The text lives in one buffer of the form, reused for every request.
  const QString& MergeFieldValue(int kind);

  // The editor the zoom button works on: the document while its page is chosen, else the cover.
  ui::TQvRichEdit* CurrentEditor() const;

  // Stores what the form holds; on false it has said why and the form stays open, so nothing
  // typed is lost. Run by Accept and by Yes to the question on closing with changes.
  void SetStoreHandler(std::function<bool()> store) { storeHandler_ = std::move(store); }
  // Something differs from what the form held when it was first shown.
  bool IsModified() const;

 signals:
  void HelpRequested(int topic);

 public slots:
  void CoverButtonClick();
  void DocumentButtonClick();
  void RecipientButtonClick();
  void ZoombuttonClick();
  void ZoomMenuPopup();  // sets the check marks before the menu shows
  void SpellCheck(ui::TQvRichEdit* editor);
  void HelpbuttonClick();
  void AddressButtonClick();     // recipient and number from the phone book
  // Several recipients from the phone book: one outgoing fax each, all queued.
  void AddRecipientsButtonClick();
  void LoadCoverButtonClick();   // the cover sheet from a stored template

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void FormCreate();
  void FormActivate();
  QWidget* BuildEditorPage(ui::TQvRichEdit* editor, bool cover);
  QWidget* BuildRecipientPage();
  void ShowPage(Page page);
  // The form's content as one text, to tell whether anything changed.
  std::string ContentSnapshot() const;

  QString dataDir_;
  std::string iniFile_;
  QWidget* mainWindow_;
  TFaxStore* store_ = nullptr;
  QString fieldValue_;  // the one buffer handed out for merge fields
  bool activated_ = false;
  std::function<bool()> storeHandler_;
  std::string shownContent_;  // ContentSnapshot() when the form was first shown

  QStackedWidget* Notebook_ = nullptr;
  ui::TQvRichEdit* RTCover_ = nullptr;
  ui::TQvRichEdit* RTDoc_ = nullptr;
  QToolBar* RTToolCover_ = nullptr;
  QToolBar* RTToolDoc_ = nullptr;
  TEnterEdit* Recipient_ = nullptr;
  TEnterEdit* FaxNumber_ = nullptr;
  TEnterEdit* Subject_ = nullptr;
  QButtonGroup* pageButtons_ = nullptr;
  QToolButton* CoverButton_ = nullptr;
  QToolButton* DocumentButton_ = nullptr;
  QToolButton* RecipientButton_ = nullptr;
  QToolButton* AddressButton_ = nullptr;
  QToolButton* AddRecipientsButton_ = nullptr;
  QLabel* RecipientsList_ = nullptr;
  std::vector<TPhoneEntry> recipients_;
  QToolButton* LoadCoverButton_ = nullptr;
  QAction* loadCoverAction_ = nullptr;
  QToolButton* Zoombutton_ = nullptr;
  TZoomControl* zoom_ = nullptr;
  // Page Break, Paragraph, Word Wrap and Default Font of each text page.
  TEditorCommands* coverCommands_ = nullptr;
  TEditorCommands* docCommands_ = nullptr;
};

}  // namespace qv::app
