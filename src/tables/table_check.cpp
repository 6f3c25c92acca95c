#include "tables/table_check.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "tables/cdx_file.h"
#include "tables/dbf_file.h"
#include "tables/engine_settings.h"
#include "tables/file_io.h"
#include "tables/fpt_file.h"
#include "tables/xbase_error.h"

namespace qv::tables {

namespace {

std::string ReadFileBytesForCheck(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string s;
  s.resize(20);
  in.read(s.data(), 20);
  s.resize(static_cast<size_t>(in.gcount()));
  return s;
}

}  // namespace

std::vector<std::string> CheckTable(const std::string& dbfPath) {
  std::vector<std::string> problems;
  DbfFile dbf;
  try {
    dbf.Open(dbfPath, OpenMode::ReadOnly);
  } catch (const EXBaseError& e) {
    problems.push_back(e.what());
    return problems;
  }
  const auto& fields = dbf.Fields();
  const uint32_t n = dbf.RecordCount();
  std::vector<uint8_t> rec(dbf.RecordLength());

  // Memo pointers.
  std::unique_ptr<FptFile> fpt;
  if (dbf.HasMemoFields()) {
    std::string fptPath = SiblingFile(dbfPath, "FPT");
    try {
      fpt = std::make_unique<FptFile>();
      fpt->Open(fptPath, false);
    } catch (const EXBaseError& e) {
      problems.push_back(e.what());
      fpt.reset();
    }
  }
  for (uint32_t r = 1; r <= n; ++r) {
    dbf.ReadRecord(r, rec.data());
    if (rec[0] != ' ' && rec[0] != '*')
      problems.push_back("record " + std::to_string(r) + ": deletion flag is neither blank nor '*'");
    if (!fpt) continue;
    for (const auto& f : fields) {
      if (f.type != 'M' && f.type != 'B' && f.type != 'G' && f.type != 'P') continue;
      std::string t(reinterpret_cast<const char*>(rec.data() + f.offset), f.width);
      uint32_t block = 0;
      if (f.width == 4) {
        std::memcpy(&block, t.data(), 4);
      } else {
        size_t b = t.find_first_not_of(' ');
        if (b == std::string::npos) continue;
        bool digits = std::all_of(t.begin() + static_cast<std::ptrdiff_t>(b), t.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
        if (!digits) {
          problems.push_back("record " + std::to_string(r) + ", " + f.name + ": memo pointer \"" + t + "\" is not a number");
          continue;
        }
        block = static_cast<uint32_t>(std::stoul(t.substr(b)));
      }
      if (block == 0) continue;
      try {
        fpt->Read(block);
      } catch (const EXBaseError& e) {
        problems.push_back("record " + std::to_string(r) + ", " + f.name + ": " + e.what());
      }
    }
  }

  // The structural compound index, tag by tag.
  std::string cdxPath = SiblingFile(dbfPath, "CDX");
  if (!FileExists(cdxPath)) {
    if (dbf.TableFlags() & kDbfFlagStructuralCdx) problems.push_back("the table's index file " + cdxPath + " is missing");
    return problems;
  }
  EngineSettings settings;
  std::vector<IndexTag*> stale;
  std::unique_ptr<CdxFile> cdx;
  try {
    cdx = CdxFile::Open(cdxPath, fields, &settings.expr, n, stale);
  } catch (const EXBaseError& e) {
    problems.push_back(e.what());
    return problems;
  }
  std::string img = ReadFileBytesForCheck(cdxPath);
  if (img.size() >= 20 && std::memcmp(img.data() + 16, kCdxDirtyMark, 4) == 0)
    problems.push_back("index " + cdxPath + " is marked as out of step with its table");
  for (auto& tag : cdx->Tags()) {
    if (std::find(stale.begin(), stale.end(), tag.get()) != stale.end()) {
      problems.push_back("tag " + tag->Name() + ": its pages are damaged or do not match the table");
      continue;
    }
    const size_t esz = tag->KeyLen() + 4u;
    std::vector<std::vector<uint8_t>> expected;
    std::vector<uint8_t> e(esz);
    for (uint32_t r = 1; r <= n; ++r) {
      dbf.ReadRecord(r, rec.data());
      if (!tag->KeyFor(rec.data(), r, e.data())) continue;
      tag->Keys().MakeEntry(e.data(), r, e.data());
      expected.push_back(e);
    }
    std::sort(expected.begin(), expected.end());
    if (tag->Def().unique) {
      std::vector<std::vector<uint8_t>> u;
      for (auto& x : expected)
        if (u.empty() || std::memcmp(u.back().data(), x.data(), tag->KeyLen()) != 0) u.push_back(x);
      expected.swap(u);
    }
    std::vector<uint8_t> stored = tag->Keys().Flatten();
    size_t count = stored.size() / esz;
    if (count != expected.size())
      problems.push_back("tag " + tag->Name() + ": " + std::to_string(count) + " keys, the table gives " +
                         std::to_string(expected.size()));
    for (size_t i = 0; i < std::min(count, expected.size()); ++i) {
      if (std::memcmp(stored.data() + i * esz, expected[i].data(), esz) != 0) {
        problems.push_back("tag " + tag->Name() + ": key " + std::to_string(i + 1) + " is for record " +
                           std::to_string(KeyStore::RecnoOf(stored.data() + i * esz, tag->KeyLen())) +
                           " \"" + tag->KeyText(stored.data() + i * esz) + "\", the table gives record " +
                           std::to_string(KeyStore::RecnoOf(expected[i].data(), tag->KeyLen())) + " \"" +
                           tag->KeyText(expected[i].data()) + "\"");
        break;
      }
    }
  }
  return problems;
}

}  // namespace qv::tables
