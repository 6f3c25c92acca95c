#pragma once
// A received fax the user has worked on, for the Reply and Forward tests: a fine page and a
// standard page, signed, ticked, written on and one of them turned upside down; and the pages as
// the viewer shows them, to compare with what a reply renders and what the far end receives.

#include "app/store/fax_store.h"
#include "faximage/marks_file.h"
#include "faximage/unpacker_bitmap.h"
#include "faximage/unpacker_state.h"

#include "../../fax/e2e/fax_harness.h"
#include "../../ui/fax_files.h"
#include "store_helpers.h"

#include <QDir>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace qv::app::test {

inline constexpr const char* kMarkedFaxName = "R0001.QVF";

inline QString MarkedFaxPath(const QString& dataDir) {
  return dataDir + QStringLiteral("receive/") + QString::fromLatin1(kMarkedFaxName);
}

// The marks: a pen stroke, typed text, a tick and a signature on the fine page 1, a tick on the
// standard page 2, which arrived upside down and was turned.
inline faximage::FaxMarks ReplyMarks() {
  using namespace faximage;
  FaxMarks m;
  m.marks.push_back(Mark::Stroke(MarkKind::Pen, 1, 3, {{200, 300}, {600, 340}, {900, 300}}));
  m.marks.push_back(Mark::Words(MarkKind::Text, 1, 150, 400, 40, "DejaVu Sans", "Order confirmed"));
  m.marks.push_back(Mark::Box(MarkKind::Check, 1, 1200, 120, 60, 60));
  MarkPicture sig{24, 8, std::vector<uint8_t>(24 / 8 * 8, 0)};
  for (int y = 0; y < 8; ++y) sig.bits[size_t(y) * 3 + size_t(y % 3)] = 0xF0;
  m.marks.push_back(Mark::Signature(1, 1000, 420, 240, 80, sig));
  m.marks.push_back(Mark::Box(MarkKind::Check, 2, 300, 200, 80, 80));
  m.SetRotation(2, PageRotation::Half);
  return m;
}

// Writes the fax (page 1 fine, page 2 standard, both with a sparse pattern (short calls) that tells rows and columns
// apart) into the receive folder, its marks beside it, and its record from `from`.
inline bool AddMarkedReceivedFax(TFaxStore& store, const std::string& from) {
  const QString dataDir = QString::fromStdString(store.DataDir());
  QDir().mkpath(dataDir + QStringLiteral("receive"));
  const QString file = MarkedFaxPath(dataDir);
  namespace uit = qv::ui::test;
  const std::vector<uit::FaxPage> pages = {
      {1728, 560, true, [](int x, int y) { return (y < 30 && x < 700) || (y > 100 && (x + 3 * y) % 397 < 5); }},
      {1728, 280, false, [](int x, int y) { return (y > 250 && x < 400) || (y > 20 && (2 * x + y) % 331 < 4); }},
  };
  if (!uit::WriteFax(file, pages)) return false;
  if (!faximage::SaveMarks(QFile::encodeName(file).toStdString(), ReplyMarks())) return false;
  return AddReceived(store, from, kMarkedFaxName, "20261210", "14:03", false);
}

// The pages of a fax file as the viewer draws them with its marks: full width, turned and marked,
// rows 1 = black; `fine` gets each page's resolution.
inline std::vector<fax::test::PageRows> MarkedPages(const QString& faxFile, std::vector<bool>* fine = nullptr) {
  std::vector<fax::test::PageRows> out;
  faximage::FaxMarks marks;
  faximage::MarksError error;
  const std::string file = QFile::encodeName(faxFile).toStdString();
  faximage::LoadMarks(file, marks, error);
  faximage::UnpackerState state;
  state.Marks = std::make_shared<const faximage::FaxMarks>(marks);
  for (int p = 1;; ++p) {
    faximage::PageBitmap bm;
    bool rowsFine = false;
    if (faximage::UnpackPageFullWidth(state, file, p, bm, &rowsFine) < 0) break;
    fax::test::PageRows rows;
    for (int y = 0; y < bm.height; ++y) rows.raster.emplace_back(bm.row(y), bm.row(y) + bm.width / 8);
    out.push_back(std::move(rows));
    if (fine) fine->push_back(rowsFine);
    if (p >= state.FaxHeader.PageCount) break;
  }
  return out;
}

}  // namespace qv::app::test
