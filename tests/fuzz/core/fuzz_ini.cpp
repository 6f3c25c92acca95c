// Any bytes as an initialisation file: every section and key it lists can be found and read,
// values stay within the value buffer, and a key written to a new section reads back while the
// keys already there keep their values.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../tables/fuzz_file.h"
#include "core/ini_file.h"

using qv::core::TIniFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = FuzzDir() + "/fuzz.ini";
  FuzzWrite(path, data, size);
  TIniFile ini(path);
  const auto sections = ini.ReadSections();
  std::string firstSection, firstKey, firstValue;
  // Every call reads the file again: a bounded number of checks keeps the runs fast.
  size_t checks = 0;
  for (const auto& section : sections) {
    if (++checks > 40) break;
    if (!ini.SectionExists(section)) std::abort();
    for (const auto& key : ini.ReadSection(section)) {
      if (++checks > 40) break;
      if (!ini.ValueExists(section, key)) std::abort();
      std::string v = ini.ReadString(section, key, "");
      if (v.size() >= TIniFile::kValueBufferSize) std::abort();
      ini.ReadInteger(section, key, 0);
      ini.ReadBool(section, key, false);
      if (firstKey.empty()) {
        firstSection = section;
        firstKey = key;
        firstValue = v;
      }
    }
  }
  const std::string added = "QvFuzzAdded";
  if (ini.SectionExists(added)) return 0;
  ini.WriteString(added, "Key", "value 1");
  if (ini.ReadString(added, "Key", "") != "value 1") std::abort();
  if (!firstKey.empty() && ini.ReadString(firstSection, firstKey, "") != firstValue) std::abort();
  ini.DeleteKey(added, "Key");
  if (ini.ValueExists(added, "Key")) std::abort();
  return 0;
}
