#include "app/store/cover_templates.h"

#include "app/store/merge_fields.h"

namespace qv::app {

namespace {

using rtf::Alignment;
using rtf::CharFormat;
using rtf::Paragraph;
using rtf::Run;

constexpr uint32_t kGrey = 0x555555;
constexpr uint32_t kNavy = 0x1F3A5F;
constexpr uint32_t kDarkRed = 0xA00000;
constexpr int kTwipsPerPoint = 20;

CharFormat Font(int points, bool bold = false, bool italic = false) {
  CharFormat f;
  f.fontName = "Arial";
  f.halfPoints = points * 2;
  f.bold = bold;
  f.italic = italic;
  return f;
}

CharFormat Colored(CharFormat f, uint32_t color) {
  f.color = color;
  return f;
}

Run Text(const std::string& text, const CharFormat& format) {
  Run r;
  r.kind = Run::Kind::Text;
  r.text = text;
  r.format = format;
  return r;
}

Run Field(int kind, const CharFormat& format) {
  static const char* const placeholders[] = {"", "[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]"};
  Run r;
  r.kind = Run::Kind::Field;
  r.field.kind = kind;
  r.field.placeholder = placeholders[kind];
  r.format = format;
  return r;
}

Paragraph Para(std::vector<Run> runs, Alignment align = Alignment::Left, int spaceAfterPts = 0,
               int spaceBeforePts = 0) {
  Paragraph p;
  p.format.alignment = align;
  p.format.spaceAfter = spaceAfterPts * kTwipsPerPoint;
  p.format.spaceBefore = spaceBeforePts * kTwipsPerPoint;
  p.runs = std::move(runs);
  return p;
}

// "Label:<tab>field" lines, the label in bold, the value aligned by a hanging indent.
Paragraph LabelLine(const std::string& label, std::vector<Run> value, int points = 12) {
  Paragraph p = Para({}, Alignment::Left, 4);
  p.format.leftIndent = 1800;
  p.format.firstIndent = -1800;
  p.runs.push_back(Text(label + "\t", Font(points, true)));
  for (Run& r : value) p.runs.push_back(std::move(r));
  return p;
}

std::vector<Paragraph> RecipientBlock(int points = 12) {
  const CharFormat v = Font(points);
  return {LabelLine("To:", {Field(kFieldRecipient, v)}, points),
          LabelLine("Fax:", {Field(kFieldFaxNumber, v)}, points),
          LabelLine("From:", {Text("Your name", v)}, points),
          LabelLine("Subject:", {Field(kFieldSubject, v)}, points),
          LabelLine("Date:", {Field(kFieldDate, v), Text("   ", v), Field(kFieldTime, v)}, points),
          LabelLine("Pages:", {Text("___ (including this cover sheet)", v)}, points)};
}

Paragraph Rule(uint32_t color) {
  return Para({Text(std::string(62, '_'), Colored(Font(10), color))}, Alignment::Left, 12);
}

rtf::Document Plain() {
  rtf::Document d;
  d.paragraphs.push_back(Para({Text("FAX", Font(36, true))}, Alignment::Center, 18, 24));
  for (Paragraph& p : RecipientBlock()) d.paragraphs.push_back(std::move(p));
  d.paragraphs.push_back(Rule(kGrey));
  d.paragraphs.push_back(Para({Text("Message:", Font(12, true))}, Alignment::Left, 6, 6));
  d.paragraphs.push_back(Para({Text("", Font(12))}));
  return d;
}

rtf::Document Letterhead() {
  rtf::Document d;
  d.paragraphs.push_back(Para({Text("Your Company Name", Colored(Font(20, true), kNavy))}, Alignment::Right));
  d.paragraphs.push_back(Para({Text("123 Main Street \xC2\xB7 Springfield \xC2\xB7 Phone 555 0100 \xC2\xB7 Fax 555 0101",
                                    Colored(Font(9), kGrey))},
                              Alignment::Right));
  d.paragraphs.push_back(Rule(kNavy));
  d.paragraphs.push_back(
      Para({Text("FACSIMILE TRANSMITTAL", Colored(Font(16, true), kNavy))}, Alignment::Left, 12, 18));
  for (Paragraph& p : RecipientBlock(11)) d.paragraphs.push_back(std::move(p));
  d.paragraphs.push_back(Rule(kNavy));
  d.paragraphs.push_back(Para({Text("Dear ", Font(11)), Field(kFieldRecipient, Font(11)), Text(",", Font(11))},
                              Alignment::Left, 10, 6));
  d.paragraphs.push_back(Para({Text("Please find the pages on ", Font(11)), Field(kFieldSubject, Font(11)),
                               Text(" attached.", Font(11))},
                              Alignment::Left, 18));
  d.paragraphs.push_back(Para({Text("Kind regards,", Font(11))}, Alignment::Left, 30));
  d.paragraphs.push_back(Para({Text("Your name", Font(11, true))}));
  return d;
}

rtf::Document Confidential() {
  rtf::Document d;
  d.paragraphs.push_back(Para({Text("CONFIDENTIAL", Colored(Font(30, true), kDarkRed))}, Alignment::Center, 4, 12));
  d.paragraphs.push_back(Para({Text("Fax transmission", Font(14))}, Alignment::Center, 18));
  for (Paragraph& p : RecipientBlock()) d.paragraphs.push_back(std::move(p));
  d.paragraphs.push_back(Rule(kDarkRed));
  d.paragraphs.push_back(Para({Text("Notice: ", Font(10, true, true)),
                               Text("the information in this fax is confidential and is meant only for ", Font(10, false, true)),
                               Field(kFieldRecipient, Font(10, false, true)),
                               Text(". If you are not the intended recipient, please telephone the sender at once, "
                                    "destroy every copy, and do not read, copy or pass on its contents.",
                                    Font(10, false, true))},
                              Alignment::Justify, 12, 6));
  return d;
}

}  // namespace

rtf::Document PracticeFaxDocument() {
  rtf::Document d;
  d.paragraphs.push_back(Para({Text("Practice fax", Font(28, true))}, Alignment::Center, 18, 24));
  d.paragraphs.push_back(LabelLine("To:", {Field(kFieldRecipient, Font(12))}));
  d.paragraphs.push_back(LabelLine("Subject:", {Field(kFieldSubject, Font(12))}));
  d.paragraphs.push_back(LabelLine("Date:", {Field(kFieldDate, Font(12)), Text("   ", Font(12)), Field(kFieldTime, Font(12))}));
  d.paragraphs.push_back(Rule(kGrey));
  d.paragraphs.push_back(Para({Text("This fax went out on the practice line and came back in on this computer: "
                                    "it never left it. It shows what sending and receiving look like before "
                                    "you have a fax modem or an Internet fax line.",
                                    Font(12))},
                              Alignment::Justify, 12, 6));
  d.paragraphs.push_back(Para({Text("Find it in the Incoming list and open it with View. To send real faxes, "
                                    "choose your modem's port or your Internet fax line in Preferences.",
                                    Font(12))},
                              Alignment::Justify, 12));
  return d;
}

const std::vector<StarterTemplate>& StarterTemplates() {
  static const std::vector<StarterTemplate> templates = {
      {"Plain cover sheet", Plain()},
      {"Business letterhead", Letterhead()},
      {"Confidential notice", Confidential()},
  };
  return templates;
}

}  // namespace qv::app
