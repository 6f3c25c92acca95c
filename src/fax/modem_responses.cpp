#include "fax/modem_responses.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace qv::fax {

Class2Commands BuildClass2Commands(TFaxClass faxClass) {
  bool v20 = faxClass == fcClass2_0;
  Class2Commands c;
  c.selectClass = v20 ? "AT+FCLASS=2.0" : "AT+FCLASS=2";
  c.capabilities = v20 ? "AT+FIS" : "AT+FDIS";
  c.localId = v20 ? "AT+FLI" : "AT+FLID";
  c.receiveCaps = v20 ? "AT+FCC" : "AT+FDCC";
  c.connectReport = v20 ? "+FCO" : "+FCON";
  c.remoteCaps = v20 ? "+FIS" : "+FDIS";
  c.sessionParams = v20 ? "+FCS" : "+FDCS";
  c.transmitterId = v20 ? "+FTI" : "+FTSI";
  c.calledId = v20 ? "+FCI" : "+FCSI";
  c.pageStatus = v20 ? "+FPS" : "+FPTS";
  c.hangup = v20 ? "FHS" : "FHNG";
  return c;
}

char BitRateCode(int bps) {
  switch (bps) {
    case 2400: return '0';
    case 4800: return '1';
    case 7200: return '2';
    case 9600: return '3';
    case 12000: return '4';
    case 14400: return '5';
    default: return '3';
  }
}

bool HasOk(std::string_view line) { return line.find("OK") != std::string_view::npos; }
bool HasConnect(std::string_view line) { return line.find("CONNECT") != std::string_view::npos; }
bool HasCarrier(std::string_view line) { return line.find("RRIER") != std::string_view::npos; }
bool HasError(std::string_view line) { return line.find("ERROR") != std::string_view::npos; }
bool StartsWith(std::string_view line, std::string_view prefix) { return line.substr(0, prefix.size()) == prefix; }

std::string Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
  return std::string(s.substr(a, b - a));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& ch : r) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return r;
}

std::string RemovePrefix(std::string_view line) {
  size_t p = line.find(':');
  if (p == std::string_view::npos) p = line.find('=');
  if (p == std::string_view::npos) return Trim(line);
  return Trim(line.substr(p + 1));
}

std::string CodeAfterColon(std::string_view line) {
  size_t p = line.find(':');
  if (p == std::string_view::npos) return {};
  return Trim(line.substr(p + 1, 3));
}

int HangupNumber(std::string_view line) {
  std::string code = CodeAfterColon(line);
  bool hex = false;
  for (char ch : code)
    if (std::isalpha(static_cast<unsigned char>(ch))) hex = true;
  return static_cast<int>(std::strtol(code.c_str(), nullptr, hex ? 16 : 10));
}

TFaxClassSet ParseClassList(std::string_view answer) {
  std::string rest = RemovePrefix(answer);
  TFaxClassSet set;
  if (rest.find('1') != std::string::npos) set.insert(fcClass1);
  if (rest.find("2.0") != std::string::npos) {
    set.insert(fcClass2_0);
    if (rest.find("2,") != std::string::npos) set.insert(fcClass2);
  } else if (rest.find('2') != std::string::npos) {
    set.insert(fcClass2);
  }
  return set;
}

TFaxClass PreferredClass(TFaxClassSet classes) {
  if (classes.contains(fcClass2_0)) return fcClass2_0;
  if (classes.contains(fcClass2)) return fcClass2;
  if (classes.contains(fcClass1)) return fcClass1;
  return fcUnknown;
}

Class2Params DecodeClass2Params(std::string_view text) {
  auto at = [&](size_t pos) -> char { return pos <= text.size() ? text[pos - 1] : ' '; };
  Class2Params p;
  p.fine = at(1) == '1';
  switch (at(3)) {
    case '0': p.bps = 2400; break;
    case '1': p.bps = 4800; break;
    case '2': p.bps = 7200; break;
    case '4': p.bps = 12000; break;
    case '5': p.bps = 14400; break;
    default: p.bps = 9600; break;
  }
  p.wide = at(5) == '1';
  p.ecm = at(11) == '1' || at(11) == '2';
  p.df = (at(9) >= '0' && at(9) <= '3') ? at(9) - '0' : 0;
  char st = at(15);
  p.scanCode = (st >= '0' && st <= '7') ? st - '0' : 0;
  return p;
}

std::vector<int> Class2RangeValues(std::string_view answer, int position) {
  // Split at the commas outside parentheses.
  std::vector<std::string_view> groups;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i <= answer.size(); ++i) {
    const char c = i < answer.size() ? answer[i] : ',';
    if (c == '(') ++depth;
    else if (c == ')') depth = depth > 0 ? depth - 1 : 0;
    else if (c == ',' && depth == 0) {
      groups.push_back(answer.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<int> values;
  if (position < 1 || static_cast<size_t>(position) > groups.size()) return values;
  std::string g = Trim(groups[position - 1]);
  if (!g.empty() && g.front() == '(') g.erase(0, 1);
  if (!g.empty() && g.back() == ')') g.pop_back();
  // Items "n" or "a-b", hexadecimal digits allowed (Class 2.0); ranges are short, so at most
  // 64 values are listed.
  size_t pos = 0;
  while (pos <= g.size()) {
    size_t comma = g.find(',', pos);
    if (comma == std::string::npos) comma = g.size();
    const std::string item = Trim(std::string_view(g).substr(pos, comma - pos));
    char* end = nullptr;
    const long a = std::strtol(item.c_str(), &end, 16);
    if (!item.empty() && end != item.c_str()) {
      long b = a;
      if (*end == '-') {
        char* end2 = nullptr;
        b = std::strtol(end + 1, &end2, 16);
        if (end2 == end + 1) b = a;
      }
      // Parameter values are small (the widest, VR in 2.0, goes to 7F): anything past a byte is
      // noise, and would not fit an int anyway.
      b = std::min(b, 0xFFL);
      for (long v = a; v <= b && v >= 0 && values.size() < 64; ++v) values.push_back(static_cast<int>(v));
    }
    pos = comma + 1;
  }
  return values;
}

std::string CleanRemoteId(std::string_view line) {
  std::string id = RemovePrefix(line);
  if (!id.empty() && id[0] == '"') id[0] = ' ';
  while (!id.empty() && !std::isalnum(static_cast<unsigned char>(id.back()))) id.pop_back();
  id = Trim(id);
  if (id.size() > 20) id.resize(20);
  return id;
}

}  // namespace qv::fax
