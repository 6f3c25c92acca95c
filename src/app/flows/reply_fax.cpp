#include "app/flows/reply_fax.h"

#include "app/store/fax_store.h"
#include "app/store/merge_fields.h"
#include "app/store/receive_folder.h"
#include "app/store/rich_text_editor.h"
#include "app/store/table_pair.h"
#include "core/error_text.h"
#include "faximage/marked_copy.h"
#include "faximage/marks_file.h"
#include "rtf/rtf_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace qv::app {

namespace {

// "QVA" and five digits: an 8.3 name like every other file of the data directory, and a name no
// other file of the program has.
const char* const kAttachmentPattern = "^QVA[0-9]{5}\\.QVF$";
constexpr int kMaxAttachmentNumber = 99999;
const char* const kReplyPrefix = "Re: ";
const char* const kForwardPrefix = "Fwd: ";
// Characters a station ID that is a dialable number may hold besides digits.
const char* const kNumberPunctuation = " +-()/.";

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsAttachmentName(const QString& name) {
  static const QRegularExpression re(QString::fromLatin1(kAttachmentPattern));
  return re.match(name).hasMatch();
}

// The name at the end of an attachment field's text: "... <QVA00001.QVF>".
QString NameInText(const std::string& text) {
  const QString t = Q(text).trimmed();
  const int open = t.lastIndexOf(QLatin1Char('<'));
  if (open < 0 || !t.endsWith(QLatin1Char('>'))) return QString();
  return t.mid(open + 1, t.size() - open - 2);
}

bool IsAttachmentRun(const rtf::Run& r) {
  return r.kind == rtf::Run::Kind::Field && r.field.kind == kFieldAttachment;
}

// The sender's station ID as a number to dial, when it is one (digits and the punctuation people
// write numbers with); otherwise empty, and the user types the number.
QString DialableNumber(const QString& stationId) {
  const QString id = stationId.trimmed();
  bool digits = false;
  for (QChar c : id) {
    if (c.isDigit()) digits = true;
    else if (!QString::fromLatin1(kNumberPunctuation).contains(c)) return QString();
  }
  return digits ? id : QString();
}

}  // namespace

QString AttachmentName(const rtf::Document& doc) {
  for (const rtf::Paragraph& p : doc.paragraphs)
    for (const rtf::Run& r : p.runs)
      if (IsAttachmentRun(r)) return NameInText(r.field.placeholder);
  return QString();
}

QString TakeAttachment(rtf::Document& doc) {
  QString name;
  for (auto p = doc.paragraphs.begin(); p != doc.paragraphs.end();) {
    const size_t before = p->runs.size();
    for (auto r = p->runs.begin(); r != p->runs.end();) {
      if (IsAttachmentRun(*r)) {
        if (name.isEmpty()) name = NameInText(r->field.placeholder);
        r = p->runs.erase(r);
      } else {
        ++r;
      }
    }
    if (before != p->runs.size() && p->runs.empty())
      p = doc.paragraphs.erase(p);
    else
      ++p;
  }
  return name;
}

QString AttachmentText(int pages, const QString& from, const QString& name) {
  const QString sender = from.trimmed().isEmpty() ? QStringLiteral("an unknown sender") : from.trimmed();
  return QStringLiteral("Attached: %1 %2 of the fax from %3 <%4>")
      .arg(pages)
      .arg(pages == 1 ? QStringLiteral("page") : QStringLiteral("pages"), sender, name);
}

QString AttachmentPath(const QString& dataDir, const QString& name) {
  if (!IsAttachmentName(name)) return QString();
  return dataDir + name;
}

bool RemoveRecordAttachment(TFaxStore& store, const QString& dataDir) {
  TablePair& fax = store.Pair(TableId::Fax);
  const int current = fax.RecNo();
  RtfBuffer memo;
  if (!store.LoadRichText(memo, "RTFDOC", fax) || memo.IsEmpty()) return true;
  rtf::Document doc;
  if (!rtf::ReadRtf(memo.Rtf(), doc)) return true;
  const QString name = AttachmentName(doc);
  const QString path = AttachmentPath(dataDir, name);
  if (path.isEmpty()) return true;
  // A clone or a fax made for several recipients names the same pages: they stay while one does.
  const std::string reference = "<" + name.toStdString() + ">";
  bool shared = false;
  for (uint32_t r : fax.VisibleRecNos()) {
    if (static_cast<int>(r) == current || !fax.Go(static_cast<int>(r))) continue;
    RtfBuffer other;
    if (store.LoadRichText(other, "RTFDOC", fax) && other.Rtf().find(reference) != std::string::npos) {
      shared = true;
      break;
    }
  }
  fax.Go(current);
  if (shared) return true;
  return !QFileInfo::exists(path) || QFile::remove(path);
}

