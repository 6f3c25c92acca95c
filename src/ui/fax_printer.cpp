#include "ui/fax_printer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QThread>

#include <algorithm>

#include "core/error_codes.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "faximage/qvf_file.h"
#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"
#include "ui/fax_printer_status.h"
#include "ui/fax_viewer.h"

namespace qv::ui {

namespace {

constexpr int kMarginInset = 2;        // device pixels between a sheet part and what is drawn in it
constexpr int kMarginLineGap = 2;      // between a header or footer text and its line
constexpr int kWaitMs = 2 * 55;        // "impose wait": two ticks of 55 ms
constexpr double kFaxDotsPerInch = 200.0;  // psNone: one fax pixel is 1/200 inch
// Coded page geometry: 1728 pixels are 215 mm (2048 are 255 mm, the same pitch); fine rows are
// 7.7 per mm, and standard rows are doubled when decoded for printing.
constexpr double kFaxPixelsPerInchX = 1728.0 / (215.0 / 25.4);
constexpr double kFaxRowsPerInch = 7.7 * 25.4;

// The page as a 1-bit picture whose colour table is black, then white: that is the form Qt's PDF
// engine embeds as it is (an image mask painted in the pen's colour). Any other table makes it
// convert the page to 32-bit colour and try JPEG and Flate coding of that, many times slower.
QImage MonoImage(const qv::faximage::PageBitmap& b) {
  QImage img(b.width, b.height, QImage::Format_Mono);
  img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  const int bytes = std::min<int>(img.bytesPerLine(), b.stride);
  if (bytes < img.bytesPerLine()) img.fill(1);
  for (int y = 0; y < b.height; ++y) {
    uchar* out = img.scanLine(y);
    const uint8_t* in = b.row(y);
    // A set bit is white here: the bitmap's black bits are cleared ones.
    for (int i = 0; i < bytes; ++i) out[i] = b.inverted ? in[i] : uchar(~in[i]);
  }
  return img;
}

QString SystemDateTime(const QDateTime& when) {
  return QLocale::system().toString(when, QLocale::ShortFormat);
}

}  // namespace

QString FaxPrintProgressText(int progress) {
  switch (progress) {
    case ppComposing: return QStringLiteral("Composing");
    case ppRendering: return QStringLiteral("Rendering");
    case ppSubmitting: return QStringLiteral("Submitting");
    case ppConverting: return QStringLiteral("Converting");
    default: return QStringLiteral("Idle");
  }
}

QString ExpandMarginCaption(const QString& caption, const QString& fileName, int page, int pages,
                            const QDateTime& now) {
  QString out;
  out.reserve(caption.size() + fileName.size());
  for (int i = 0; i < caption.size();) {
    const QChar c = caption[i];
    if (c != QLatin1Char('$') || i + 1 >= caption.size() || caption[i + 1] == QLatin1Char(' ')) {
      out += c;
      ++i;
      continue;
    }
    const QChar letter = caption[i + 1].toUpper();
    int end = i + 1;
    while (end < caption.size() && caption[end] != QLatin1Char(' ')) ++end;  // the run is replaced whole
    if (letter == QLatin1Char('D')) out += QLocale::system().toString(now.date(), QLocale::ShortFormat);
    else if (letter == QLatin1Char('F')) out += fileName;
    else if (letter == QLatin1Char('N')) out += QString::number(pages);
    else if (letter == QLatin1Char('P')) out += QString::number(page);
    else if (letter == QLatin1Char('T')) out += QLocale::system().toString(now.time(), QLocale::ShortFormat);
    i = end;
  }
  return out;
}

void TQvFaxPrinterLog::Append(TFaxPLCode code, const QString& faxFile, const QDateTime& when) {
  QFile f(logFileName_);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) return;  // a log that cannot be written is skipped
  const QString at = SystemDateTime(when);
  QString entry;
  switch (code) {
    case lcStart: entry = QStringLiteral("Printing %1 started at %2\r\n").arg(faxFile, at); break;
    case lcFinish: entry = QStringLiteral("Printing %1 finished at %2\r\n\r\n").arg(faxFile, at); break;
    case lcAborted: entry = QStringLiteral("Printing %1 aborted at %2\r\n\r\n").arg(faxFile, at); break;
    case lcFailed: entry = QStringLiteral("Printing %1 failed at %2\r\n\r\n").arg(faxFile, at); break;
  }
  f.write(entry.toLocal8Bit());
}

