#include "app/contacts/contact_import.h"

#include "app/store/field_fit.h"
#include "rtf/encoding.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <set>

namespace qv::app {

namespace {

constexpr size_t kFoldWidth = 75;  // octets per vCard line before folding
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// ------------------------------------------------------------------ text helpers

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

bool Contains(std::string_view hay, std::string_view needle) { return hay.find(needle) != std::string_view::npos; }

bool ValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n;
    if (c < 0x80) n = 0;
    else if (c >= 0xC2 && c < 0xE0) n = 1;
    else if (c >= 0xE0 && c < 0xF0) n = 2;
    else if (c >= 0xF0 && c < 0xF5) n = 3;
    else return false;
    if (i + n >= s.size() && n > 0) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

// Windows-1252 bytes 0x80..0x9F; the rest of the code page is Latin-1.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string FromCp1252(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) out += ch;
    else if (c < 0xA0) rtf::AppendUtf8(out, kCp1252High[c - 0x80]);
    else rtf::AppendUtf8(out, c);
  }
  return out;
}

std::string FromUtf16(std::string_view s, bool bigEndian) {
  std::string out;
  auto unit = [&](size_t i) -> uint32_t {
    const auto a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < s.size()) {
      const uint32_t lo = unit(i + 2);
      if (lo >= 0xDC00 && lo < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      } else {
        u = 0xFFFD;
      }
    } else if (u >= 0xD800 && u < 0xE000) {
      u = 0xFFFD;
    }
    rtf::AppendUtf8(out, u);
  }
  return out;
}

// Line breaks and tabs inside a name (a quoted CSV field over several lines) become one blank each.
std::string CleanName(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;  // CRLF is one break
    out += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  }
  return Trim(out);
}

// ------------------------------------------------------------------ choosing a number

struct Number {
  std::string text;
  std::string kind;  // "fax", "mobile", "work", "home", ... or ""
  bool fax = false;
  bool preferred = false;
};

// A "tel:" URI (vCard 4.0, and address books that copy one into a CSV cell) is the number before
// its parameters; what stays is the number itself, however many times the scheme was prefixed.
std::string WithoutTelUri(std::string value) {
  while (Lower(value.substr(0, 4)) == "tel:") {
    value.erase(0, 4);
    if (const size_t semi = value.find(';'); semi != std::string::npos) value.erase(semi);
    value = Trim(value);
  }
  return value;
}

// A field that may hold several numbers: Google joins them with " ::: ", in
// CSV and in vCard values alike.
std::vector<std::string> SplitMulti(const std::string& v) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t p; (p = v.find(":::", start)) != std::string::npos; start = p + 3) out.push_back(Trim(v.substr(start, p - start)));
  out.push_back(Trim(v.substr(start)));
  return out;
}

// One contact as read, before it becomes a phone book entry or a skip.
void Finish(ContactList& list, std::string name, const std::vector<Number>& read) {
  name = CleanName(name);
  std::vector<Number> numbers;
  for (const Number& n : read) {
    for (const std::string& one : SplitMulti(n.text)) {
      Number part = n;
      part.text = WithoutTelUri(CleanName(one));  // a quoted CSV field may break a number over lines too
      numbers.push_back(std::move(part));
    }
  }
  std::vector<const Number*> usable;
  for (const Number& n : numbers)
    if (!n.text.empty()) usable.push_back(&n);
  if (name.empty()) {
    list.skipped.push_back({usable.empty() ? std::string() : usable.front()->text, kSkipNoName});
    return;
  }
  if (usable.empty()) {
    list.skipped.push_back({name, kSkipNoNumber});
    return;
  }
  auto pick = [](const std::vector<const Number*>& from) {
    for (const Number* n : from)
      if (n->preferred) return n;
    return from.front();
  };
  std::vector<const Number*> faxes;
  for (const Number* n : usable)
    if (n->fax) faxes.push_back(n);
  Contact c;
  std::vector<std::string> notes;
  const Number* chosen = nullptr;
  if (!faxes.empty()) {
    chosen = pick(faxes);
  } else {
    chosen = pick(usable);
    if (!chosen->kind.empty()) notes.push_back("no fax number; took the " + chosen->kind + " number");
    else if (usable.size() == 1) notes.push_back("no fax number; took the only number");
    else notes.push_back("no fax number; took the first number");
  }
  if (chosen->text.size() > kPhoneNumberWidth) {
    list.skipped.push_back({name, kSkipNumberTooLong});
    return;
  }
  c.number = chosen->text;
  // Cut, then trimmed again: the cut may end on a blank, and blanks at the ends never count.
  c.name = Trim(FitField(name, kPhoneNameWidth));
  if (c.name.size() < name.size()) notes.push_back("name shortened to 35 characters");
  for (size_t i = 0; i < notes.size(); ++i) c.note += (i ? "; " : "") + notes[i];
  list.contacts.push_back(std::move(c));
}

