#include "qvmodem/modem_profile.h"

#include "qvmodem/virtual_line.h"

namespace qv::modem {

bool ModemProfile::supportsClass(const std::string& cls) const {
  std::string want = cls == "1.0" ? "1" : cls;
  size_t start = 0;
  while (start <= classes.size()) {
    size_t comma = classes.find(',', start);
    if (comma == std::string::npos) comma = classes.size();
    std::string item = classes.substr(start, comma - start);
    if (item == "1.0") item = "1";
    if (item == want) return true;
    start = comma + 1;
  }
  return false;
}

std::vector<int> ModemProfile::modulations() const {
  static const int all[] = {24, 48, 72, 73, 74, 96, 97, 98, 121, 122, 145, 146};
  std::vector<int> out;
  for (int m : all)
    if (modulationRate(m) <= maxRate) out.push_back(m);
  return out;
}

std::string ModemProfile::modulationList() const {
  std::string out;
  for (int m : modulations()) {
    if (!out.empty()) out += ',';
    out += std::to_string(m);
  }
  return out;
}

std::string ModemProfile::codingRange() const {
  return bestCoding >= 3 ? "(0,1,3)" : bestCoding >= 1 ? "(0,1)" : "(0)";
}

std::string ModemProfile::ecmRange(bool class20) const {
  // Class 2: 1 and 2 are 64- and 256-octet frames; 2.0: 1 is T.30 Annex A (Annex C is not modelled).
  return !ecm ? "(0)" : class20 ? "(0,1)" : "(0-2)";
}

}  // namespace qv::modem