TQvCustomFaxPrinter::TQvCustomFaxPrinter(QObject* parent)
    : QObject(parent), printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  setObjectName(QStringLiteral("FaxPrinter"));
  header_.Caption = QStringLiteral("FILE: $F");
  footer_.Caption = QStringLiteral("PAGE: $P of $N");
  header_.Font = footer_.Font = QFont(QApplication::font().family(), 10);
  if (parent) {
    // The first status window and log among the owner's children serve this printer.
    if (auto* s = parent->findChild<TQvFaxPrinterStatus*>()) SetStatusDisplay(s);
    if (auto* l = parent->findChild<TQvFaxPrinterLog*>()) log_ = l;
  }
}

TQvCustomFaxPrinter::~TQvCustomFaxPrinter() {
  if (status_ && status_->Printer() == this) status_->SetPrinter(nullptr);
}

TQvFaxPrinterStatus* TQvCustomFaxPrinter::StatusDisplay() const { return status_.data(); }

void TQvCustomFaxPrinter::SetStatusDisplay(TQvFaxPrinterStatus* display) {
  if (status_ && status_->Printer() == this) status_->SetPrinter(nullptr);
  status_ = display;
  if (display) display->SetPrinter(this);
}

void TQvCustomFaxPrinter::SetFileName(const QString& name) {
  fileName_ = name;
  pageCount_ = resolution_ = widthCode_ = 0;
  const std::string file = name.toStdString();
  qv::faximage::QvfFileHeader header;
  if (!name.isEmpty() && qv::faximage::ReadFaxHeader(file, header) == 0) {
    pageCount_ = header.PageCount;
    qv::faximage::QvfPageHeader page;
    if (pageCount_ > 0 && qv::faximage::ReadPageHeader(file, 1, page) == 0) {
      resolution_ = (page.PageFlags & qv::faximage::pfHighRes) ? 1 : 0;
      widthCode_ = (page.PageFlags & qv::faximage::pfWide) ? 1 : 0;
    }
  }
  firstPage_ = pageCount_ > 0 ? 1 : 0;
  lastPage_ = pageCount_;
  printer_->setPrintRange(QPrinter::PageRange);
  printer_->setFromTo(firstPage_, lastPage_);
}

bool TQvCustomFaxPrinter::PrinterInstalled() { return !QPrinterInfo::availablePrinterNames().isEmpty(); }

bool TQvCustomFaxPrinter::PrinterExists(const QString& name) {
  return !name.isEmpty() && !QPrinterInfo::printerInfo(name).isNull();
}

bool TQvCustomFaxPrinter::SetPrinterName(const QString& name) {
  if (name.isEmpty() || name == QLatin1String(kDefaultPrinterName)) {
    const QPrinterInfo def = QPrinterInfo::defaultPrinter();
    printer_->setOutputFormat(QPrinter::NativeFormat);
    if (!def.isNull()) printer_->setPrinterName(def.printerName());
    return true;
  }
  if (!PrinterExists(name)) return false;
  printer_->setOutputFormat(QPrinter::NativeFormat);
  printer_->setPrinterName(name);
  return true;
}

QString TQvCustomFaxPrinter::PrinterName() const {
  return printer_->outputFormat() == QPrinter::PdfFormat ? printer_->outputFileName()
                                                         : printer_->printerName();
}

void TQvCustomFaxPrinter::SetOutputPdf(const QString& file) {
  if (file.isEmpty()) {
    printer_->setOutputFileName(QString());
    printer_->setOutputFormat(QPrinter::NativeFormat);
    return;
  }
  printer_->setOutputFormat(QPrinter::PdfFormat);
  printer_->setOutputFileName(file);
}

void TQvCustomFaxPrinter::SetLandscape(bool on) {
  printer_->setPageOrientation(on ? QPageLayout::Landscape : QPageLayout::Portrait);
}

