#include "app/flows/received_filing.h"

#include "app/store/fax_store.h"
#include "app/store/field_fit.h"
#include "app/store/page_count_field.h"
#include "app/store/receive_folder.h"
#include "app/store/table_pair.h"
#include "faximage/qvf_file.h"
#include "faximage/t4_decoder.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace qv::app {

namespace {

// Names the file of the call in progress until that file has its record, so that a run ending
// during a call leaves a trace the next start can settle.
constexpr const char* kReceiveJournalFile = "Receiving.tmp";

bool SameFile(TablePair& rec, const QString& name) {
  return QString::fromStdString(rec.FieldString("FAXFILE")).trimmed().compare(name, Qt::CaseInsensitive) == 0;
}

// True when the page's coding ends (three EOLs in a row) within its data.
bool PageCodingEnds(faximage::QvfReader& reader, const faximage::QvfPageSpan& page) {
  faximage::T4Decoder decoder([](std::span<const uint8_t>) {});
  decoder.startPage();
  uint8_t block[faximage::QvfReader::kBlockSize];
  reader.Seek(page.dataOffset);
  for (int64_t left = page.header.ImageLength; left > 0;) {
    const int64_t got = reader.Read(block, static_cast<size_t>(std::min<int64_t>(left, sizeof block)));
    if (got <= 0) return false;
    if (decoder.feed(block, static_cast<size_t>(got))) return true;
    left -= got;
  }
  return false;
}

// Keeps the pages of a received file that arrived whole and rewrites its page count: a page
// whose data runs past the end of the file, or the last page when its coding never ends (the
// line went dead in it), is cut off. Returns the pages kept, or -1 when the file is no QVF file
// or cannot be read or rewritten (it is then left as it is).
int TrimToCompletePages(const std::string& path, std::string* stationId) {
  faximage::QvfReader reader;
  if (reader.Open(path) != 0) return -1;
  faximage::QvfFileHeader header = reader.Header();
  if (stationId) *stationId = header.StationIdString();
  std::vector<faximage::QvfPageSpan> pages;
  if (reader.WholePages(pages) != 0) return -1;
  if (!pages.empty() && !PageCodingEnds(reader, pages.back())) pages.pop_back();
  reader.Close();

  std::error_code ec;
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path, ec));
  if (ec) return -1;
  const int64_t end = pages.empty() ? header.FirstPageOffset : pages.back().dataOffset + pages.back().header.ImageLength;
  if (static_cast<int>(pages.size()) != header.PageCount) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!f) return -1;
    header.PageCount = static_cast<uint16_t>(pages.size());
    uint8_t raw[faximage::kQvfFileHeaderSize];
    header.Encode(raw);
    f.write(reinterpret_cast<const char*>(raw), sizeof raw);
    f.close();
    if (!f) return -1;
  }
  if (end < size) std::filesystem::resize_file(path, static_cast<uintmax_t>(end), ec);
  return static_cast<int>(pages.size());
}

}  // namespace

TReceivedFiling::TReceivedFiling(TFaxStore& store, const QString& dataDir) : store_(store), dataDir_(dataDir) {}

QString TReceivedFiling::JournalPath() const { return dataDir_ + QString::fromLatin1(kReceiveJournalFile); }

QString TReceivedFiling::JournalName() const {
  QFile journal(JournalPath());
  if (!journal.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(journal.readAll()).trimmed();
}

void TReceivedFiling::JournalBegin(const QString& path) {
  QSaveFile out(JournalPath());
  if (out.open(QIODevice::WriteOnly)) {
    out.write(QFileInfo(path).fileName().toUtf8());
    out.commit();
  }
}

void TReceivedFiling::JournalEnd() { QFile::remove(JournalPath()); }

int TReceivedFiling::PageCount(const QString& path) {
  faximage::QvfFileHeader header;
  if (faximage::ReadFaxHeader(path.toStdString(), header) != 0) return -1;
  return header.PageCount;
}

bool TReceivedFiling::AppendRecord(const QString& fileName, const QString& from, int pages, const QString& notes) {
  TablePair& rec = store_.Pair(TableId::Rec);
  if (!rec.IsOpen() || !rec.Append()) return false;
  const QDateTime now = QDateTime::currentDateTime();
  rec.SetFieldDate("DATEREC", now.date().toString(QStringLiteral("yyyyMMdd")).toStdString());
  rec.SetFieldString("TIMEREC", now.time().toString(QStringLiteral("hh:mm")).toStdString());
  rec.SetFieldString("FROM", FitField(from.toStdString(), FieldWidth(TableId::Rec, "FROM")));
  rec.SetFieldInt("PAGES", StoredPageCount(pages));
  rec.SetFieldString("FAXFILE", FitField(fileName.toStdString(), FieldWidth(TableId::Rec, "FAXFILE")));
  // A count the field cannot hold is kept in the notes, so the record still tells it.
  QString text = notes;
  if (pages > kMaxStoredPages && text.isEmpty()) text = QString::number(pages) + QStringLiteral(" pages");
  if (!text.isEmpty()) rec.SetFieldString("NOTES", FitField(text.toStdString(), FieldWidth(TableId::Rec, "NOTES")));
  if (!rec.Post()) {
    rec.Cancel();
    return false;
  }
  // The file has its record now: the journal has nothing left to tell.
  JournalEnd();
  return true;
}

void TReceivedFiling::Settle(const QString& fileName, const QString& note) {
  const QString path = ReceiveFilePath(dataDir_, fileName);
  if (path.isEmpty()) return;
  const QString name = QFileInfo(path).fileName();
  TablePair& rec = store_.Pair(TableId::Rec);
  if (!rec.IsOpen()) return;
  // Already recorded (the run ended after the record was written)?
  const int recNo = rec.RecNo();
  bool recorded = false;
  for (rec.First(); !rec.Eof() && !recorded; rec.Next()) recorded = SameFile(rec, name);
  rec.Go(recNo);
  if (!recorded && QFileInfo(path).isFile()) {
    std::string station;
    const int pages = TrimToCompletePages(path.toStdString(), &station);
    if (pages == 0) {
      QFile::remove(path);
    } else if (pages > 0) {
      recorded = AppendRecord(name, QString::fromStdString(station).trimmed(), pages, note + QString::number(pages));
    } else {
      recorded = true;  // not a fax file: leave it alone
    }
  }
  if (recorded || !QFileInfo(path).isFile()) JournalEnd();
}

void TReceivedFiling::NoteOnRecord(const QString& fileName, const QString& note) {
  TablePair& rec = store_.Pair(TableId::Rec);
  if (!rec.IsOpen()) return;
  const int at = rec.RecNo();
  for (rec.First(); !rec.Eof(); rec.Next()) {
    if (!SameFile(rec, fileName)) continue;
    // The user's own notes are never overwritten.
    if (QString::fromStdString(rec.FieldString("NOTES")).trimmed().isEmpty() && rec.Edit()) {
      rec.SetFieldString("NOTES", FitField(note.toStdString(), FieldWidth(TableId::Rec, "NOTES")));
      if (!rec.Post()) rec.Cancel();
    }
    break;
  }
  rec.Go(at);
}

}  // namespace qv::app
