#pragma once
// TQvFaxPrinter: prints a QVF fax on a system printer (CUPS) or into a PDF file, page by page,
// with an optional header and footer line on each fax page, one or several fax pages per sheet,
// progress on a status window with an Abort button, and a print log.
//
// Fit to page (psFitToPage) keeps the fax page's proportions: the whole coded page (1728 or 2048
// pixels wide = 215 or 255 mm, its rows at 7.7 per mm for fine pages, standard rows doubled) is
// scaled by one factor so that it fills the rectangle's width or height, whichever comes first.
// Scaling the whole coded width rather than the page cut at its rightmost black pixel means a
// page with a short text is printed at the same size as a full one, and nothing is stretched.
//
// psNone prints one fax pixel as 1/200 inch; what does not fit on the sheet is cut off.

#include <QDateTime>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include "faximage/page_marks.h"

class QDialog;
class QPrinter;
class QWidget;

namespace qv::ui {

class TQvFaxPrinterStatus;

enum TFaxPrintScale { psNone, psFitToPage };
enum TFaxPrintProgress { ppIdle, ppComposing, ppRendering, ppSubmitting, ppConverting };
enum TFaxPLCode { lcStart, lcFinish, lcAborted, lcFailed };

// "Idle", "Composing", "Rendering", "Submitting", "Converting".
QString FaxPrintProgressText(int progress);

// The printer entry that stands for the system's default printer.
inline constexpr const char* kDefaultPrinterName = "Default Windows Printer";

// A header or footer line. Caption placeholders: $D date, $F file name, $N page count, $P page
// being printed, $T time; a "$" and a letter run up to the next blank and are replaced whole
// (unknown letters are removed).
struct TQvFaxPrinterMargin {
  QString Caption;
  bool Enabled = true;
  QFont Font;
  int Height = 0;  // height of the text as last printed, in device pixels
};

QString ExpandMarginCaption(const QString& caption, const QString& fileName, int page, int pages,
                            const QDateTime& now);

// Appends one entry per print event to a text file (created when missing; write errors ignored).
class TQvFaxPrinterLog : public QObject {
  Q_OBJECT
 public:
  explicit TQvFaxPrinterLog(QObject* parent = nullptr) : QObject(parent) {}
  QString LogFileName() const { return logFileName_; }
  void SetLogFileName(const QString& name) { logFileName_ = name; }
  void Append(TFaxPLCode code, const QString& faxFile, const QDateTime& when);

 private:
  QString logFileName_ = QStringLiteral("FAXPRINT.LOG");
};

// Options of one print, for callers that print a file in one call (print on receipt, qvfax).
struct TFaxPrintOptions {
  int FirstPage = 0;  // 0: from page 1
  int LastPage = 0;   // 0: to the last page
  int PagesPerSheet = 1;  // 1, 2 (landscape sheet, side by side) or 4 (portrait sheet, quarters)
  bool Stretch = true;    // psFitToPage, else psNone
  bool Header = false;
  QString HeaderCaption = QStringLiteral("FILE: $F");
  bool Footer = false;
  QString FooterCaption = QStringLiteral("PAGE: $P of $N");
  QString PdfFile;      // print into this PDF file instead of a printer
  QString LogFile;      // append the print log here; empty: no log
  bool ShowStatus = false;
  bool ImposeWait = false;  // wait two ticks around each page (for printer drivers that need it)
  // Marks and page rotation drawn on the pages as the user sees them; nullptr: the fax as received.
  std::shared_ptr<const qv::faximage::FaxMarks> Marks;
};

class TQvCustomFaxPrinter : public QObject {
  Q_OBJECT
 public:
  // With a parent, links the first status window and the first print log among its children.
  explicit TQvCustomFaxPrinter(QObject* parent = nullptr);
  ~TQvCustomFaxPrinter() override;

  QString Caption() const { return caption_; }
  void SetCaption(const QString& c) { caption_ = c; }
  TQvFaxPrinterMargin& FaxHeader() { return header_; }
  TQvFaxPrinterMargin& FaxFooter() { return footer_; }

  // Opens the file and reads its page count, resolution and width; the range becomes 1 .. count
  // (0 .. 0 for a file that cannot be read).
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& name);
  int PageCount() const { return pageCount_; }
  int FaxResolution() const { return resolution_; }  // 0 standard, 1 high
  int FaxWidthCode() const { return widthCode_; }    // 0 for 1728 pixels, 1 for 2048
  int FirstPageToPrint() const { return firstPage_; }
  void SetFirstPageToPrint(int p) { firstPage_ = p; }
  int LastPageToPrint() const { return lastPage_; }
  void SetLastPageToPrint(int p) { lastPage_ = p; }
  int CurrentPrintPage() const { return currentPage_; }

