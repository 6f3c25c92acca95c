#include "document_convert.h"

#include <iostream>

#ifdef QVFAX_HAVE_UI
#include <QFile>
#include <QGuiApplication>

#include "faximage/converter.h"
#include "rtf/rtf_reader.h"
#include "ui/document_fax.h"
#include "ui/picture_import.h"
#endif

namespace qv::qvfax {

#ifndef QVFAX_HAVE_UI
bool IsRenderedDocumentKind(const std::string&) { return false; }
int ConvertRenderedDocument(const std::string&, const std::string&, const std::string&,
                            const std::string&) {
  return 1;
}
#else

namespace {

int fail(const std::string& input, const std::string& message) {
  std::cerr << "qvfax convert: " << input << ": " << message << "\n";
  return 1;
}

// Text layout needs a GUI application; the offscreen platform needs no display.
void ensureApplication() {
  if (QGuiApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "qvfax";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
}

}  // namespace

bool IsRenderedDocumentKind(const std::string& ext) {
  return ext == "rtf" || ext == "png" || ext == "jpg" || ext == "jpeg" ||
         (ext == "pdf" && ui::PdfAvailable());
}

int ConvertRenderedDocument(const std::string& input, const std::string& ext,
                            const std::string& output, const std::string& stationId) {
  ensureApplication();
  rtf::Document doc;
  const rtf::PageSetup& pg = doc.page;
  const int maxW = pg.paperWidth - pg.marginLeft - pg.marginRight;
  // A little short of the text height, so that rounding never pushes a picture to a page of its own.
  const int maxH = (pg.paperHeight - pg.marginTop - pg.marginBottom) * 98 / 100;
  std::string error;
  auto pictureParagraph = [&](const rtf::Picture& pic) {
    rtf::Paragraph p;
    p.format.pageBreakBefore = !doc.paragraphs.empty();
    rtf::Run r;
    r.kind = rtf::Run::Kind::Picture;
    r.picture = pic;
    p.runs.push_back(r);
    doc.paragraphs.push_back(p);
  };
  if (ext == "rtf") {
    QFile f(QString::fromStdString(input));
    if (!f.open(QIODevice::ReadOnly)) return fail(input, "cannot open the file");
    QByteArray bytes = f.readAll();
    rtf::ReadResult r = rtf::ReadRtf(std::string_view(bytes.constData(), size_t(bytes.size())), doc);
    if (!r) return fail(input, r.message);
  } else if (ext == "pdf") {
    std::vector<rtf::Picture> pages;
    if (!ui::LoadPdfPages(QString::fromStdString(input), maxW, maxH, pages, &error))
      return fail(input, error);
    for (const rtf::Picture& pic : pages) pictureParagraph(pic);
  } else {
    rtf::Picture pic;
    if (!ui::LoadPictureFile(QString::fromStdString(input), maxW, maxH, pic, &error))
      return fail(input, error);
    pictureParagraph(pic);
  }
  std::string out = output.empty() ? faximage::DefaultOutputName(input)
                                   : faximage::WithDefaultExtension(output, "QVF");
  ui::DocumentFaxOptions options;
  options.stationId = stationId;
  int pages = 0;
  if (int rc = ui::WriteDocumentFax(doc, out, options, &pages))
    return fail(input, "writing " + out + " failed (" + std::to_string(rc) + ")");
  std::cout << out << ": " << pages << (pages == 1 ? " page\n" : " pages\n");
  return 0;
}

#endif

}  // namespace qv::qvfax