// The kind a phone type word stands for; "" when it says nothing about the line.
std::string KindOfType(const std::string& t) {
  if (t == "cell" || t == "mobile" || Contains(t, "mobile") || Contains(t, "cell")) return "mobile";
  if (t == "work" || Contains(t, "business") || Contains(t, "office") || Contains(t, "work")) return "work";
  if (Contains(t, "home")) return "home";
  if (Contains(t, "pager")) return "pager";
  if (t == "main" || Contains(t, "primary") || Contains(t, "main")) return "main";
  if (t == "voice") return "voice";
  if (Contains(t, "other")) return "other";
  return "";
}

// ------------------------------------------------------------------ vCard

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(cur));
      cur.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(std::move(cur));
  return lines;
}

// Position of the first `sep` outside double quotes, or npos.
size_t FindUnquoted(std::string_view s, char sep) {
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '"') quoted = !quoted;
    else if (s[i] == sep && !quoted) return i;
  }
  return std::string_view::npos;
}

bool IsQuotedPrintable(std::string_view line) {
  const size_t colon = FindUnquoted(line, ':');
  return Contains(Lower(line.substr(0, colon)), "quoted-printable");
}

// Folded lines (a leading blank continues the line before) and quoted-printable soft breaks (a
// trailing '=' continues into the next line) joined into logical lines.
std::vector<std::string> Unfold(std::string_view text) {
  std::vector<std::string> out;
  for (std::string& raw : SplitLines(text)) {
    if (!out.empty() && !raw.empty() && (raw[0] == ' ' || raw[0] == '\t')) {
      out.back() += raw.substr(1);
    } else if (!out.empty() && !out.back().empty() && out.back().back() == '=' &&
               IsQuotedPrintable(out.back())) {
      out.back().pop_back();
      out.back() += raw;
    } else {
      out.push_back(std::move(raw));
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string DecodeQuotedPrintable(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '=' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      out += (n == 'n' || n == 'N') ? '\n' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Splits a structured value (N, ORG) at unescaped ';'.
std::vector<std::string> SplitStructured(std::string_view s) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      parts.back() += s[i];
      parts.back() += s[++i];
    } else if (s[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back() += s[i];
    }
  }
  for (std::string& p : parts) p = Trim(Unescape(p));
  return parts;
}

struct Property {
  std::string name;                 // upper case, group removed
  std::vector<std::string> types;   // lower case TYPE values (and vCard 2.1 bare parameters)
  bool preferred = false;
  bool quotedPrintable = false;
  std::string value;                // raw, after quoted-printable decoding
};

bool ParseProperty(const std::string& line, Property& p) {
  const size_t colon = FindUnquoted(line, ':');
  if (colon == std::string::npos) return false;
  std::string head = line.substr(0, colon);
  p.value = line.substr(colon + 1);
  std::vector<std::string> parts;
  for (size_t semi; (semi = FindUnquoted(head, ';')) != std::string::npos; head.erase(0, semi + 1))
    parts.push_back(head.substr(0, semi));
  parts.push_back(head);
  std::string name = Upper(Trim(parts.front()));
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(0, dot + 1);
  p.name = name;
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string param = parts[i];
    const size_t eq = param.find('=');
    std::string key = eq == std::string::npos ? std::string("type") : Lower(Trim(param.substr(0, eq)));
    std::string val = eq == std::string::npos ? param : param.substr(eq + 1);
    val.erase(std::remove(val.begin(), val.end(), '"'), val.end());
    val = Lower(Trim(val));
    if (key == "type") {
      for (size_t comma; !val.empty(); val.erase(0, comma == std::string::npos ? val.size() : comma + 1)) {
        comma = val.find(',');
        const std::string t = Trim(val.substr(0, comma));
        if (t == "pref") p.preferred = true;
        else if (t == "quoted-printable") p.quotedPrintable = true;
        else if (!t.empty()) p.types.push_back(t);
      }
    } else if (key == "pref") {
      p.preferred = true;
    } else if (key == "encoding") {
      p.quotedPrintable = val == "quoted-printable";
    }
  }
  if (p.quotedPrintable) p.value = DecodeQuotedPrintable(p.value);
  // Bytes that are no UTF-8 (a CHARSET=ISO-8859-1 value, say) are read as Windows-1252.
  if (!ValidUtf8(p.value)) p.value = FromCp1252(p.value);
  return true;
}

std::string TelNumber(std::string value) { return Trim(Unescape(value)); }

// ------------------------------------------------------------------ CSV

std::vector<std::vector<std::string>> CsvRecords(std::string_view text, char delim) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, fieldStarted = false, wasQuoted = false;
  auto endField = [&] {
    row.push_back(wasQuoted ? field : Trim(field));
    field.clear();
    fieldStarted = wasQuoted = false;
  };
  auto endRow = [&] {
    endField();
    bool blank = true;
    for (const std::string& f : row) blank = blank && f.empty();
    if (!blank) rows.push_back(std::move(row));
    row.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
    } else if (c == '"' && Trim(field).empty()) {
      field.clear();
      quoted = wasQuoted = fieldStarted = true;
    } else if (c == delim) {
      endField();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      endRow();
    } else if (!(wasQuoted && (c == ' ' || c == '\t'))) {
      field += c;
      fieldStarted = true;
    }
  }
  if (fieldStarted || !field.empty() || !row.empty()) endRow();
  return rows;
}

