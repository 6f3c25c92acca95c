// Any bytes as a contacts file (vCard or CSV, any encoding): the parser never crashes, every
// contact it gives fits the phone book (a name of at most 35 bytes and a number of at most 25, both
// valid UTF-8 and not empty), and what we export — vCard 3.0, vCard 4.0 and CSV — imports again as
// the same names and numbers with nothing skipped.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/contacts/contact_import.h"

using namespace qv::app;

namespace {

// Decoding leaves valid UTF-8 as it is; the leading letter keeps a byte order mark (a name may
// begin with U+FEFF) from being taken for the file's.
bool ValidUtf8(const std::string& s) { return DecodeContactText("x" + s) == "x" + s; }

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: [%s]\n", what, detail.c_str());
  std::abort();
}

void CheckFits(const ContactList& list) {
  for (const Contact& c : list.contacts) {
    if (c.name.empty() || c.name.size() > kPhoneNameWidth) Fail("name does not fit", c.name);
    if (c.number.empty() || c.number.size() > kPhoneNumberWidth) Fail("number does not fit", c.number);
    if (!ValidUtf8(c.name) || !ValidUtf8(c.number)) Fail("not UTF-8", c.name + " / " + c.number);
  }
}

void CheckReimport(const ContactList& original, const std::string& exported, const char* format) {
  const ContactList again = ParseContacts(exported);
  if (!again.skipped.empty()) Fail(format, "skipped on re-import: " + again.skipped.front().reason + "\n" + exported);
  if (again.contacts.size() != original.contacts.size()) Fail(format, "count changed\n" + exported);
  for (size_t i = 0; i < again.contacts.size(); ++i) {
    const Contact& a = original.contacts[i];
    const Contact& b = again.contacts[i];
    if (a.name != b.name || a.number != b.number)
      Fail(format, "[" + a.name + "|" + a.number + "] became [" + b.name + "|" + b.number + "]");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!ValidUtf8(DecodeContactText(input))) Fail("decoded text is not UTF-8", std::string(input));
  const ContactList list = ParseContacts(input);
  CheckFits(list);
  if (list.contacts.empty()) return 0;
  CheckReimport(list, WriteVCards(list.contacts, 3), "vCard 3.0");
  CheckReimport(list, WriteVCards(list.contacts, 4), "vCard 4.0");
  CheckReimport(list, WriteContactsCsv(list.contacts), "CSV");
  return 0;
}