bool TQvCustomFaxPrinter::Landscape() const {
  return printer_->pageLayout().orientation() == QPageLayout::Landscape;
}

bool TQvCustomFaxPrinter::PrintSetup(QWidget* parent) {
  printer_->setPrintRange(QPrinter::PageRange);
  printer_->setFromTo(std::max(firstPage_, 1), std::max(lastPage_, 1));
  QPrintDialog dialog(printer_.get(), parent);
  dialog.setObjectName(QStringLiteral("PrintDialog1"));
  dialog.setMinMax(1, std::max(pageCount_, 1));
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
  const int result = ExecDialog ? ExecDialog(&dialog) : dialog.exec();
  if (result != QDialog::Accepted) return false;
  if (printer_->printRange() == QPrinter::PageRange && printer_->fromPage() > 0) {
    firstPage_ = printer_->fromPage();
    lastPage_ = std::min(printer_->toPage(), pageCount_);
  } else {
    firstPage_ = pageCount_ > 0 ? 1 : 0;
    lastPage_ = pageCount_;
  }
  return true;
}

void TQvCustomFaxPrinter::Pump() { QApplication::processEvents(); }

void TQvCustomFaxPrinter::Wait() {
  if (!imposeWait_) return;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < kWaitMs) {
    Pump();
    QThread::msleep(5);
  }
}

void TQvCustomFaxPrinter::SetProgress(TFaxPrintProgress p) {
  if (p != progress_) {
    progress_ = p;
    emit FaxPrintStatus(p);
    if (status_ && status_->isVisible()) status_->Refresh();
  }
  Pump();
}

void TQvCustomFaxPrinter::WriteLog(TFaxPLCode code) {
  emit FaxPrintLog(code);
  if (log_) log_->Append(code, fileName_, QDateTime::currentDateTime());
}