char GuessDelimiter(std::string_view text) {
  size_t counts[3] = {0, 0, 0};
  const char delims[3] = {',', ';', '\t'};
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\n' || c == '\r')) break;
    for (int k = 0; k < 3; ++k) counts[k] += !quoted && c == delims[k];
  }
  int best = 0;
  for (int k = 1; k < 3; ++k)
    if (counts[k] > counts[best]) best = k;
  return delims[best];
}

enum class Col { None, FullName, First, Middle, Last, Org, Fax, Phone, PairType, PairValue };

struct ColumnRole {
  Col role = Col::None;
  std::string kind;  // phone columns: what the header says the line is
  int pair = 0;      // "Phone N - Type" / "Phone N - Value"
};

ColumnRole Classify(const std::string& header) {
  const std::string h = Lower(Trim(header));
  ColumnRole r;
  // Google's "Phone 1 - Type" / "Phone 1 - Value" pairs.
  if (h.rfind("phone ", 0) == 0) {
    const size_t dash = h.find(" - ");
    if (dash != std::string::npos) {
      const std::string num = h.substr(6, dash - 6);
      const std::string what = h.substr(dash + 3);
      int pair = 0;
      const auto [end, err] = std::from_chars(num.data(), num.data() + num.size(), pair);
      // A number too large for an int is no pair heading (and must not throw).
      if (!num.empty() && num[0] >= '0' && num[0] <= '9' && err == std::errc() && end == num.data() + num.size()) {
        r.pair = pair;
        if (what == "type" || what == "label") r.role = Col::PairType;
        else if (what == "value") r.role = Col::PairValue;
        if (r.role != Col::None) return r;
      }
    }
  }
  static const std::set<std::string> full = {"name", "full name", "display name", "formatted name",
                                             "fn", "contact name", "contact", "nickname"};
  static const std::set<std::string> first = {"first name", "given name", "first", "firstname", "given"};
  static const std::set<std::string> middle = {"middle name", "additional name", "middle", "additional names"};
  static const std::set<std::string> last = {"last name", "family name", "surname", "last", "lastname", "family"};
  static const std::set<std::string> org = {"company", "organization", "organisation", "org",
                                            "organization 1 - name", "company name", "organization name"};
  if (h == "nickname") return r;  // a nickname is no name to file a contact under
  if (full.count(h)) r.role = Col::FullName;
  else if (first.count(h)) r.role = Col::First;
  else if (middle.count(h)) r.role = Col::Middle;
  else if (last.count(h)) r.role = Col::Last;
  else if (org.count(h)) r.role = Col::Org;
  else if (Contains(h, "fax")) r.role = Col::Fax;
  else if (Contains(h, "phone") || Contains(h, "tel") || Contains(h, "mobile") || Contains(h, "cell") ||
           Contains(h, "number") || h == "pager") {
    r.role = Col::Phone;
    r.kind = KindOfType(h);
  }
  if (r.role == Col::Fax) r.kind = "fax";
  return r;
}

