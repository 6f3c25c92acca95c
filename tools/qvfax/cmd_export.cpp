// qvfax export: pages of a QVF fax as picture files.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "fax_marks.h"
#include "faximage/unpacker.h"

namespace qv::qvfax {
namespace {

using qv::faximage::TQvFaxUnpacker;

const char* const kUsage =
    "export [--scale none|double|half] [--whitespace FROM,TO] FILE.QVF PAGE OUT.(pcx|dcx|bmp|pbm|png)\n"
    "  export [options] --all FILE.QVF PREFIX[.pcx|.dcx|.bmp|.pbm|.png]   (PREFIX-1.png, PREFIX-2.png, ...)\n"
    "      pcx, dcx, bmp: the page cut at its rightmost black pixel; pbm, png: the full page width\n"
    "      --scale: standard-resolution pages doubled in height (default), halved in width, or as coded\n"
    "  export --pdf FILE.QVF OUT.pdf    every page into one PDF at its paper size (lossless CCITT images)\n"
    "  export --tiff FILE.QVF OUT.tif   every page into one multi-page TIFF Class F (G3 MH, 204 x 98/196 dpi)\n"
    "      --pdf, --tiff, pbm and png draw the fax as the user sees it: its pages turned and marked as in the\n"
    "      marks file beside it (FILE.QVM); --no-marks exports the fax as received";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool KnownFormat(const std::string& ext) {
  return ext == ".pcx" || ext == ".dcx" || ext == ".bmp" || ext == ".pbm" || ext == ".png";
}

void ExportPage(TQvFaxUnpacker& u, int page, const std::string& out) {
  u.SetOutFileName(out);
  std::string ext = Lower(std::filesystem::path(out).extension().string());
  if (ext == ".pcx") u.UnpackPageToPcx(page);
  else if (ext == ".dcx") u.UnpackPageToDcx(page);
  else if (ext == ".bmp") u.UnpackPageToBmp(page);
  else if (ext == ".pbm") u.UnpackPageToPbm(page);
  else u.UnpackPageToPng(page);
}

int Usage(const std::string& why) {
  std::cerr << "qvfax export: " << why << "\nusage: qvfax " << kUsage << "\n";
  return 2;
}

int Run(const std::vector<std::string>& args) {
  TQvFaxUnpacker u;
  u.SetOptions(0);  // nothing to yield to on the command line
  bool all = false;
  bool marks = true;
  std::string document;  // "pdf" or "tiff": the whole fax as one file
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--all") {
      all = true;
    } else if (a == "--no-marks") {
      marks = false;
    } else if (a == "--pdf" || a == "--tiff") {
      document = a.substr(2);
    } else if (a == "--scale" && i + 1 < args.size()) {
      std::string mode = args[++i];
      if (mode == "none") u.SetAutoScaleMode(qv::faximage::asNone);
      else if (mode == "double") u.SetAutoScaleMode(qv::faximage::asDoubleHeight);
      else if (mode == "half") u.SetAutoScaleMode(qv::faximage::asHalfWidth);
      else return Usage("unknown scale mode '" + mode + "'");
    } else if (a == "--whitespace" && i + 1 < args.size()) {
      int from = 0, to = 0;
      char comma = 0;
      if (std::sscanf(args[++i].c_str(), "%d%c%d", &from, &comma, &to) != 3 || comma != ',')
        return Usage("--whitespace wants FROM,TO");
      u.SetWhitespaceCompression(true);
      u.SetWhitespaceFrom(from);
      u.SetWhitespaceTo(to);
    } else if (a.size() > 1 && a[0] == '-' && a.size() > 2 && a[1] == '-') {
      return Usage("unknown option '" + a + "'");
    } else {
      rest.push_back(a);
    }
  }

  if (!rest.empty()) {
    std::shared_ptr<const qv::faximage::FaxMarks> found;
    if (!MarksBesideFax("export", rest[0], marks, found)) return 1;
    u.SetMarks(std::move(found));
  }

  if (!document.empty()) {
    if (all || rest.size() != 2) return Usage("--" + document + " wants FILE.QVF OUT");
    u.SetInFileName(rest[0]);
    u.SetOutFileName(rest[1]);
    if (document == "pdf") u.UnpackFileToPdf();
    else u.UnpackFileToTiff();
    return 0;
  }

  if (all) {
    if (rest.size() != 2) return Usage("--all wants FILE.QVF PREFIX");
    u.SetInFileName(rest[0]);
    std::filesystem::path prefix(rest[1]);
    std::string ext = Lower(prefix.extension().string());
    if (!KnownFormat(ext)) ext = ".png";
    else prefix.replace_extension();
    int pages = u.NumPages();
    if (pages == 0) {
      u.UnpackPageToBitmap(1);  // raises the reason: not a QVF file, missing, no pages
      return 1;
    }
    for (int p = 1; p <= pages; ++p) {
      std::string out = prefix.string() + "-" + std::to_string(p) + ext;
      ExportPage(u, p, out);
      std::cout << out << "\n";
    }
    return 0;
  }

  if (rest.size() != 3) return Usage("wants FILE.QVF PAGE OUT");
  char* end = nullptr;
  long page = std::strtol(rest[1].c_str(), &end, 10);
  if (*end != 0 || page < 1 || page > 65535) return Usage("PAGE must be a page number");
  std::string ext = Lower(std::filesystem::path(rest[2]).extension().string());
  if (!KnownFormat(ext)) return Usage("OUT must end in .pcx, .dcx, .bmp, .pbm or .png");
  u.SetInFileName(rest[0]);
  ExportPage(u, static_cast<int>(page), rest[2]);
  return 0;
}

const QvfaxCommand kExport({"export", kUsage, Run});

}  // namespace
}  // namespace qv::qvfax