int TQvCustomFaxPrinter::DrawMargin(QPainter& p, TQvFaxPrinterMargin& m, QRect& rect, bool top) {
  QFont font = m.Font;
  if (multiPage_ && font.pointSize() > 1) font.setPointSize(font.pointSize() / 2);
  p.setFont(font);
  const QString text = ExpandMarginCaption(m.Caption, fileName_, currentPage_, pageCount_,
                                           QDateTime::currentDateTime());
  const int h = QFontMetrics(font, p.device()).height();
  m.Height = h;
  if (top) {
    const QRect band(rect.left(), rect.top(), rect.width(), h);
    p.drawText(band, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    rect.setTop(rect.top() + h + kMarginLineGap);
    p.drawLine(rect.left(), rect.top(), rect.right(), rect.top());
    rect.setTop(rect.top() + 1);
  } else {
    const QRect band(rect.left(), rect.bottom() - h + 1, rect.width(), h);
    p.drawText(band, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    rect.setBottom(rect.bottom() - h - kMarginLineGap);
    p.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    rect.setBottom(rect.bottom() - 1);
  }
  return h;
}

void TQvCustomFaxPrinter::Fail(QPainter& painter, const QString& why) {
  if (painter.isActive()) {
    printer_->abort();
    painter.end();
  }
  printing_ = false;
  currentPage_ = 0;
  WriteLog(lcFailed);
  progress_ = ppIdle;
  if (status_) status_->hide();
  throw qv::core::EQvException(why.toStdString());
}

void TQvCustomFaxPrinter::PrintFax() {
  if (pageCount_ <= 0 || firstPage_ < 1 || lastPage_ < firstPage_) return;  // nothing to print
  const bool toPdf = printer_->outputFormat() == QPrinter::PdfFormat;
  if (!toPdf && !PrinterInstalled())
    throw qv::core::EQvException("No printer is installed. Add a printer to the system, or print to a PDF file.");
  if (!toPdf && (printer_->printerName().isEmpty() || !printer_->isValid()))
    SetPrinterName(QString());
  printer_->setDocName(caption_);
  printer_->setFullPage(false);

  aborted_ = false;
  progress_ = ppIdle;
  if (status_) {
    status_->Refresh();
    status_->show();
  }
  WriteLog(lcStart);
  QPainter painter;
  if (!painter.begin(printer_.get())) {
    Fail(painter, toPdf ? QStringLiteral("The PDF file %1 cannot be written.").arg(printer_->outputFileName())
                        : QStringLiteral("The printer %1 cannot be opened.").arg(printer_->printerName()));
  }
  printing_ = true;
  const bool landscape = Landscape();
  const int perSheet = multiPage_ ? (landscape ? 2 : 4) : 1;
  const QRect sheet(0, 0, printer_->width(), printer_->height());
  const int last = std::min(lastPage_, pageCount_);

  for (int p = firstPage_; p <= last; ++p) {
    currentPage_ = p;
    if (p > firstPage_ && printing_ && (p - firstPage_) % perSheet == 0) {
      if (!printer_->newPage()) Fail(painter, QStringLiteral("The printer stopped accepting pages."));
    }
    Pump();
    if (aborted_) break;
    emit NextPage(p, pageCount_);

    SetProgress(ppConverting);
    qv::faximage::UnpackerState state;
    state.setAutoScale(qv::faximage::kUnpackDoubleHeight);  // square-ish pixels on paper
    state.Marks = marks_;
    qv::faximage::PageBitmap bitmap;
    const int rc = qv::faximage::UnpackPageFullWidth(state, fileName_.toStdString(), p, bitmap);
    if (rc < 0) {
      Fail(painter, QStringLiteral("Page %1 of %2 cannot be read: %3")
                        .arg(p)
                        .arg(fileName_, QString::fromStdString(qv::core::ErrorText(rc))));
    }
    if (rotation_ != 0) {
      try {
        bitmap = RotatePageBitmap(bitmap, rotation_);
      } catch (const std::bad_alloc&) {
        Fail(painter, QStringLiteral("Page %1 cannot be turned: %2")
                          .arg(p)
                          .arg(QString::fromStdString(qv::core::ErrorText(qv::core::ecOutOfMemory))));
      }
    }
    Pump();
    if (aborted_) break;

    SetProgress(ppComposing);
    QRect rect = sheet;
    if (multiPage_) {
      const int q = (p - firstPage_) % 4;
      const int col = q & 1;
      const int row = landscape ? 0 : (q >> 1) & 1;
      const int w = sheet.width() / 2;
      const int h = landscape ? sheet.height() : sheet.height() / 2;
      rect = QRect(sheet.left() + col * w, sheet.top() + row * h, w, h);
    }
    rect.adjust(kMarginInset, kMarginInset, -kMarginInset, -kMarginInset);
    painter.setPen(QPen(Qt::black, 0));
    if (header_.Enabled) DrawMargin(painter, header_, rect, true);
    if (footer_.Enabled) DrawMargin(painter, footer_, rect, false);

    QImage image = MonoImage(bitmap);
    QRect source = image.rect();
    QSize size;
    if (scale_ == psFitToPage) {
      // A page turned a quarter has its rows across and its pixels down.
      const bool sideways = rotation_ % 2 == 1;
      const double wIn = bitmap.width / (sideways ? kFaxRowsPerInch : kFaxPixelsPerInchX);
      const double hIn = bitmap.height / (sideways ? kFaxPixelsPerInchX : kFaxRowsPerInch);
      const double s = std::min(rect.width() / wIn, rect.height() / hIn);
      size = QSize(std::max(1, int(wIn * s)), std::max(1, int(hIn * s)));
    } else {
      const double sx = printer_->logicalDpiX() / kFaxDotsPerInch;
      const double sy = printer_->logicalDpiY() / kFaxDotsPerInch;
      size = QSize(std::max(1, int(bitmap.width * sx)), std::max(1, int(bitmap.height * sy)));
      // What does not fit is cut, not squeezed: only the rows that fit are drawn.
      if (size.height() > rect.height()) {
        source.setHeight(std::max(1, int(rect.height() / sy)));
        size.setHeight(rect.height());
      }
      if (size.width() > rect.width()) {
        source.setWidth(std::max(1, int(rect.width() / sx)));
        size.setWidth(rect.width());
      }
    }

    SetProgress(ppRendering);
    Wait();
    // A mask picture takes the pen's colour.
    painter.setPen(QPen(Qt::black, 0));
    if (printing_ && !aborted_) painter.drawImage(QRect(rect.topLeft(), size), image, source);
    Wait();
    SetProgress(ppSubmitting);
    if (printer_->printerState() == QPrinter::Error)
      Fail(painter, QStringLiteral("The printer %1 reported an error; the print was stopped.").arg(printer_->printerName()));
  }

  if (aborted_) {
    if (painter.isActive()) painter.end();
    return;  // PrintAbort logged it
  }
  if (printing_) {
    painter.end();
    if (printer_->printerState() == QPrinter::Error)
      Fail(painter, QStringLiteral("The printer %1 did not take the print.").arg(printer_->printerName()));
  }
  printing_ = false;
  WriteLog(lcFinish);
  progress_ = ppIdle;
  emit FaxPrintStatus(ppIdle);
  if (status_) status_->hide();
  currentPage_ = 0;
}

void TQvCustomFaxPrinter::PrintAbort() {
  progress_ = ppIdle;
  if (printing_) {
    aborted_ = true;
    printing_ = false;
    printer_->abort();
    currentPage_ = 0;
    WriteLog(lcAborted);
    if (status_) status_->hide();
  }
  Pump();
}

bool TQvCustomFaxPrinter::PrintFaxFile(const QString& path, const QString& printerName,
                                       const TFaxPrintOptions& options, QString* error) {
  auto failed = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  TQvFaxPrinter printer;
  printer.SetFileName(path);
  if (printer.PageCount() == 0) {
    const int rc = qv::faximage::IsQvfFile(path.toStdString()) ? qv::core::ecFaxBadFormat
                   : QFileInfo(path).isFile()                  ? qv::core::ecFaxBadFormat
                                                               : qv::core::ecFileNotFound;
    return failed(QStringLiteral("%1: %2").arg(path, QString::fromStdString(qv::core::ErrorText(rc))));
  }
  if (!options.PdfFile.isEmpty()) {
    printer.SetOutputPdf(options.PdfFile);
  } else {
    if (!PrinterInstalled()) return failed(QStringLiteral("No printer is installed."));
    if (!printer.SetPrinterName(printerName))
      return failed(QStringLiteral("The printer \"%1\" is not installed.").arg(printerName));
  }
  const int first = options.FirstPage > 0 ? options.FirstPage : 1;
  const int last = options.LastPage > 0 ? std::min(options.LastPage, printer.PageCount()) : printer.PageCount();
  if (first > last || first > printer.PageCount())
    return failed(QStringLiteral("Pages %1 to %2 are not in the fax (it has %3).")
                      .arg(first).arg(last).arg(printer.PageCount()));
  printer.SetFirstPageToPrint(first);
  printer.SetLastPageToPrint(last);
  printer.SetMultiPage(options.PagesPerSheet > 1);
  printer.SetLandscape(options.PagesPerSheet == 2);
  printer.SetPrintScale(options.Stretch ? psFitToPage : psNone);
  printer.SetImposeWait(options.ImposeWait);
  printer.SetMarks(options.Marks);
  printer.FaxHeader().Enabled = options.Header;
  printer.FaxHeader().Caption = options.Header ? options.HeaderCaption : QString();
  printer.FaxFooter().Enabled = options.Footer;
  printer.FaxFooter().Caption = options.Footer ? options.FooterCaption : QString();
  TQvFaxPrinterLog log;
  if (!options.LogFile.isEmpty()) {
    log.SetLogFileName(options.LogFile);
    printer.SetFaxPrinterLog(&log);
  }
  std::unique_ptr<TQvFaxPrinterStatus> status;
  if (options.ShowStatus) {
    status = std::make_unique<TQvFaxPrinterStatus>();
    printer.SetStatusDisplay(status.get());
  }
  try {
    printer.PrintFax();
  } catch (const std::exception& e) {
    return failed(QString::fromStdString(e.what()));
  }
  return true;
}

}  // namespace qv::ui
