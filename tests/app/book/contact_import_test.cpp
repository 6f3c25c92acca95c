// vCard and CSV files as address books write them (written by hand from the published formats),
// read into phone book entries; and what we write read back.
#include "app/contacts/contact_import.h"
#include "app/store/field_fit.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::app {
namespace {

const Contact* Find(const ContactList& list, const std::string& name) {
  for (const Contact& c : list.contacts)
    if (c.name == name) return &c;
  return nullptr;
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

int Skips(const ContactList& list, const std::string& reason) {
  int n = 0;
  for (const SkippedContact& s : list.skipped) n += s.reason == reason;
  return n;
}

TEST(ContactImport, VCard3And4TakeTheFaxNumberOrSayWhichWasTaken) {
  const std::string text =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:M\xC3\xBCller;J\xC3\xBCrgen;;;\r\nFN:J\xC3\xBCrgen M\xC3\xBCller\r\n"
      "ORG:M\xC3\xBCller GmbH;\r\nTEL;type=CELL;type=VOICE;type=pref:+49 171 555\r\n"
      "item1.TEL;type=WORK;type=FAX:+49 30 1234567\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\nVERSION:4.0\nFN:Ana Lopez\n"
      "TEL;VALUE=uri;TYPE=home:tel:+1-555-555-0199\n"
      "TEL;VALUE=uri;TYPE=\"voice,work\";PREF=1:tel:+1-555-555-0100;ext=102\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:4.0\nFN:Smith\\, John\nTEL:555 0123\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nORG:Acme Widgets;Sales\nTEL;TYPE=FAX,WORK:555 0300\nTEL;TYPE=FAX,PREF:555 0301\nEND:VCARD\n";
  const ContactList list = ParseContacts(text);
  EXPECT_EQ(list.format, "vCard");
  ASSERT_EQ(list.contacts.size(), 4u);
  const Contact* j = Find(list, "J\xC3\xBCrgen M\xC3\xBCller");
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(j->number, "+49 30 1234567");  // the fax, though the mobile is preferred
  EXPECT_EQ(j->note, "");
  const Contact* a = Find(list, "Ana Lopez");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->number, "+1-555-555-0100");  // the preferred one, URI and extension removed
  EXPECT_EQ(a->note, "no fax number; took the work number");
  const Contact* s = Find(list, "Smith, John");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->note, "no fax number; took the only number");
  const Contact* o = Find(list, "Acme Widgets");  // no FN or N: the organisation
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->number, "555 0301");  // the preferred of two faxes
}

TEST(ContactImport, FoldedLinesQuotedPrintableAndLatinCharsets) {
  const std::string text =
      "BEGIN:VCARD\r\nVERSION:2.1\r\n"
      "FN;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Ren=C3=A9 Fran=C3=A7ois =\r\nde la Tour\r\n"
      "TEL;FAX;WORK:+33 1 23 45 67 89\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:P=E9rez;Jos=E9\r\n"
      "TEL;HOME;VOICE:91 555 12 12\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Alexandra Konstantinopoulou-\r\n Papadimitriou\r\n"
      "TEL;TYPE=fax:210 555 0000\r\nEND:VCARD\r\n";
  const ContactList list = ParseVCards(text);
  ASSERT_EQ(list.contacts.size(), 3u) << (list.skipped.empty() ? "" : list.skipped[0].reason);
  EXPECT_EQ(list.contacts[0].name, "Ren\xC3\xA9 Fran\xC3\xA7ois de la Tour");
  EXPECT_EQ(list.contacts[0].number, "+33 1 23 45 67 89");
  EXPECT_EQ(list.contacts[1].name, "Jos\xC3\xA9 P\xC3\xA9rez");
  EXPECT_EQ(list.contacts[1].note, "no fax number; took the home number");
  // The unfolded name is 41 characters: cut to the field, and said so.
  EXPECT_EQ(list.contacts[2].name, std::string("Alexandra Konstantinopoulou-Papadimitriou").substr(0, 35));
  EXPECT_EQ(list.contacts[2].note, "name shortened to 35 characters");
}

TEST(ContactImport, CardsWithoutNameOrNumberOrEndAreCountedAsSkipped) {
  const std::string text =
      "BEGIN:VCARD\nVERSION:3.0\nFN:No Number\nEMAIL:x@example.com\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nTEL:555 0001\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN:Too Long\nTEL;TYPE=fax:+1 (555) 555-0100 ext. 12345 6789\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN:Cut Off\nTEL:555 0002\n";
  const ContactList list = ParseVCards(text);
  EXPECT_TRUE(list.contacts.empty());
  EXPECT_EQ(Skips(list, kSkipNoNumber), 1);
  EXPECT_EQ(Skips(list, kSkipNoName), 1);
  EXPECT_EQ(Skips(list, kSkipNumberTooLong), 1);
  EXPECT_EQ(Skips(list, kSkipIncomplete), 1);
  EXPECT_EQ(list.skipped.size(), 4u);
}

