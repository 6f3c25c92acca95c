#pragma once
// The editing commands the fax editor's two text pages and the cover sheet template editor share:
// Page Break, Paragraph, Word Wrap and Default Font on the editor's second tool bar row (so the
// formatting row keeps its width for its own buttons), and the zoom button with its menu.

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QAction;
class QMenu;
class QToolBar;
class QToolButton;
class QWidget;

namespace qv::ui {
class TQvRichEdit;
}

namespace qv::app {

// A text-only, auto-raised tool button; its hint is its tool tip and its accessible name.
QToolButton* MakeEditorButton(QWidget* parent, const char* name, const QString& caption, const QString& hint);

// Gives an editor the page geometry of a fax (US Letter, half-inch margins), lays it out again and
// puts the caret at the start: what every form does when it first shows an editor.
void PrepareFaxPage(ui::TQvRichEdit* editor);

// Control names of one editor's command buttons (each form keeps its own).
struct EditorButtonNames {
  const char* pageBreak;
  const char* paragraph;
  const char* wordWrap;
  const char* defaultFont;
};

class TEditorCommands : public QObject {
  Q_OBJECT
 public:
  // The buttons belong to `form`, on the editor's command bar; dialogs centre over mainWindow;
  // the default font is stored in iniFile.
  TEditorCommands(ui::TQvRichEdit* editor, const EditorButtonNames& names, QWidget* form,
                  QWidget* mainWindow, std::string iniFile);

  QToolBar* Bar() const { return bar_; }  // a form may add buttons of its own after these
  QToolButton* PageBreakButton() const { return pageBreak_; }
  QToolButton* ParagraphButton() const { return paragraph_; }
  QToolButton* WordWrapButton() const { return wordWrap_; }
  QToolButton* DefaultFontButton() const { return defaultFont_; }

  // Asks first; No leaves the text as it is, Yes makes the caret's paragraph begin a new page.
  void PageBreakClick();
  void ParagraphClick();
  // The button's own toggling is overridden: its down state and hint follow the editor.
  void WordWrapClick();
  void DefFontClick();

 private:
  void UpdateWordWrapButton();

  ui::TQvRichEdit* editor_;
  QWidget* form_;
  QWidget* mainWindow_;
  std::string iniFile_;
  QToolBar* bar_;
  QToolButton* pageBreak_;
  QToolButton* paragraph_;
  QToolButton* wordWrap_;
  QToolButton* defaultFont_;
};

// "Zoombutton" showing the zoom of the editor it works on, and "ZoomMenu" with 70, 80 and 100 %.
class TZoomControl : public QObject {
  Q_OBJECT
 public:
  TZoomControl(QWidget* form, std::function<ui::TQvRichEdit*()> editor);

  QToolButton* Button() const { return button_; }
  QMenu* Menu() const { return menu_; }

  void ButtonClick();     // pops the menu up under the button
  void MenuPopup();       // checks the editor's zoom before the menu shows
  void ShowZoom();        // the button's caption follows the editor

 private:
  void ItemClick(QAction* item);

  std::function<ui::TQvRichEdit*()> editor_;
  QToolButton* button_;
  QMenu* menu_;
};

}  // namespace qv::app
