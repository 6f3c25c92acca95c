#pragma once
// Contacts in and out of the phone book: vCard 2.1/3.0/4.0 and CSV as address books write them,
// and the same formats written back. No toolkit here, so the parsers run and fuzz headless.
//
// A phone book entry holds one name and one fax number. A contact with several numbers gives its
// fax number (the preferred one among several); one without a fax number gives its preferred or
// first number, and the contact says which kind was taken.

#include <string>
#include <string_view>
#include <vector>

namespace qv::app {

// Widths of the phone book's fields, in bytes of UTF-8.
inline constexpr size_t kPhoneNameWidth = 35;
inline constexpr size_t kPhoneNumberWidth = 25;

struct Contact {
  std::string name;    // UTF-8
  std::string number;
  // Empty when the fax number was taken as it stood; otherwise what was done, e.g. "no fax
  // number; took the mobile number" or "name shortened to 35 characters".
  std::string note;
};

struct SkippedContact {
  std::string name;    // what the source called it, may be empty
  std::string reason;  // e.g. "no phone or fax number"
};

struct ContactList {
  std::string format;  // "vCard", "CSV" or "" when the text is neither
  std::vector<Contact> contacts;
  std::vector<SkippedContact> skipped;
};

// Reasons a contact is not imported (also the texts the preview shows).
inline constexpr const char* kSkipNoName = "no name";
inline constexpr const char* kSkipNoNumber = "no phone or fax number";
inline constexpr const char* kSkipNumberTooLong = "number longer than 25 characters";
inline constexpr const char* kSkipIncomplete = "incomplete card (no END:VCARD)";
inline constexpr const char* kSkipInPhoneBook = "already in the phone book";
inline constexpr const char* kSkipTwiceInFile = "appears earlier in this file";

// Raw file bytes to UTF-8 text: a UTF-8 byte order mark is dropped, UTF-16 (with its mark) is
// converted, and bytes that are not UTF-8 are read as Windows-1252.
std::string DecodeContactText(std::string_view bytes);

// Parses decoded text as vCards when it holds "BEGIN:VCARD", else as CSV.
ContactList ParseContacts(std::string_view bytes);
ContactList ParseVCards(std::string_view text);
ContactList ParseContactsCsv(std::string_view text);

// vCard 3.0 or 4.0 (CRLF lines folded at 75 octets); CSV with a UTF-8 byte order mark, a
// "Name,Fax" header and CRLF lines, fields quoted where needed.
std::string WriteVCards(const std::vector<Contact>& contacts, int version);
std::string WriteContactsCsv(const std::vector<Contact>& contacts);

// Two entries are the same when their names agree without regard to case and blanks at the
// ends, and their numbers agree in digits (and a leading '+').
std::string EntryKey(std::string_view name, std::string_view number);

// Splits parsed contacts into those to add and those that are already in the phone book (keys
// of `existing`) or appear earlier in the list; the latter join `skipped`.
struct ImportPlan {
  std::vector<Contact> add;
  std::vector<SkippedContact> skipped;  // parse-time skips first, then duplicates
};
ImportPlan PlanImport(const ContactList& parsed, const std::vector<std::string>& existingKeys);

}  // namespace qv::app