TEST(ContactImport, GoogleAndOutlookCsvWithBomQuotingAndSeveralNumbers) {
  const std::string google =
      "\xEF\xBB\xBFName,Given Name,Family Name,Phone 1 - Type,Phone 1 - Value,Phone 2 - Type,Phone 2 - Value\r\n"
      "Jane Doe,Jane,Doe,* Mobile,+1 555 0101,Work Fax,+1 555 0102\r\n"
      ",Bob,Stone,Mobile,555 1111 ::: 555 2222,,\r\n"
      "Nobody,,,,,,\r\n";
  const ContactList g = ParseContacts(google);
  EXPECT_EQ(g.format, "CSV");
  ASSERT_EQ(g.contacts.size(), 2u);
  EXPECT_EQ(g.contacts[0].name, "Jane Doe");
  EXPECT_EQ(g.contacts[0].number, "+1 555 0102");
  EXPECT_EQ(g.contacts[1].name, "Bob Stone");
  EXPECT_EQ(g.contacts[1].number, "555 1111");
  EXPECT_EQ(g.contacts[1].note, "no fax number; took the mobile number");
  EXPECT_EQ(Skips(g, kSkipNoNumber), 1);

  const std::string outlook =
      "\"First Name\",\"Last Name\",\"Company\",\"Business Fax\",\"Business Phone\",\"Mobile Phone\"\r\n"
      "\"Anne\",\"O'Neil, Jr.\",\"Acme\",\"\",\"+44 20 7946 0000\",\"\"\r\n"
      "\"Carl\",\"Smith \"\"CJ\"\"\",\"Acme\r\nLabs\",\"555 0199\",\"\",\"555 0198\"\r\n";
  const ContactList o = ParseContacts(outlook);
  ASSERT_EQ(o.contacts.size(), 2u);
  EXPECT_EQ(o.contacts[0].name, "Anne O'Neil, Jr.");
  EXPECT_EQ(o.contacts[0].note, "no fax number; took the work number");
  EXPECT_EQ(o.contacts[1].name, "Carl Smith \"CJ\"");  // the newline in Company stays in its field
  EXPECT_EQ(o.contacts[1].number, "555 0199");
}

TEST(ContactImport, EncodingsDelimitersAndFilesWithoutHeader) {
  // Excel in a European locale: semicolons and Windows-1252.
  const ContactList latin = ParseContacts("Name;Fax\r\nJos\xE9 P\xE9rez;0034 91 123\r\n");
  ASSERT_EQ(latin.contacts.size(), 1u);
  EXPECT_EQ(latin.contacts[0].name, "Jos\xC3\xA9 P\xC3\xA9rez");
  EXPECT_EQ(latin.contacts[0].number, "0034 91 123");
  // UTF-16 with its byte order mark.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("Name,Fax\r\nZo\xEB,555 77\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  const ContactList wide = ParseContacts(utf16);
  ASSERT_EQ(wide.contacts.size(), 1u);
  EXPECT_EQ(wide.contacts[0].name, "Zo\xC3\xAB");
  // No header we know: name, then number.
  const ContactList bare = ParseContacts("Alice,555 0100\nBob,555 0101\n");
  ASSERT_EQ(bare.contacts.size(), 2u);
  EXPECT_EQ(bare.contacts[1].name, "Bob");
  EXPECT_EQ(bare.contacts[1].number, "555 0101");
  // The words inside a CSV field do not make it a vCard file; a card's own line does, after blanks.
  const ContactList notes = ParseContacts("Name,Fax,Notes\r\nAnn,555 0100,\"pasted BEGIN:VCARD\nEND:VCARD\"\r\n");
  EXPECT_EQ(notes.format, "CSV");
  ASSERT_EQ(notes.contacts.size(), 1u);
  EXPECT_EQ(notes.contacts[0].name, "Ann");
  EXPECT_EQ(ParseContacts("\r\n  begin:vcard \r\nFN:Bo\r\nTEL:1\r\nEND:VCARD\r\n").contacts.size(), 1u);
  // A pair heading with a number too large for any counter is an ordinary phone column, no crash.
  const ContactList huge =
      ParseContacts("Name,Phone 99999999999999999999 - Type,Phone 99999999999999999999 - Value\nAnn,Work,555 1\n");
  ASSERT_EQ(huge.contacts.size(), 1u);
  EXPECT_EQ(huge.contacts[0].name, "Ann");
  // Nothing at all.
  EXPECT_TRUE(ParseContacts("").contacts.empty());
  EXPECT_TRUE(ParseContacts("\xEF\xBB\xBF").skipped.empty());
}