int RemoveUnnamedAttachments(TFaxStore& store, const QString& dataDir) {
  QStringList files = QDir(dataDir).entryList({QStringLiteral("QVA*.QVF")}, QDir::Files);
  files.erase(std::remove_if(files.begin(), files.end(), [](const QString& f) { return !IsAttachmentName(f); }),
              files.end());
  if (files.isEmpty()) return 0;
  TablePair& fax = store.Pair(TableId::Fax);
  const int current = fax.RecNo();
  for (uint32_t r : fax.VisibleRecNos()) {
    if (files.isEmpty()) break;
    RtfBuffer memo;
    if (!fax.Go(static_cast<int>(r)) || !store.LoadRichText(memo, "RTFDOC", fax)) {
      // A memo that cannot be read may name any of them: nothing is removed.
      fax.Go(current);
      return 0;
    }
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const QString& f) {
                                 return memo.Rtf().find("<" + f.toStdString() + ">") != std::string::npos;
                               }),
                files.end());
  }
  fax.Go(current);
  int removed = 0;
  for (const QString& f : files) removed += QFile::remove(dataDir + f) ? 1 : 0;
  return removed;
}

// ---------------------------------------------------------------------------------------------

TReplyFax::TReplyFax(TFaxStore& store, const QString& dataDir, ReplyKind kind)
    : store_(store), dataDir_(dataDir), kind_(kind) {}

TReplyFax::~TReplyFax() {
  if (!kept_ && !pagesFile_.isEmpty()) QFile::remove(pagesFile_);
}

bool TReplyFax::Prepare(TFlowObserver& observer) {
  TablePair& rec = store_.Pair(TableId::Rec);
  const QString from = Q(rec.FieldString("FROM")).trimmed();
  const QString faxFile = ReceiveFilePath(dataDir_, Q(rec.FieldString("FAXFILE")).trimmed());
  if (faxFile.isEmpty() || !QFileInfo(faxFile).isFile()) {
    observer.FlowInformation(QStringLiteral("Fax file is missing"));
    return false;
  }
  const std::string source = QFile::encodeName(faxFile).toStdString();
  faximage::FaxMarks marks;
  faximage::MarksError marksError;
  if (faximage::LoadMarks(source, marks, marksError) == faximage::MarksLoad::Damaged) {
    // The reply would go out without what the user wrote on the fax: say so rather than send it.
    observer.FlowInformation(QStringLiteral("The marks on this fax cannot be read: ") + Q(marksError.Describe()));
    return false;
  }

  // The first free number; a name is taken by creating its file, so two replies never share one.
  QString name;
  for (int n = 1; n <= kMaxAttachmentNumber && name.isEmpty(); ++n) {
    const QString candidate = QStringLiteral("QVA%1.QVF").arg(n, 5, 10, QLatin1Char('0'));
    QFile f(dataDir_ + candidate);
    if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) name = candidate;
  }
  if (name.isEmpty()) {
    observer.FlowInformation(QStringLiteral("No name is left for the pages of a reply in ") +
                             QDir::toNativeSeparators(dataDir_));
    return false;
  }
  pagesFile_ = dataDir_ + name;
  observer.FlowBusy(true);
  const int rc = faximage::WriteMarkedCopy(source, marks, QFile::encodeName(pagesFile_).toStdString(), &pages_);
  observer.FlowBusy(false);
  if (rc != 0) {
    QFile::remove(pagesFile_);
    pagesFile_.clear();
    observer.FlowInformation(QStringLiteral("The pages of the reply could not be made: ") + Q(core::ErrorText(rc)));
    return false;
  }

  const QString about = from.isEmpty()
                            ? QStringLiteral("fax of ") + Q(store_.GetDatetimeAsString(false))
                            : from;
  if (kind_ == ReplyKind::kReply) {
    recipient_ = from;
    number_ = DialableNumber(from);
    subject_ = QString::fromLatin1(kReplyPrefix) + about;
  } else {
    subject_ = QString::fromLatin1(kForwardPrefix) + about;
  }
  rtf::Run field;
  field.kind = rtf::Run::Kind::Field;
  field.field.kind = kFieldAttachment;
  field.field.placeholder = AttachmentText(pages_, from, name).toStdString();
  rtf::Paragraph p;
  p.runs.push_back(std::move(field));
  document_ = rtf::Document();
  document_.paragraphs.push_back(std::move(p));
  return true;
}

}  // namespace qv::app
