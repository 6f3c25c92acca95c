#include "app/flows/print_jobs.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <filesystem>

#include "app/store/fax_store.h"
#include "app/store/field_fit.h"
#include "app/store/rich_text_editor.h"
#include "app/store/table_pair.h"
#include "core/file_util.h"
#include "printer/print_job.h"
#include "rtf/rtf_writer.h"
#include "ui/picture_import.h"

namespace qv::app {
namespace {

// A waiting job is looked at again this often while the window is not ready for it.
constexpr int kRetryMs = 1000;
// Until the user's folder exists (the backend makes it with the first job, and the spool root
// may not be there before the printer is installed) the flow looks for it this often.
constexpr int kLookAgainMs = 2000;

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t start = s.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : s.substr(start);
}

// The printed pages as a document of the editor: one picture a page, each page on its own.
bool DocumentFromJob(const printer::TPrintJob& job, std::string& rtf, int& pages, std::string* error) {
  rtf::Document doc;
  const rtf::PageSetup& pg = doc.page;
  const int width = pg.paperWidth - pg.marginLeft - pg.marginRight;
  const int height = int((pg.paperHeight - pg.marginTop - pg.marginBottom) * ui::kFullPageShare);
  pages = 0;
  for (const std::string& file : job.documents) {
    std::vector<rtf::Picture> pictures;
    if (!ui::LoadPdfPages(QString::fromStdString(file), width, height, pictures, error)) return false;
    for (rtf::Picture& picture : pictures) {
      rtf::Paragraph para;
      para.format.pageBreakBefore = !doc.paragraphs.empty();
      rtf::Run run;
      run.kind = rtf::Run::Kind::Picture;
      run.picture = std::move(picture);
      para.runs.push_back(std::move(run));
      doc.paragraphs.push_back(std::move(para));
      ++pages;
    }
  }
  if (pages == 0) {
    if (error) *error = "the job has no pages";
    return false;
  }
  rtf = rtf::WriteRtf(doc);
  return true;
}

// The cover sheet of the first template (in the templates' order), or none.
void DefaultCover(TFaxStore& store, RtfBuffer& cover) {
  if (!store.OpenCoverDBF()) return;
  TablePair& templates = store.Pair(TableId::Cover);
  templates.First();
  if (!templates.Eof()) store.LoadRichText(cover, "COVER", templates);
  store.Close(TableId::Cover);
}

}  // namespace

TPrintJobs::TPrintJobs(TFaxStore& store, const QString& userFolder, QObject* parent)
    : QObject(parent), store_(store), userFolder_(userFolder) {
  retry_.setInterval(kRetryMs);
  retry_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, [this] { Scan(); });
  lookAgain_.setInterval(kLookAgainMs);
  connect(&lookAgain_, &QTimer::timeout, this, [this] {
    Watch();
    Scan();
  });
}

TPrintJobs::~TPrintJobs() = default;

void TPrintJobs::Start() {
  Watch();
  Scan();
}

void TPrintJobs::Watch() {
  if (!watcher_) {
    watcher_ = new QFileSystemWatcher(this);
    // The backend makes the user's folder with the first job: until then the root is watched,
    // and a job may be in the folder before the folder is watched.
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
      Watch();
      Scan();
    });
  }
  const QStringList watched = watcher_->directories();
  if (QDir(userFolder_).exists()) {
    if (!watched.contains(userFolder_)) watcher_->addPath(userFolder_);
  } else {
    const QString root = QFileInfo(userFolder_).absolutePath();
    if (QDir(root).exists() && !watched.contains(root)) watcher_->addPath(root);
  }
  if (watcher_->directories().contains(userFolder_)) lookAgain_.stop();
  else if (!lookAgain_.isActive()) lookAgain_.start();
}

int TPrintJobs::Scan() {
  if (ready_ && !ready_()) {
    retry_.start();
    return 0;
  }
  int taken = 0;
  for (const std::string& folder : printer::ListJobFolders(userFolder_.toStdString())) {
    if (refused_.count(folder)) continue;
    if (Take(folder)) ++taken;
  }
  return taken;
}

bool TPrintJobs::StoredBefore(const std::string& folder) {
  std::string text;
  if (!core::ReadWholeFile(folder + "/" + printer::kJobClaimFile, text)) return false;
  printer::TJobClaim claim;
  if (!printer::ParseJobClaim(text, claim, nullptr)) return false;
  TablePair& fax = store_.Pair(TableId::Fax);
  std::vector<uint8_t> raw;
  if (claim.record > fax.RecCount() || !fax.ReadRecord(claim.record, raw)) return false;
  return Trimmed(fax.FieldStringFrom(raw, "PHONE")) ==
             Trimmed(FitField(claim.phone, FieldWidth(TableId::Fax, "PHONE"))) &&
         Trimmed(fax.FieldStringFrom(raw, "SUBJECT")) ==
             Trimmed(FitField(claim.subject, FieldWidth(TableId::Fax, "SUBJECT")));
}

bool TPrintJobs::Take(const std::string& folder) {
  auto refuse = [&](const std::string& why) {
    refused_.insert(folder);
    emit JobRefused(QString::fromStdString(folder), QString::fromStdString(why));
    return false;
  };
  std::error_code ec;
  if (StoredBefore(folder)) {
    std::filesystem::remove_all(folder, ec);
    return false;
  }
  printer::TPrintJob job;
  std::string error;
  if (!printer::ReadPrintJob(folder, job, &error)) return refuse(error);
  std::string docRtf;
  int pages = 0;
  if (!DocumentFromJob(job, docRtf, pages, &error)) return refuse(error);
  RtfBuffer cover;
  DefaultCover(store_, cover);
  RtfBuffer document;
  document.SetRtf(docRtf);

  TablePair& fax = store_.Pair(TableId::Fax);
  printer::TJobClaim claim{fax.RecCount() + 1, job.Phone(), job.title};
  if (!core::AtomicWriteFile(folder + "/" + printer::kJobClaimFile, printer::FormatJobClaim(claim)))
    return refuse("the job cannot be marked in the spool folder");
  std::vector<TFaxStore::MemoText> memos{{"RTFDOC", &document}};
  if (!cover.IsEmpty()) memos.insert(memos.begin(), {"RTFCOVER", &cover});
  if (!store_.StoreRecord(TableId::Fax, fax, true,
                          {{"RECIPIENT", job.Recipient()}, {"SUBJECT", job.title}, {"PHONE", job.Phone()}},
                          memos, &error)) {
    // Nothing was stored and the job stays as it came.
    std::filesystem::remove(folder + "/" + printer::kJobClaimFile, ec);
    return refuse("the fax could not be stored: " + error);
  }
  const int recNo = fax.RecNo();
  std::filesystem::remove_all(folder, ec);
  store_.FaxTableCloseAndOpen();
  fax.Go(recNo);
  TTakenJob taken;
  taken.recNo = recNo;
  taken.title = QString::fromStdString(job.title);
  taken.recipient = QString::fromStdString(job.Recipient());
  taken.phone = QString::fromStdString(job.Phone());
  taken.pages = pages;
  emit JobTaken(taken);
  return true;
}

}  // namespace qv::app
