#pragma once
// TFaxViewer: the modal window that shows a fax page by page: zoom, rotation, page buttons, a
// strip of page thumbnails, exports of the current page (BMP, PCX, DCX) or the whole fax (PDF,
// TIFF), printer setup and printing through the print options form. The rotation chosen turns the
// view, the thumbnails and what is printed from here; exports keep the fax's own orientation, and
// the Export menu says so while the view is turned.

#include <QDialog>
#include <QString>

#include <memory>
#include <string>
#include <vector>

#include "faximage/marks_editor.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;

namespace qv::ui {
class TQvFaxViewer;
class TQvFaxPrinter;
class TQvFaxPrinterStatus;
class TQvFaxPrinterLog;
class TQvFaxThumbnails;
}  // namespace qv::ui

namespace qv::app {

class TFaxViewer : public QDialog {
  Q_OBJECT
 public:
  // iniFile: the settings file (placement and print options); the print log goes beside it.
  explicit TFaxViewer(const std::string& iniFile, QWidget* parent = nullptr);
  ~TFaxViewer() override;

  // Set before showing.
  QString FaxFileName;
  QString PrintHeaderText;
  QString PageCaptionPrefix;

  int Zoom() const { return zoom_; }
  void ApplyZoom(int z);
  void ZoomInButtonClick();
  void ZoomOutButtonClick();
  void SetRotationItem(int rotation);
  // Runs the first-activation steps (done by the first show; tests may call it directly).
  void FormActivate();
  void PrinterSetupButtonClick();
  // currentPageOnly: "Print current page".
  void PrintClick(bool currentPageOnly);
  // "BMP", "PCX", "DCX", "PDF" or "TIFF".
  void ExportClick(const QString& kind);
  QString StatusText() const;

  // The marks of the fax (from the marks file beside it): shown and printed while "Show Marks" is
  // on. A damaged marks file is reported once and left alone; the fax is shown without marks and
  // nothing is saved over the file.
  const qv::faximage::FaxMarks& Marks() const { return marks_.Marks(); }
  bool MarksDamaged() const { return marksDamaged_; }
  void SetShowMarks(bool on);
  // Turns the current page upside down for good (kept in the marks file, so thumbnails, prints,
  // exports and replies show it the right way up); again turns it back. False with a message
  // when the marks file cannot be written.
  bool TurnPageUpsideDown();

  // The marking tools. With a tool chosen, the mouse on the page draws or places its mark; Select
  // picks a mark to move (mouse or arrow keys) or delete (Del). Every step can be undone; Save
  // writes the marks file, and closing with unsaved marks asks first. The fax file is never
  // written.
  enum class MarkTool { Browse, Select, Pen, ThickPen, Highlight, Text, Date, Received, Check, Whiteout, Signature };
  MarkTool Tool() const { return tool_; }
  void SetTool(MarkTool tool);
  bool SaveMarksFile();
  bool MarksModified() const { return marks_.Modified(); }
  int SelectedMark() const { return marks_.Selected(); }
  // The text of the received stamp ("Received dd.mm.yyyy hh:mm"); empty disables that stamp.
  QString ReceivedStamp;
  // Off for a fax shown from a passing copy (an outgoing fax rendered to be looked at): marks
  // saved beside it would be left behind when the copy goes. Set before showing.
  bool MarksEditable = true;
  // Shows Reply and Forward (a received fax). Set before showing.
  bool ReplyEnabled = false;
  // What the user asked for when the viewer closed: Reply or Forward close it (the marks saved
  // first), and the caller makes the outgoing fax.
  enum class ReplyRequest { kNone, kReply, kForward };
  ReplyRequest Request() const { return request_; }
  void ReplyClick(bool forward);
  // The received stamp from a record's date (yyyymmdd) and time (hh:mm); empty without a date.
  static QString ReceivedStampText(const QString& date, const QString& time);
  // The signature the Signature tool places (the one drawn, typed or read last, else the one kept).
  const qv::faximage::MarkPicture& CurrentSignature() const { return signature_; }

  qv::ui::TQvFaxViewer* Viewer() const { return FaxViewer_; }
  qv::ui::TQvFaxPrinter* Printer() const { return FaxPrinter_; }
  qv::ui::TQvFaxThumbnails* Thumbnails() const { return Thumbnails_; }
  QMenuBar* MenuBar() const { return menuBar_; }
  QPushButton* Button(const char* name) const;
  QAction* Action(const char* name) const;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void done(int r) override;

 private:
  void BuildMenus();
  void BuildButtons(QWidget* panel);
  void ShowStatus();
  void ViewerError(int code);
  void LoadMarks();
  void BuildMarkTools(QMenu* menu);
  void PagePointer(int phase, QPoint units);
  // After a change of the marks: the page, thumbnails, selection frame and undo state.
  void MarksChanged();
  bool AskText(const QString& caption, QString& text);
  void DrawSignature();
  void SignatureFromFile();
  void TypedSignature();
  void KeepSignature(qv::faximage::MarkPicture picture);
  std::string DataDir() const;
  bool eventFilter(QObject* o, QEvent* e) override;
  // The marks the viewer and printer draw: the fax's marks while shown, else none.
  std::shared_ptr<const qv::faximage::FaxMarks> ShownMarks() const;

  std::string iniFile_;
  int zoom_ = 66;  // matches no menu entry, so the first zoom is always applied
  bool firstActivation_ = true;
  bool printRange_ = false;
  bool placementSaved_ = false;
  QString file_;

  QMenuBar* menuBar_ = nullptr;
  qv::ui::TQvFaxViewer* FaxViewer_ = nullptr;
  qv::ui::TQvFaxThumbnails* Thumbnails_ = nullptr;
  qv::ui::TQvFaxPrinter* FaxPrinter_ = nullptr;
  qv::ui::TQvFaxPrinterStatus* PrinterStatus_ = nullptr;
  qv::ui::TQvFaxPrinterLog* PrintLog_ = nullptr;
  QLabel* StatusPanel_ = nullptr;
  QAction* zoomItems_[4] = {};
  QAction* rotationItems_[4] = {};
  QAction* exportNote_ = nullptr;
  QAction* showMarks_ = nullptr;
  QAction* turnPage_ = nullptr;
  qv::faximage::MarksEditor marks_;
  bool marksDamaged_ = false;
  MarkTool tool_ = MarkTool::Browse;
  ReplyRequest request_ = ReplyRequest::kNone;
  std::vector<QAction*> toolActions_;
  std::vector<qv::faximage::MarkPoint> stroke_;  // the stroke being drawn
  QPoint dragFrom_;                                // where a move or white-out began
  qv::faximage::MarkPicture signature_;  // shown in the Export menu while the view is turned
};

}  // namespace qv::app
