// qvfax info: the header fields of a QVF file and, per page, flags, image length and records.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <vector>

#include "command.h"
#include "core/error_text.h"
#include "faximage/qvf_file.h"

namespace {

using namespace qv::faximage;

int fail(const std::string& file, int code) {
  std::cerr << "qvfax info: " << file << ": " << qv::core::ErrorText(code) << " (" << code << ")\n";
  return 1;
}

// Number of row records in a page's data, or -1 when the records do not fill it exactly.
long countRecords(std::ifstream& in, int64_t offset, int32_t length) {
  in.clear();
  in.seekg(offset);
  long count = 0;
  int64_t pos = 0;
  while (pos < length) {
    unsigned char len[2];
    if (length - pos < 2 || !in.read(reinterpret_cast<char*>(len), 2)) return -1;
    int rowLength = len[0] | (len[1] << 8);
    pos += 2 + rowLength;
    if (pos > length) return -1;
    in.seekg(rowLength, std::ios::cur);
    ++count;
  }
  return count;
}

int run(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::cerr << "usage: qvfax info FILE.QVF\n";
    return 2;
  }
  const std::string& file = args[0];
  QvfFileHeader h;
  if (int rc = ReadFaxHeader(file, h)) return fail(file, rc);
  std::cout << "file:              " << file << "\n";
  std::tm t{};
  char when[32] = "unset";
  if (UnpackDosDateTime(h.DateTime, t)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &t);
  std::cout << "created:           " << when << "\n";
  std::cout << "station id:        \"" << h.StationIdString() << "\"\n";
  std::cout << "pages:             " << h.PageCount << "\n";
  std::cout << "first page offset: " << h.FirstPageOffset << "\n";
  std::ifstream in(file, std::ios::binary);
  int status = 0;
  for (int page = 1; page <= h.PageCount; ++page) {
    QvfPageHeader ph;
    int64_t at = 0;
    if (int rc = ReadPageHeader(file, page, ph, &at)) {
      std::cerr << "qvfax info: page " << page << ": " << qv::core::ErrorText(rc) << " (" << rc
                << ")\n";
      return 1;
    }
    std::string flags;
    flags += (ph.PageFlags & pfHighRes) ? "fine" : "standard";
    flags += (ph.PageFlags & pfWide) ? ", 2048 wide" : ", 1728 wide";
    flags += (ph.PageFlags & pfRowRecords) ? ", row records" : ", raw";
    std::cout << "page " << page << ": flags " << ph.PageFlags << " (" << flags
              << "), image length " << ph.ImageLength;
    if (ph.PageFlags & pfRowRecords) {
      long n = countRecords(in, at, ph.ImageLength);
      if (n < 0) {
        std::cout << ", row records damaged";
        status = 1;
      } else {
        std::cout << ", " << n << " row records";
      }
    }
    std::cout << "\n";
  }
  return status;
}

const qv::qvfax::QvfaxCommand kInfo({"info", "info FILE.QVF", run});

}  // namespace