std::string EscapeVCard(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == ',' || c == ';') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

void AppendFolded(std::string& out, const std::string& line) {
  size_t pos = 0, width = kFoldWidth;
  while (line.size() - pos > width) {
    size_t cut = pos + width;
    while (cut > pos && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;  // keep characters whole
    out.append(line, pos, cut - pos);
    out += "\r\n ";
    pos = cut;
    width = kFoldWidth - 1;  // the leading blank counts
  }
  out.append(line, pos, std::string::npos);
  out += "\r\n";
}

std::string CsvField(const std::string& s) {
  const bool quote = s.find_first_of(",;\"\r\n") != std::string::npos ||
                     (!s.empty() && (s.front() == ' ' || s.back() == ' '));
  if (!quote) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace

std::string DecodeContactText(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
    return FromUtf16(bytes.substr(2), false);
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE && static_cast<unsigned char>(bytes[1]) == 0xFF)
    return FromUtf16(bytes.substr(2), true);
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
  return ValidUtf8(bytes) ? std::string(bytes) : FromCp1252(bytes);
}

ContactList ParseContacts(std::string_view bytes) {
  const std::string text = DecodeContactText(bytes);
  // A card starts with a line of its own; the words inside a CSV field do not make a vCard file.
  for (const std::string& line : SplitLines(text))
    if (Upper(Trim(line)) == "BEGIN:VCARD") return ParseVCards(text);
  return ParseContactsCsv(text);
}

ContactList ParseVCards(std::string_view text) {
  ContactList list;
  list.format = "vCard";
  bool inCard = false;
  int depth = 0;  // cards nested in AGENT properties are passed over
  std::string fn, org;
  std::vector<std::string> n;
  std::vector<Number> numbers;
  auto nameOfCard = [&] {
    if (!Trim(fn).empty()) return Trim(Unescape(fn));
    std::string joined;
    // N: family; given; additional; prefixes; suffixes.
    for (size_t i : {3u, 1u, 2u, 0u, 4u}) {
      if (i < n.size() && !n[i].empty()) joined += (joined.empty() ? "" : " ") + n[i];
    }
    if (!joined.empty()) return joined;
    return org;
  };
  for (const std::string& line : Unfold(text)) {
    if (Trim(line).empty()) continue;
    Property p;
    if (!ParseProperty(line, p)) continue;
    if (p.name == "BEGIN" && Upper(Trim(p.value)) == "VCARD") {
      if (inCard) {
        ++depth;
        continue;
      }
      inCard = true;
      fn.clear();
      org.clear();
      n.clear();
      numbers.clear();
      continue;
    }
    if (!inCard) continue;
    if (p.name == "END" && Upper(Trim(p.value)) == "VCARD") {
      if (depth > 0) {
        --depth;
        continue;
      }
      inCard = false;
      Finish(list, nameOfCard(), numbers);
      continue;
    }
    if (depth > 0) continue;
    if (p.name == "FN") fn = p.value;
    else if (p.name == "N") n = SplitStructured(p.value);
    else if (p.name == "ORG") org = SplitStructured(p.value).front();
    else if (p.name == "TEL") {
      Number num;
      num.text = TelNumber(p.value);
      for (const std::string& t : p.types) {
        if (t == "fax") num.fax = true;
        else if (num.kind.empty() || num.kind == "voice") num.kind = KindOfType(t);  // the most telling word
      }
      if (num.fax) num.kind = "fax";
      num.preferred = p.preferred;
      numbers.push_back(std::move(num));
    }
  }
  if (inCard) list.skipped.push_back({CleanName(nameOfCard()), kSkipIncomplete});
  return list;
}

ContactList ParseContactsCsv(std::string_view text) {
  ContactList list;
  list.format = "CSV";
  const auto rows = CsvRecords(text, GuessDelimiter(text));
  if (rows.empty()) return list;
  std::vector<ColumnRole> roles;
  bool named = false, numbered = false;
  for (const std::string& h : rows.front()) {
    roles.push_back(Classify(h));
    const Col c = roles.back().role;
    named = named || c == Col::FullName || c == Col::First || c == Col::Last || c == Col::Org;
    numbered = numbered || c == Col::Fax || c == Col::Phone || c == Col::PairValue;
  }
  size_t firstRow = 1;
  if (!named && !numbered) {
    // No header we know: the first column is the name, the second the number.
    roles.assign(rows.front().size(), ColumnRole{});
    if (!roles.empty()) roles[0].role = Col::FullName;
    if (roles.size() > 1) roles[1].role = Col::Phone;
    firstRow = 0;
  }
  for (size_t r = firstRow; r < rows.size(); ++r) {
    const auto& row = rows[r];
    std::string full, first, middle, last, org;
    std::vector<Number> numbers;
    std::vector<std::pair<int, std::string>> pairTypes;
    auto cell = [&](size_t i) { return i < row.size() ? row[i] : std::string(); };
    for (size_t i = 0; i < roles.size(); ++i) {
      if (roles[i].role == Col::PairType) pairTypes.emplace_back(roles[i].pair, Lower(cell(i)));
    }
    for (size_t i = 0; i < roles.size(); ++i) {
      const std::string v = cell(i);
      switch (roles[i].role) {
        case Col::FullName: if (full.empty()) full = v; break;
        case Col::First: first = v; break;
        case Col::Middle: middle = v; break;
        case Col::Last: last = v; break;
        case Col::Org: if (org.empty()) org = v; break;
        case Col::Fax:
        case Col::Phone:
          numbers.push_back({v, roles[i].kind, roles[i].role == Col::Fax, false});
          break;
        case Col::PairValue: {
          std::string type;
          for (const auto& [pair, t] : pairTypes)
            if (pair == roles[i].pair) type = t;
          const bool preferred = type.rfind("* ", 0) == 0;  // Google marks the primary number so
          numbers.push_back({v, Contains(type, "fax") ? "fax" : KindOfType(type), Contains(type, "fax"), preferred});
          break;
        }
        default: break;
      }
    }
    std::string name = full;
    if (Trim(name).empty()) {
      for (const std::string* part : {&first, &middle, &last})
        if (!part->empty()) name += (name.empty() ? "" : " ") + *part;
    }
    if (Trim(name).empty()) name = org;
    Finish(list, name, numbers);
  }
  return list;
}

std::string WriteVCards(const std::vector<Contact>& contacts, int version) {
  std::string out;
  const bool v4 = version >= 4;
  for (const Contact& c : contacts) {
    AppendFolded(out, "BEGIN:VCARD");
    AppendFolded(out, v4 ? "VERSION:4.0" : "VERSION:3.0");
    AppendFolded(out, "FN:" + EscapeVCard(c.name));
    if (!v4) AppendFolded(out, "N:" + EscapeVCard(c.name) + ";;;;");  // required in 3.0
    AppendFolded(out, (v4 ? "TEL;TYPE=fax;VALUE=text:" : "TEL;TYPE=FAX:") + EscapeVCard(c.number));
    AppendFolded(out, "END:VCARD");
  }
  return out;
}

std::string WriteContactsCsv(const std::vector<Contact>& contacts) {
  std::string out(kUtf8Bom);
  out += "Name,Fax\r\n";
  for (const Contact& c : contacts) out += CsvField(c.name) + "," + CsvField(c.number) + "\r\n";
  return out;
}

std::string EntryKey(std::string_view name, std::string_view number) {
  std::string digits;
  const std::string num = Trim(number);
  for (size_t i = 0; i < num.size(); ++i) {
    if ((num[i] >= '0' && num[i] <= '9') || (num[i] == '+' && digits.empty())) digits += num[i];
  }
  if (digits.empty() || digits == "+") digits = Upper(num);
  return Upper(Trim(name)) + '\x1f' + digits;
}

ImportPlan PlanImport(const ContactList& parsed, const std::vector<std::string>& existingKeys) {
  ImportPlan plan;
  plan.skipped = parsed.skipped;
  const std::set<std::string> existing(existingKeys.begin(), existingKeys.end());
  std::set<std::string> seen;
  for (const Contact& c : parsed.contacts) {
    const std::string key = EntryKey(c.name, c.number);
    if (existing.count(key)) plan.skipped.push_back({c.name, kSkipInPhoneBook});
    else if (!seen.insert(key).second) plan.skipped.push_back({c.name, kSkipTwiceInFile});
    else plan.add.push_back(c);
  }
  return plan;
}

}  // namespace qv::app
