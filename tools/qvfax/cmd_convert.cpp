// qvfax convert: text, pictures and DCX files into QVF fax files.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "command.h"
#include "document_convert.h"
#include "core/exceptions.h"
#include "faximage/fax_converter.h"

namespace {

using namespace qv::faximage;

bool typeFromName(const std::string& name, TFaxInputDocumentType& type) {
  static const struct {
    const char* name;
    TFaxInputDocumentType type;
  } kTypes[] = {{"text", idText}, {"txt", idText},  {"textex", idTextEx}, {"tiff", idTiff},
                {"tif", idTiff},  {"pcx", idPcx},   {"dcx", idDcx},       {"bmp", idBmp}};
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const auto& t : kTypes)
    if (lower == t.name) {
      type = t.type;
      return true;
    }
  return false;
}

bool number(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::atoi(text.c_str());
  return true;
}

int fail(const std::string& message) {
  std::cerr << "qvfax convert: " << message << "\n";
  return 2;
}

int run(const std::vector<std::string>& args) {
  TQvFaxConverter cvt;
  std::string input, output, typeName, fontSpec, station;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    int n = 0;
    if (a == "-o") {
      if (!value(output)) return fail("-o needs a file name");
    } else if (a == "--type") {
      if (!value(typeName)) return fail("--type needs a value");
    } else if (a == "--fine") {
      cvt.SetResolution(frHigh);
    } else if (a == "--wide") {
      cvt.SetWidth(fwWide);
    } else if (a == "--margin" || a == "--top" || a == "--lines") {
      if (!value(v) || !number(v, n)) return fail(a + " needs a number");
      if (a == "--margin") cvt.SetLeftMargin(n);
      else if (a == "--top") cvt.SetTopMargin(n);
      else cvt.SetLinesPerPage(n);
    } else if (a == "--station") {
      if (!value(v)) return fail("--station needs an identifier");
      cvt.SetStationID(v);
      station = v;
    } else if (a == "--font") {
      if (!value(fontSpec)) return fail("--font needs a font description");
    } else if (!a.empty() && a[0] == '-') {
      return fail("unknown option " + a);
    } else if (input.empty()) {
      input = a;
    } else {
      return fail("more than one input file");
    }
  }
  if (input.empty()) return fail("no input file");
  {
    // Documents the desktop renders (RTF, PDF, PNG, JPEG) go through its page renderer.
    std::string kind = typeName;
    if (kind.empty()) {
      std::string ext = std::filesystem::path(input).extension().string();
      kind = ext.size() > 1 ? ext.substr(1) : "";
    }
    std::transform(kind.begin(), kind.end(), kind.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (qv::qvfax::IsRenderedDocumentKind(kind))
      return qv::qvfax::ConvertRenderedDocument(input, kind, output, station);
  }
  TFaxInputDocumentType type = idNone;
  if (!typeName.empty()) {
    if (!typeFromName(typeName, type)) return fail("unknown type " + typeName);
  } else {
    std::string ext = std::filesystem::path(input).extension().string();
    if (ext.size() < 2 || !typeFromName(ext.substr(1), type))
      return fail("cannot tell the type of " + input + "; use --type");
    if (type == idText && !fontSpec.empty()) type = idTextEx;
  }
  if (!fontSpec.empty()) {
    TFaxFontSpec wanted;
    if (!TFaxFontSpec::Parse(fontSpec, wanted)) return fail("bad font description " + fontSpec);
    cvt.SetEnhFont(wanted);
  }
  cvt.SetInputDocumentType(type);
  cvt.SetDocumentFile(input);
  if (!output.empty()) cvt.SetOutFileName(output);
  try {
    cvt.ConvertToFile();
  } catch (const std::exception& e) {
    std::cerr << "qvfax convert: " << input << ": " << e.what() << " ("
              << qv::core::ErrorCodeFromException(e) << ")\n";
    return 1;
  }
  return 0;
}

const qv::qvfax::QvfaxCommand kConvert({
    "convert",
    "convert INPUT [-o OUT.QVF] [--type text|textex|tiff|pcx|dcx|bmp|rtf|pdf|png|jpg] [--fine]\n"
    "          [--wide]"
    " [--margin N] [--top N] [--lines N] [--station ID] [--font SPEC]\n"
    "          (rtf, pdf, png and jpg are drawn as the desktop draws them: fine pages)",
    run,
});

}  // namespace
