// Rendering the current outgoing fax into one QVF file: cover sheet pages first, then the
// document's, each editor's pages drawn by the desktop's page renderer and coded in memory (no
// bitmap working file is needed: the renderer's rows go straight to the converter), the files of
// the two editors joined with the QVF append rule. Used by Send and by View/Print of an outgoing fax.

#include "app/main_screen.h"

#include "app/dialog_service.h"
#include "app/fax_editor.h"
#include "app/fax_store.h"
#include "app/message_pump.h"
#include "app/rich_text_editor.h"
#include "app/settings.h"
#include "app/table_pair.h"
#include "core/error_text.h"
#include "faximage/qvf_append.h"
#include "rtf/rtf_reader.h"
#include "ui/document_fax.h"
#include "ui/page_renderer.h"
#include "ui/rich_edit.h"

#include <QApplication>
#include <QDate>
#include <QFile>
#include <QLocale>
#include <QTime>
#include <QToolBar>

#include <optional>
#include <string>
#include <vector>

namespace qv::app {

namespace {

inline constexpr const char* kNoContentsText = "Fax has no contents or cover sheet";
inline constexpr const char* kCreatingText = "Creating fax file";
inline constexpr const char* kRenderingText = "Creating fax file....";
inline constexpr const char* kMergingText = "Creating fax file........";
// The page bitmap's working file of earlier versions; never left behind.
inline constexpr const char* kPageBitmapFile = "_TMP.BMP";

// Restores cursor, tool bar and status on every way out.
class BusyScope {
 public:
  BusyScope(TMainScreen& w) : w_(w) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (QToolBar* bar = w.findChild<QToolBar*>(QStringLiteral("ButtonBar"))) {
      bar_ = bar;
      bar->setEnabled(false);
    }
  }
  ~BusyScope() {
    QApplication::restoreOverrideCursor();
    if (bar_) bar_->setEnabled(true);
    w_.SetStatus(QString());
  }

 private:
  TMainScreen& w_;
  QToolBar* bar_ = nullptr;
};

}  // namespace

QString TMainScreen::CreateFaxFile() {
  const std::string dir = dataDir_.toStdString();
  TablePair& fax = store_->Pair(TableId::Fax);
  std::optional<BusyScope> busy(std::in_place, *this);
  SetStatus(QString::fromLatin1(kCreatingText));
  PumpMessages();

  // The memos as the editor's content model; one that cannot be read stops the rendering (a fax
  // must never go out with a part silently missing).
  rtf::Document docs[2];
  const char* fields[2] = {"RTFCOVER", "RTFDOC"};
  const char* unreadable[2] = {"The cover sheet of this fax cannot be read: ",
                               "The document of this fax cannot be read: "};
  for (int i = 0; i < 2; ++i) {
    RtfBuffer memo;
    std::string why;
    if (!store_->LoadRichText(memo, fields[i], fax, &why)) {
      busy.reset();
      Dialogs().Information(this, QString::fromLatin1(unreadable[i]) + QString::fromStdString(why));
      return QString();
    }
    if (memo.IsEmpty()) continue;
    rtf::ReadResult r = rtf::ReadRtf(memo.Rtf(), docs[i]);
    if (!r) {
      busy.reset();
      Dialogs().Information(this, QString::fromStdString(r.message));
      return QString();
    }
  }
  const bool hasPart[2] = {!ui::IsBlankForSending(docs[0]), !ui::IsBlankForSending(docs[1])};
  if (!hasPart[0] && !hasPart[1]) {
    busy.reset();
    Dialogs().Information(this, QString::fromLatin1(kNoContentsText));
    return QString();
  }

  // Merge fields show the record as it is now.
  const QString recipient = QString::fromStdString(fax.FieldString("RECIPIENT")).trimmed();
  const QString number = QString::fromStdString(fax.FieldString("PHONE")).trimmed();
  const QString subject = QString::fromStdString(fax.FieldString("SUBJECT")).trimmed();
  const QString date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
  const QString time = QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat);
  ui::DocumentFaxOptions options;
  options.stationId = Settings().Fax;
  options.yield = true;
  options.fieldValue = [&](int kind) {
    QString v;
    switch (kind) {
      case kFieldRecipient: v = recipient; break;
      case kFieldFaxNumber: v = number; break;
      case kFieldSubject: v = subject; break;
      case kFieldDate: v = date; break;
      case kFieldTime: v = time; break;
      default: break;
    }
    return v.left(ui::kMaxMergeFieldLength);
  };

  SetStatus(QString::fromLatin1(kRenderingText));
  const std::string base = ui::RenderBaseFileName(dir);
  std::vector<std::string> files;  // one per editor, named after its first page
  auto removeAll = [&] {
    for (const std::string& f : files) QFile::remove(QString::fromStdString(f));
    QFile::remove(QString::fromStdString(dir + kPageBitmapFile));
  };
  int pages = 0;
  int rc = 0;
  for (int i = 0; i < 2 && rc == 0; ++i) {
    if (!hasPart[i]) continue;
    const std::string name = ui::RenderPageFileName(dir, pages + 1, base);
    int written = 0;
    rc = ui::WriteDocumentFax(docs[i], name, options, &written);
    if (rc == 0) {
      files.push_back(name);
      pages += written;
    }
  }

  SetStatus(QString::fromLatin1(kMergingText));
  for (size_t i = 1; i < files.size() && rc == 0; ++i) rc = faximage::AppendFaxFile(files[0], files[i]);
  if (rc != 0) {
    removeAll();
    busy.reset();
    Dialogs().Information(this, QString::fromStdString(core::ErrorText(rc)));
    return QString();
  }
  for (size_t i = 1; i < files.size(); ++i) QFile::remove(QString::fromStdString(files[i]));
  QFile::remove(QString::fromStdString(dir + kPageBitmapFile));
  pageCount_ = pages;
  return QString::fromStdString(files[0]);
}

}  // namespace qv::app
