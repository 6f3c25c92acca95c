#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fax/fax_class.h"

namespace qv::fax {

// Class 2 / Class 2.0 command table: commands are "AT+F" + suffix, reports "+F" + suffix.
struct Class2Commands {
  std::string selectClass;     // command
  std::string capabilities;    // command
  std::string localId;         // command
  std::string receiveCaps;     // command
  std::string connectReport;   // report
  std::string remoteCaps;      // report
  std::string sessionParams;   // report
  std::string transmitterId;   // report
  std::string calledId;        // report
  std::string pageStatus;      // report
  std::string hangup;          // suffix alone
};
Class2Commands BuildClass2Commands(TFaxClass faxClass);

// Bit-rate code of the Class 2/2.0 commands ("3" for anything unknown).
char BitRateCode(int bps);

bool HasOk(std::string_view line);
bool HasConnect(std::string_view line);
bool HasCarrier(std::string_view line);  // "RRIER": CARRIER and NO CARRIER
bool HasError(std::string_view line);
bool StartsWith(std::string_view line, std::string_view prefix);

// Everything up to and including the first ':' (or, with none, the first '=') removed, trimmed.
std::string RemovePrefix(std::string_view line);
// The number of up to 3 characters after the first ':' (hang-up and page-status codes).
std::string CodeAfterColon(std::string_view line);
int HangupNumber(std::string_view line);

// The classes an "AT+FCLASS=?" answer lists.
TFaxClassSet ParseClassList(std::string_view answer);
// The class a session uses: 2.0 before 2 before 1; fcUnknown when none.
TFaxClass PreferredClass(TFaxClassSet classes);

// A Class 2/2.0 parameter report (+FDIS:/+FDCS:/+FIS:/+FCS:), prefix already removed.
struct Class2Params {
  bool fine = false;
  int bps = 9600;
  bool wide = false;
  bool ecm = false;
  int df = 0;  // page coding: 0 MH, 1 MR, 2 uncompressed, 3 MMR
  int scanCode = 0;
};
Class2Params DecodeClass2Params(std::string_view text);

// The values a capability range answer (+FCC=?/+FDCC=?, "(0,1),(0-5),...") lists at a 1-based
// position: "(0,1,3)", "(0-3)" and a bare "0" are understood. Empty when the position is missing
// or unreadable.
std::vector<int> Class2RangeValues(std::string_view answer, int position);

// A station ID from a modem's ID report: prefix removed, a leading quote blanked, trailing
// characters other than letters and digits removed, trimmed, at most 20 characters.
std::string CleanRemoteId(std::string_view line);

std::string Trim(std::string_view s);
std::string UpperCase(std::string_view s);

}  // namespace qv::fax
