#include "faximage/export_pdf.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "core/error_codes.h"
#include "faximage/buffered_writer.h"
#include "faximage/qvf_file.h"
#include "faximage/t4_coder.h"

namespace qv::faximage {

using namespace qv::core;

namespace {

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// A PDF string literal: parentheses and backslashes escaped, bytes outside printable ASCII octal.
std::string PdfString(const std::string& s) {
  std::string out = "(";
  for (unsigned char c : s) {
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7E) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ")";
}

// Rounded down to 1/10000 point: a renderer that rounds the page size up to whole pixels at the
// fax resolution then gets exactly the fax's rows and columns.
std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", std::floor(v * 10000.0) / 10000.0);
  return buf;
}

std::string PdfDate(uint32_t dosDateTime) {
  std::tm t{};
  if (!UnpackDosDateTime(dosDateTime, t)) {
    std::time_t now = std::time(nullptr);
    localtime_r(&now, &t);
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

}  // namespace

int UnpackAllPagesForExport(UnpackerState& state, const std::string& inFile, std::vector<ExportPage>& pages) {
  pages.clear();
  QvfFileHeader header;
  int rc = ReadFaxHeader(inFile, header);
  if (rc < 0) return rc;
  if (header.PageCount == 0) return ecFaxBadFormat;
  state.setAutoScale(0);
  state.setScale(1, 1, 1, 1);
  for (int p = 1; p <= header.PageCount; ++p) {
    ExportPage page;
    rc = UnpackPageFullWidth(state, inFile, p, page.bitmap, &page.fine);
    if (rc < 0) return rc;
    pages.push_back(std::move(page));
  }
  return ecOK;
}

double PdfPageWidth(const ExportPage& page) { return page.bitmap.width * 72.0 / 204.0; }
double PdfPageHeight(const ExportPage& page) { return page.bitmap.height * 72.0 / (page.fine ? 196.0 : 98.0); }

std::string BuildPdf(const std::vector<ExportPage>& pages, const std::string& title, const std::string& creationDate) {
  // Objects: 1 catalog, 2 page tree, 3 info, then per page: page, contents, image.
  const int count = static_cast<int>(pages.size());
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets(static_cast<size_t>(3 + 3 * count) + 1, 0);
  auto begin = [&](int obj) {
    offsets[static_cast<size_t>(obj)] = pdf.size();
    pdf += std::to_string(obj) + " 0 obj\n";
  };
  begin(1);
  pdf += "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  begin(2);
  pdf += "<< /Type /Pages /Count " + std::to_string(count) + " /Kids [";
  for (int i = 0; i < count; ++i) pdf += (i ? " " : "") + std::to_string(4 + 3 * i) + " 0 R";
  pdf += "] >>\nendobj\n";
  begin(3);
  pdf += "<< /Title " + PdfString(title) + " /Producer (Quorvane) /CreationDate " + PdfString(creationDate) +
         " >>\nendobj\n";
  for (int i = 0; i < count; ++i) {
    const ExportPage& page = pages[static_cast<size_t>(i)];
    const int obj = 4 + 3 * i;
    const std::string w = Num(PdfPageWidth(page)), h = Num(PdfPageHeight(page));
    begin(obj);
    pdf += "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h + "] /Resources << /XObject << /Im" +
           std::to_string(i + 1) + " " + std::to_string(obj + 2) + " 0 R >> >> /Contents " +
           std::to_string(obj + 1) + " 0 R >>\nendobj\n";
    const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im" + std::to_string(i + 1) + " Do Q\n";
    begin(obj + 1);
    pdf += "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream\nendobj\n";
    std::vector<uint8_t> coded = CodePageRows(page.bitmap, true);
    for (uint8_t& b : coded) b = ReverseBits(b);  // PDF reads the most significant bit first
    const std::string cols = std::to_string(page.bitmap.width), rows = std::to_string(page.bitmap.height);
    begin(obj + 2);
    pdf += "<< /Type /XObject /Subtype /Image /Width " + cols + " /Height " + rows +
           " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K 0 /Columns " +
           cols + " /Rows " + rows + " /EndOfLine true /EncodedByteAlign true /BlackIs1 false /EndOfBlock true >>" +
           " /Length " + std::to_string(coded.size()) + " >>\nstream\n";
    pdf.append(reinterpret_cast<const char*>(coded.data()), coded.size());
    pdf += "\nendstream\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(offsets.size()) + "\n0000000000 65535 f \n";
  for (size_t i = 1; i < offsets.size(); ++i) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%010zu 00000 n \n", offsets[i]);
    pdf += buf;
  }
  pdf += "trailer\n<< /Size " + std::to_string(offsets.size()) + " /Root 1 0 R /Info 3 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

int UnpackFileToPdf(UnpackerState& state, const std::string& inFile, const std::string& outFile) {
  std::vector<ExportPage> pages;
  int rc = UnpackAllPagesForExport(state, inFile, pages);
  if (rc < 0) return rc;
  std::string pdf = BuildPdf(pages, std::filesystem::path(inFile).filename().string(), PdfDate(state.FaxHeader.DateTime));
  return WriteWholeFile(outFile, pdf.data(), pdf.size());
}

}  // namespace qv::faximage
