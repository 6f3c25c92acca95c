#include "app/store/fax_store.h"

#include "app/store/cover_templates.h"
#include "app/store/field_fit.h"
#include "app/store/rich_text_editor.h"
#include "app/store/table_pair.h"
#include "rtf/rtf_writer.h"
#include "tables/file_io.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTime>

#include <cerrno>

namespace qv::app {

namespace {

constexpr int kFoxProDriver = 2;  // compound CDX indexes
constexpr int kReplaceFromFile = 8192;
constexpr int kReplaceMemoString = 3072;

struct FieldDef {
  const char* name;
  char type;
  int width;
};

const std::vector<FieldDef>& FaxFields() {
  static const std::vector<FieldDef> fields = {
      {"SUBJECT", 'C', 50},   {"SENT", 'L', 1},        {"DATESENT", 'D', 8}, {"TIMESENT", 'C', 5},
      {"RECIPIENT", 'C', 35}, {"PHONE", 'C', 25},      {"PAGES", 'N', 2},    {"LASTRESULT", 'C', 100},
      {"RTFCOVER", 'M', 10},  {"RTFDOC", 'M', 10}};
  return fields;
}

const std::vector<FieldDef>& RecFields() {
  static const std::vector<FieldDef> fields = {{"DATEREC", 'D', 8}, {"TIMEREC", 'C', 5},
                                               {"FROM", 'C', 20},   {"PAGES", 'N', 2},
                                               {"FAXFILE", 'C', 12}, {"NOTES", 'C', 60}};
  return fields;
}

const std::vector<FieldDef>& CoverFields() {
  static const std::vector<FieldDef> fields = {{"DESCRIPT", 'C', 35}, {"COVER", 'M', 10}};
  return fields;
}

const std::vector<FieldDef>& PhoneFields() {
  static const std::vector<FieldDef> fields = {{"NAME", 'C', 35}, {"PHONE", 'C', 25}};
  return fields;
}

struct TagDef {
  const char* tag;
  const char* key;
  bool descending;
};

// The tag each table gets when its index file is first made, and the one its order uses.
TagDef FirstTag(TableId id) {
  switch (id) {
    case TableId::Fax: return {"DATESENT", "DTOS(DATESENT)+TIMESENT", true};
    case TableId::Rec: return {"DATETIME", "DTOS(DATEREC)+TIMEREC", true};
    case TableId::Cover: return {"DESCRIPT", "DESCRIPT", false};
    case TableId::Phone: return {"NAME", "UPPER(NAME)", false};
  }
  return {"", "", false};
}

// Every tag the program expects of a table, in the order they are made, and the one its order
// uses. A rebuild makes these, and so does the creation of a table: a table made a moment ago must
// not look like one of an older version that lacks the newer tags (the window offers to reindex
// those). The outgoing DATESENT of this layout orders by date alone; the first tag that an opening
// gives a table whose index file went missing orders by date and time.
struct TagSet {
  std::vector<TagDef> tags;
  const char* order;
};

TagSet ExpectedTags(TableId id) {
  switch (id) {
    case TableId::Fax:
      return {{{"DATESENT", "datesent", true},
               {"DATEND", "DTOS(DATESENT)+TIMESENT", false},
               {"SUBJECT", "UPPER(SUBJECT)", false},
               {"RECIPIENT", "UPPER(RECIPIENT)", false}},
              "DATESENT"};
    case TableId::Rec:
      return {{{"DATETIME", "DTOS(DATEREC)+TIMEREC", true},
               {"DATEND", "DTOS(DATEREC)+TIMEREC", false},
               {"FROM", "UPPER(FROM)", true}},
              "DATETIME"};
    case TableId::Cover: return {{{"DESCRIPT", "DESCRIPT", false}}, "DESCRIPT"};
    case TableId::Phone: return {{{"NAME", "UPPER(NAME)", false}}, "NAME"};
  }
  return {{}, ""};
}

const std::vector<FieldDef>& FieldsOf(TableId id) {
  switch (id) {
    case TableId::Fax: return FaxFields();
    case TableId::Rec: return RecFields();
    case TableId::Cover: return CoverFields();
    case TableId::Phone: return PhoneFields();
  }
  return PhoneFields();
}

const char* FileOf(TableId id) {
  switch (id) {
    case TableId::Fax: return kFaxTableFile;
    case TableId::Rec: return kRecTableFile;
    case TableId::Cover: return kCoverTableFile;
    case TableId::Phone: return kPhoneTableFile;
  }
  return "";
}

const char* PairName(TableId id) {
  switch (id) {
    case TableId::Fax: return "FaxTable";
    case TableId::Rec: return "RecTable";
    case TableId::Cover: return "CoverTable";
    case TableId::Phone: return "PhoneTable";
  }
  return "";
}

bool FileExists(const std::string& path) { return QFileInfo(QString::fromStdString(path)).isFile(); }

bool MakeTable(TablePair& pair, const std::string& path, const std::vector<FieldDef>& fields) {
  bool ok = pair.CreateNew(path, kFoxProDriver, static_cast<int>(fields.size()));
  for (const FieldDef& f : fields) ok = ok && pair.CreateField(f.name, f.type, 0, f.width);
  ok = ok && pair.CreateExec();
  return ok && FileExists(path);
}

void RemoveFile(const std::string& path) { QFile::remove(QString::fromStdString(path)); }

// Pack errors are retried once and then passed over.
void PackWithRetry(TablePair& pair) {
  if (!pair.Pack()) pair.Pack();
}

void MakeTags(TablePair& pair, const TagSet& set) {
  for (const TagDef& t : set.tags) pair.IndexTag("", t.tag, kNotDeleted, t.descending, 0, t.key);
  pair.SetOrder(pair.TagArea(set.order));
}

// A new cover table starts with the starter templates; a failure leaves it short of them, never
// unusable.
void SeedCoverTemplates(TablePair& pair) {
  for (const StarterTemplate& t : StarterTemplates()) {
    if (!pair.Append()) return;
    pair.SetFieldString("DESCRIPT", t.description);
    if (!pair.Replace("COVER", kReplaceMemoString, rtf::WriteRtf(t.document)) || !pair.Post()) {
      pair.Cancel();
      return;
    }
  }
  pair.First();
}

}  // namespace

size_t FieldWidth(TableId table, const std::string& field) {
  for (const FieldDef& f : FieldsOf(table))
    if (field == f.name) return f.type == 'C' ? static_cast<size_t>(f.width) : 0;
  return 0;
}

std::string IndexFileName(const std::string& tableFile) {
  if (tableFile.size() < 3) return tableFile + "CDX";
  return tableFile.substr(0, tableFile.size() - 3) + "CDX";
}

TFaxStore::TFaxStore(std::string dataDir) : dataDir_(std::move(dataDir)) {
  for (TableId id : {TableId::Fax, TableId::Rec, TableId::Cover, TableId::Phone}) {
    pairs_[static_cast<int>(id)] = std::make_unique<TablePair>(PairName(id));
  }
}

TFaxStore::~TFaxStore() {
  for (auto& pair : pairs_) pair->Close();
}

TablePair& TFaxStore::Pair(TableId id) { return *pairs_[static_cast<int>(id)]; }

bool TFaxStore::MakeFaxDBF(TablePair& pair) { return MakeTable(pair, pair.Path(), FaxFields()); }
bool TFaxStore::MakeRecFaxDBF(TablePair& pair) { return MakeTable(pair, pair.Path(), RecFields()); }
bool TFaxStore::MakeCoverDBF(TablePair& pair) { return MakeTable(pair, pair.Path(), CoverFields()); }
bool TFaxStore::MakePhoneDBF(TablePair& pair) { return MakeTable(pair, pair.Path(), PhoneFields()); }

bool TFaxStore::OpenTable(TableId id, TablePair& pair) {
  pair.SetLocation(dataDir_, FileOf(id));
  const std::string indexFile = dataDir_ + IndexFileName(FileOf(id));
  bool made = false;
  if (!FileExists(pair.Path())) {
    switch (id) {
      case TableId::Fax: made = MakeFaxDBF(pair); break;
      case TableId::Rec: made = MakeRecFaxDBF(pair); break;
      case TableId::Cover: made = MakeCoverDBF(pair); break;
      case TableId::Phone: made = MakePhoneDBF(pair); break;
    }
    if (!made) return false;
  }
  if (id == TableId::Fax || id == TableId::Rec) pair.Close();
  if (!pair.Open()) return false;
  const TagDef first = FirstTag(id);
  if (made) {
    MakeTags(pair, ExpectedTags(id));
  } else if (!FileExists(indexFile)) {
    pair.IndexTag("", first.tag, kNotDeleted, first.descending, 0, first.key);
  }
  if (id == TableId::Fax) pair.First();
  if (id == TableId::Cover || id == TableId::Phone) pair.SetOrder(pair.TagArea(first.tag));
  pair.Query(kNotDeleted);
  if (made && id == TableId::Cover) SeedCoverTemplates(pair);
  if (id == TableId::Fax && reopenHook_) {
    reopenHook_(id, false);
    reopenHook_(id, true);
  }
  return true;
}

bool TFaxStore::OpenFaxDBF() { return OpenTable(TableId::Fax, Pair(TableId::Fax)); }
bool TFaxStore::OpenRecFaxDBF() { return OpenTable(TableId::Rec, Pair(TableId::Rec)); }
bool TFaxStore::OpenCoverDBF() { return OpenTable(TableId::Cover, Pair(TableId::Cover)); }
bool TFaxStore::OpenPhoneDBF(TablePair& pair) { return OpenTable(TableId::Phone, pair); }

void TFaxStore::Close(TableId id) { Pair(id).Close(); }

void TFaxStore::FaxTableCloseAndOpen() {
  TablePair& pair = Pair(TableId::Fax);
  const int recNo = pair.RecNo();
  if (reopenHook_) reopenHook_(TableId::Fax, false);
  pair.Close();
  Pump();
  pair.Open();
  pair.Query(kNotDeleted);
  pair.Go(recNo);
  if (reopenHook_) reopenHook_(TableId::Fax, true);
}

void TFaxStore::RecTableCloseAndOpen() {
  TablePair& pair = Pair(TableId::Rec);
  const int recNo = pair.RecNo();
  if (reopenHook_) reopenHook_(TableId::Rec, false);
  pair.Close();
  Pump();
  pair.Open();
  pair.Query(kNotDeleted);
  pair.Go(recNo);
  if (reopenHook_) reopenHook_(TableId::Rec, true);
}

bool TFaxStore::LoadRichText(RichTextEditor& editor, const std::string& field, TablePair& pair,
                             std::string* error) {
  editor.Clear();
  const std::string work = dataDir_ + kRichTextWorkFile;
  RemoveFile(work);  // never load what an earlier run left behind
  if (!pair.BlobToFile(field, work)) {
    // An unreadable memo must not pass for an empty one: a send would go out without it and an
    // edit would store the empty editor over it.
    const std::string why = TablePair::LastError();
    RemoveFile(work);
    editor.NoteLoadFailure(why);
    if (error) *error = why;
    return false;
  }
  const bool loaded = editor.LoadRtfFile(work);
  if (loaded) editor.Reformat();
  else if (error) *error = "The rich text cannot be read.";
  RemoveFile(work);
  return loaded;
}

bool TFaxStore::SaveRichText(RichTextEditor& editor, const std::string& field, TablePair& pair,
                             std::string* error) {
  const std::string work = dataDir_ + kRichTextWorkFile;
  bool ok = true;
  std::string why;
  errno = 0;
  if (!editor.SaveRtfFile(work)) {
    ok = false;
    why = "Cannot write " + work + (errno != 0 ? ": " + tables::SystemErrorText(errno) : std::string());
  } else if (!pair.Replace(field, kReplaceFromFile, work)) {
    ok = false;
    why = TablePair::LastError();
  }
  RemoveFile(work);
  if (!ok && error) *error = why;
  return ok;
}

bool TFaxStore::StoreRecord(TableId table, TablePair& pair, bool append, const std::vector<FieldText>& fields,
                            const std::vector<MemoText>& memos, std::string* error) {
  // What the record held, to put back when a later step fails.
  std::vector<std::string> formerFields, formerMemos;
  if (!append) {
    for (const FieldText& f : fields) formerFields.push_back(pair.FieldString(f.field));
    for (const MemoText& m : memos) formerMemos.push_back(pair.FieldString(m.field));
  }
  const int countBefore = pair.RecCount();
  std::string why;
  size_t memosWritten = 0;
  bool ok = append ? pair.Append() : pair.Edit();
  if (!ok) why = TablePair::LastError();
  // The fields first: the memo routine posts the record, which then already carries them.
  for (const FieldText& f : fields) {
    if (!ok) break;
    ok = pair.SetFieldString(f.field, FitField(f.text, FieldWidth(table, f.field)));
    if (!ok) why = TablePair::LastError();
  }
  for (const MemoText& m : memos) {
    if (!ok) break;
    ok = SaveRichText(*m.editor, m.field, pair, &why);
    if (ok) ++memosWritten;
  }
  if (ok) {
    ok = pair.Post();
    if (!ok) why = TablePair::LastError();
  }
  if (ok) return true;

  pair.Cancel();
  if (append) {
    // The memo routine may have posted the new record already; it goes again.
    if (pair.RecCount() > countBefore && pair.Go(pair.RecCount()) && pair.DeleteRecord()) pair.Refresh();
  } else if (pair.Edit()) {
    for (size_t i = 0; i < fields.size(); ++i) pair.SetFieldString(fields[i].field, formerFields[i]);
    for (size_t i = 0; i < memosWritten; ++i) pair.Replace(memos[i].field, kReplaceMemoString, formerMemos[i]);
    if (!pair.Post()) pair.Cancel();
  }
  if (error) *error = why.empty() ? std::string("The record cannot be written.") : why;
  return false;
}

std::string TFaxStore::GetDatetimeAsString(bool outgoing) {
  TablePair& pair = Pair(outgoing ? TableId::Fax : TableId::Rec);
  if (!HasRecord(outgoing ? TableId::Fax : TableId::Rec)) return std::string();
  if (outgoing && !pair.FieldBool("SENT")) return "not sent";
  const QLocale locale;
  const QDate date = QDate::fromString(
      QString::fromStdString(pair.FieldDate(outgoing ? "DATESENT" : "DATEREC")), QStringLiteral("yyyyMMdd"));
  const QString dateText = date.isValid() ? locale.toString(date, QLocale::ShortFormat)
                                          : QStringLiteral("unknown");
  const QString stored = QString::fromStdString(pair.FieldString(outgoing ? "TIMESENT" : "TIMEREC"));
  QTime time = QTime::fromString(stored.trimmed(), QStringLiteral("hh:mm"));
  if (!time.isValid()) time = QTime::fromString(stored.trimmed(), QStringLiteral("h:mm"));
  const QString timeText = time.isValid() ? locale.toString(time, QLocale::ShortFormat) : stored;
  return (dateText + QStringLiteral(" at ") + timeText).toStdString();
}

bool TFaxStore::HasRecord(TableId id) {
  TablePair& pair = Pair(id);
  return pair.IsOpen() && pair.RecNo() != pair.RecCount() + 1;
}

bool TFaxStore::SyncOrder(TableId id) {
  TablePair& pair = Pair(id);
  if (!pair.IsOpen()) return false;
  const bool has = HasRecord(id);
  const int order = pair.IndexOrd();
  if (!has && order != 0) {
    pair.SetOrder(0);
    return true;
  }
  if (has && order == 0) {
    pair.SetOrder(pair.TagArea(FirstTag(id).tag));
    pair.First();
    return true;
  }
  return false;
}

bool TFaxStore::HasTag(TableId id, const std::string& tag) {
  TablePair& pair = Pair(id);
  return pair.IsOpen() && pair.TagArea(tag) > 0;
}

void TFaxStore::RebuildIndexes(const std::function<void(const char*)>& progress) {
  auto step = [&](const char* text) {
    if (progress) progress(text);
  };

  TablePair& fax = Pair(TableId::Fax);
  step("Removing FAX file records marked for deletion");
  if (fax.IsOpen()) {
    fax.CloseIndexes();
    RemoveFile(dataDir_ + IndexFileName(kFaxTableFile));
    PackWithRetry(fax);
    step("Rebuilding FAX file indexes");
    MakeTags(fax, ExpectedTags(TableId::Fax));
  }

  TablePair& rec = Pair(TableId::Rec);
  if (rec.IsOpen()) {
    rec.CloseIndexes();
    RemoveFile(dataDir_ + IndexFileName(kRecTableFile));
    step("Removing Received FAX records marked for deletion");
    PackWithRetry(rec);
    step("Rebuilding Received FAX indexes");
    MakeTags(rec, ExpectedTags(TableId::Rec));
  }

  TablePair& phone = Pair(TableId::Phone);
  if (OpenPhoneDBF(phone)) {
    phone.CloseIndexes();
    RemoveFile(dataDir_ + IndexFileName(kPhoneTableFile));
    step("Removing PHONE file records marked for deletion");
    PackWithRetry(phone);
    step("Rebuilding PHONE file indexes");
    MakeTags(phone, ExpectedTags(TableId::Phone));
    phone.Close();
  }

  TablePair& cover = Pair(TableId::Cover);
  if (!OpenCoverDBF()) return;
  cover.CloseIndexes();
  RemoveFile(dataDir_ + IndexFileName(kCoverTableFile));
  step("Removing COVER file records marked for deletion");
  PackWithRetry(cover);
  step("Rebuilding COVER file indexes");
  MakeTags(cover, ExpectedTags(TableId::Cover));
  cover.Close();
}

}  // namespace qv::app
