#pragma once
// "Cover Sheet Template Editor": one cover sheet template, its description and its rich text with
// merge fields. The editing commands are those of the fax editor's cover page.

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QAction;
class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;

namespace qv::ui {
class TQvRichEdit;
}

namespace qv::app {

class TEditorCommands;
class TZoomControl;

inline constexpr int kCoverEditorHelpTopic = 1018;
inline constexpr int kCoverDescriptionWidth = 35;

class TCoverEditor : public QDialog {
  Q_OBJECT
 public:
  // dataDir ends in "/"; the parent is the main window, over which dialogs are centred.
  TCoverEditor(const QString& dataDir, QWidget* mainWindow);
  ~TCoverEditor() override;

  QLineEdit* CoverDescription() const { return CoverDescription_; }
  ui::TQvRichEdit* RTCover() const { return RTCover_; }
  QMenu* InsertMenu() const { return InsertMenu_; }
  QMenu* ZoomMenu() const;

  // Stores the template; on false it has said why and the form stays open, so nothing typed is
  // lost. Run by Accept and by Yes to the question on closing with changes.
  void SetStoreHandler(std::function<bool()> store) { storeHandler_ = std::move(store); }
  // The description or the text differs from what the form held when it was first shown.
  bool IsModified() const;

 signals:
  void HelpRequested(int topic);

 public slots:
  void InsertButtonClick();
  // Inserts the merge field an item of the insert menu stands for, recognised by its caption.
  void InsertItemClick(QAction* item);
  void ZoombuttonClick();
  void ZoomMenuPopup();
  void PageBreakClick();
  void SpellCheck();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  std::string ContentSnapshot() const;

  QString dataDir_;
  std::string iniFile_;
  QWidget* mainWindow_;
  bool activated_ = false;
  std::function<bool()> storeHandler_;
  std::string shownContent_;  // ContentSnapshot() when the form was first shown

  QLineEdit* CoverDescription_ = nullptr;
  ui::TQvRichEdit* RTCover_ = nullptr;
  QToolBar* RTToolBar1_ = nullptr;
  QToolButton* InsertButton_ = nullptr;
  QMenu* InsertMenu_ = nullptr;
  TZoomControl* zoom_ = nullptr;
  TEditorCommands* commands_ = nullptr;  // Page Break, Paragraph, Word Wrap, Default Font
};

}  // namespace qv::app
