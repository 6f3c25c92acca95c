// qvfax print: a QVF fax on a system printer or into a PDF file, through the desktop's printer.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "fax_marks.h"

#ifdef QVFAX_HAVE_UI
#include <QApplication>

#include "ui/fax_printer.h"
#endif

namespace qv::qvfax {
namespace {

const char* const kUsage =
    "print FILE.QVF [--printer NAME] [--pages A-B] [--per-sheet 1|2|4] [--pdf OUT.pdf]\n"
    "      [--header TEXT] [--footer] [--no-fit] [--log FILE] [--no-marks]\n"
    "      NAME as the system lists it (default: the system's default printer); --pdf prints into a file;\n"
    "      --per-sheet 2 puts two pages side by side on a landscape sheet, 4 a quarter each on a portrait one;\n"
    "      pages are turned and marked as in the marks file beside the fax (FILE.QVM) unless --no-marks";

int Usage(const std::string& why) {
  std::cerr << "qvfax print: " << why << "\nusage: qvfax " << kUsage << "\n";
  return 2;
}

#ifdef QVFAX_HAVE_UI
int Run(const std::vector<std::string>& args) {
  std::string file, printer;
  bool marks = true;
  qv::ui::TFaxPrintOptions o;
  o.Stretch = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--printer" && hasValue) {
      printer = args[++i];
    } else if (a == "--pdf" && hasValue) {
      o.PdfFile = QString::fromStdString(args[++i]);
    } else if (a == "--pages" && hasValue) {
      int from = 0, to = 0;
      char dash = 0;
      const std::string& v = args[++i];
      if (std::sscanf(v.c_str(), "%d%c%d", &from, &dash, &to) == 3 && dash == '-' && from >= 1 && to >= from) {
        o.FirstPage = from;
        o.LastPage = to;
      } else if (std::sscanf(v.c_str(), "%d", &from) == 1 && from >= 1 && v.find('-') == std::string::npos) {
        o.FirstPage = o.LastPage = from;
      } else {
        return Usage("--pages wants A-B with 1 <= A <= B");
      }
    } else if (a == "--per-sheet" && hasValue) {
      const std::string& v = args[++i];
      if (v != "1" && v != "2" && v != "4") return Usage("--per-sheet wants 1, 2 or 4");
      o.PagesPerSheet = std::stoi(v);
    } else if (a == "--header" && hasValue) {
      o.Header = true;
      o.HeaderCaption = QString::fromStdString(args[++i]);
    } else if (a == "--footer") {
      o.Footer = true;
    } else if (a == "--no-marks") {
      marks = false;
    } else if (a == "--no-fit") {
      o.Stretch = false;
    } else if (a == "--log" && hasValue) {
      o.LogFile = QString::fromStdString(args[++i]);
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '" + a + "'");
    } else if (file.empty()) {
      file = a;
    } else {
      return Usage("one fax file at a time");
    }
  }
  if (file.empty()) return Usage("wants FILE.QVF");
  if (!MarksBesideFax("print", file, marks, o.Marks)) return 1;
  // Printing draws text and pictures: a GUI application on the offscreen platform needs no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "qvfax";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QString error;
  if (!qv::ui::TQvFaxPrinter::PrintFaxFile(QString::fromStdString(file), QString::fromStdString(printer), o, &error)) {
    std::cerr << "qvfax print: " << error.toStdString() << "\n";
    return 1;
  }
  return 0;
}
#else
int Run(const std::vector<std::string>&) {
  std::cerr << "qvfax print: this build has no printing (built without the Qt components)\n";
  return 1;
}
#endif

const QvfaxCommand kPrint({"print", kUsage, Run});

}  // namespace
}  // namespace qv::qvfax