// A quoted CSV name running over lines: each line break is one blank, and a name cut to the field
// never ends in a blank (it would not read back the same from what we export).
TEST(ContactImport, NamesOverSeveralLinesAndCutNamesHaveNoBlankEnds) {
  const ContactList list =
      ParseContacts("Name,Fax\r\n\"Harbour\r\nSupplies\",555 0100\r\n"
                    "\"Northwind Traders and Partners Ltd\r\n\r\nx\",555 0101\r\n");
  ASSERT_EQ(list.contacts.size(), 2u);
  EXPECT_EQ(list.contacts[0].name, "Harbour Supplies");
  EXPECT_EQ(ParseContacts("Name,Fax\r\nAnn,\"555\r\n0100\t\"\r\n").contacts.at(0).number, "555 0100");
  // Several numbers joined by " ::: " are several numbers in a vCard too (or an export as CSV
  // would read back otherwise).
  EXPECT_EQ(ParseContacts("BEGIN:VCARD\nFN:Di\nTEL;TYPE=FAX:555 1 ::: 555 2\nEND:VCARD\n").contacts.at(0).number, "555 1");
  // A tel: URI copied into a CSV cell is its number, as in a vCard 4.0 TEL.
  EXPECT_EQ(ParseContacts("Name,Fax\r\nBo,tel:+1-555-0102;ext=7\r\nCy, TEL:tel:555 3\r\n").contacts.at(1).number, "555 3");
  EXPECT_EQ(ParseContacts("Name,Fax\r\nBo,tel:+1-555-0102;ext=7\r\n").contacts.at(0).number, "+1-555-0102");
  // 34 characters, two breaks (two blanks), "x": the cut at 35 bytes ends on the first blank.
  const std::string cut = list.contacts[1].name;
  EXPECT_EQ(cut, "Northwind Traders and Partners Ltd");
  EXPECT_EQ(list.contacts[1].note, "name shortened to 35 characters");
  for (int version : {3, 4}) {
    const ContactList back = ParseContacts(WriteVCards(list.contacts, version));
    ASSERT_EQ(back.contacts.size(), 2u);
    EXPECT_EQ(back.contacts[1].name, cut);
  }
}

TEST(ContactImport, WhatWeWriteReadsBackUnchanged) {
  const std::vector<Contact> entries = {{"Smith, John; Jr.", "+1 555 0100", ""},
                                        {"Quote \"Q\" \\ back", "555-0101", ""},
                                        {"\xC3\x89milie \xC3\x84lvsborg", "0046 31 00", ""},
                                        {" Blank edges ", "1", ""}};
  for (int version : {3, 4}) {
    const std::string card = WriteVCards(entries, version);
    const ContactList back = ParseContacts(card);
    ASSERT_EQ(back.contacts.size(), entries.size()) << version;
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(back.contacts[i].name, Trimmed(entries[i].name));
      EXPECT_EQ(back.contacts[i].number, entries[i].number);
      EXPECT_EQ(back.contacts[i].note, "") << "the fax number is marked as one";
    }
  }
  const std::string csv = WriteContactsCsv(entries);
  EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  const ContactList back = ParseContacts(csv);
  ASSERT_EQ(back.contacts.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(back.contacts[i].name, Trimmed(entries[i].name));  // blanks at the ends never count
    EXPECT_EQ(back.contacts[i].number, entries[i].number);
  }
}

TEST(ContactImport, LongLinesAreFoldedWithoutCuttingCharacters) {
  std::string name;
  for (int i = 0; i < 40; ++i) name += "\xC3\xA4";  // 80 octets
  const std::string card = WriteVCards({{name, "1", ""}}, 4);
  size_t start = 0;
  for (size_t end; (end = card.find("\r\n", start)) != std::string::npos; start = end + 2) {
    EXPECT_LE(end - start, 75u);
    // A continuation line never begins inside a character.
    if (card[start] == ' ') {
      EXPECT_NE(static_cast<unsigned char>(card[start + 1]) & 0xC0, 0x80);
    }
  }
  std::string unfolded = card;
  for (size_t p; (p = unfolded.find("\r\n ")) != std::string::npos;) unfolded.erase(p, 3);
  EXPECT_NE(unfolded.find("FN:" + name + "\r\n"), std::string::npos);
  const ContactList back = ParseContacts(card);
  ASSERT_EQ(back.contacts.size(), 1u);
  EXPECT_EQ(back.contacts[0].name, FitField(name, kPhoneNameWidth));
  EXPECT_EQ(back.contacts[0].name.size(), 34u);  // 17 whole characters, not 35 bytes
}

TEST(ContactImport, DuplicatesOfThePhoneBookAndWithinTheFileAreSkipped) {
  ContactList parsed;
  parsed.contacts = {{"Jane Doe", "555-0100", ""}, {"JANE DOE ", "555 0100", ""}, {"Jane Doe", "555 0199", ""},
                     {"Max", "+49 30 1", ""}, {"max", "+49-30-1", ""}};
  parsed.skipped = {{"Anon", kSkipNoNumber}};
  const ImportPlan plan = PlanImport(parsed, {EntryKey("jane doe", "(555) 0100")});
  ASSERT_EQ(plan.add.size(), 2u);
  EXPECT_EQ(plan.add[0].number, "555 0199");  // same name, another number: a new entry
  EXPECT_EQ(plan.add[1].name, "Max");
  ASSERT_EQ(plan.skipped.size(), 4u);
  EXPECT_EQ(plan.skipped[0].reason, kSkipNoNumber);
  EXPECT_EQ(plan.skipped[1].reason, kSkipInPhoneBook);
  EXPECT_EQ(plan.skipped[2].reason, kSkipInPhoneBook);
  EXPECT_EQ(plan.skipped[3].reason, kSkipTwiceInFile);
}

}  // namespace
}  // namespace qv::app