  bool MultiPage() const { return multiPage_; }
  void SetMultiPage(bool on) { multiPage_ = on; }
  TFaxPrintScale PrintScale() const { return scale_; }
  void SetPrintScale(TFaxPrintScale s) { scale_ = s; }
  // Quarter turns clockwise (0-3) given to every page printed: the viewer prints a fax turned as
  // it shows it. Print on receipt leaves it at 0.
  // The marks (and per-page rotation) to print with the fax; nullptr prints its own pixels.
  void SetMarks(std::shared_ptr<const qv::faximage::FaxMarks> marks) { marks_ = std::move(marks); }
  int Rotation() const { return rotation_; }
  void SetRotation(int quarterTurns) { rotation_ = ((quarterTurns % 4) + 4) % 4; }
  // Wait two ticks around each page (for printer drivers that need it).
  bool ImposeWait() const { return imposeWait_; }
  void SetImposeWait(bool on) { imposeWait_ = on; }

  // The system printer by name; empty or kDefaultPrinterName is the system default. Returns false
  // (and keeps the previous choice) when no such printer is installed.
  bool SetPrinterName(const QString& name);
  QString PrinterName() const;
  // Print into a PDF file instead (empty: back to the printer).
  void SetOutputPdf(const QString& file);
  void SetLandscape(bool on);
  bool Landscape() const;
  QPrinter& Printer() { return *printer_; }
  // True when there is a printer to print on (a system printer, or a PDF file chosen).
  static bool PrinterInstalled();
  // True when a system printer of that name is installed.
  static bool PrinterExists(const QString& name);

  TFaxPrintProgress Progress() const { return progress_; }
  bool Printing() const { return printing_; }

  TQvFaxPrinterStatus* StatusDisplay() const;
  void SetStatusDisplay(TQvFaxPrinterStatus* display);
  TQvFaxPrinterLog* FaxPrinterLog() const { return log_; }
  void SetFaxPrinterLog(TQvFaxPrinterLog* log) { log_ = log; }

  // The print dialog (printer, "Print to File (PDF)", page range); on OK the range is taken from
  // it and the result is true.
  bool PrintSetup(QWidget* parent);
  // Runs the print dialog modally (the program routes it through its dialog service); unset, the
  // dialog's own exec() is used.
  std::function<int(QDialog*)> ExecDialog;
  // Prints FirstPageToPrint .. LastPageToPrint. Raises EQvException with a clear text when there
  // is no printer, the printer cannot be opened or a page cannot be decoded (logged as failed).
  // An abort ends quietly (logged as aborted).
  void PrintFax();
  void PrintAbort();

  // One call for print on receipt and the command line: prints `path` on `printerName` (empty or
  // "Default Windows Printer": the system default) with `options`. Returns false with the reason
  // in `error` when nothing could be printed.
  static bool PrintFaxFile(const QString& path, const QString& printerName,
                           const TFaxPrintOptions& options, QString* error = nullptr);

 signals:
  void NextPage(int page, int pages);
  void FaxPrintLog(int code);
  void FaxPrintStatus(int progress);

 private:
  void SetProgress(TFaxPrintProgress p);
  void WriteLog(TFaxPLCode code);
  void Pump();
  void Wait();
  int DrawMargin(class QPainter& p, TQvFaxPrinterMargin& m, class QRect& rect, bool top);
  void Fail(class QPainter& painter, const QString& why);

  QString caption_ = QStringLiteral("QV Fax Printer");
  TQvFaxPrinterMargin header_;
  TQvFaxPrinterMargin footer_;
  QString fileName_;
  int pageCount_ = 0;
  int resolution_ = 0;
  int widthCode_ = 0;
  int firstPage_ = 0;
  int lastPage_ = 0;
  int currentPage_ = 0;
  bool multiPage_ = false;
  TFaxPrintScale scale_ = psFitToPage;
  bool imposeWait_ = false;
  int rotation_ = 0;
  std::shared_ptr<const qv::faximage::FaxMarks> marks_;
  TFaxPrintProgress progress_ = ppIdle;
  bool printing_ = false;
  bool aborted_ = false;
  std::unique_ptr<QPrinter> printer_;
  QPointer<TQvFaxPrinterStatus> status_;
  QPointer<TQvFaxPrinterLog> log_;
};

class TQvFaxPrinter : public TQvCustomFaxPrinter {
  Q_OBJECT
 public:
  using TQvCustomFaxPrinter::TQvCustomFaxPrinter;
};

}  // namespace qv::ui
