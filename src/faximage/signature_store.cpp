#include "faximage/signature_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "core/file_util.h"

namespace qv::faximage {

namespace {

constexpr const char* kExtension = ".pbm";

bool GoodName(const std::string& name) {
  if (name.empty() || name.size() > 40 || name.front() == ' ') return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == ' ' || c == '-' || c == '_';
  });
}

std::string FileOf(const std::string& dataDir, const std::string& name) {
  return SignatureFolder(dataDir) + "/" + name + kExtension;
}

}  // namespace

std::string SignatureFolder(const std::string& dataDir) {
  return (std::filesystem::path(dataDir) / "signatures").string();
}

bool SaveSignature(const std::string& dataDir, const std::string& name, const MarkPicture& picture) {
  if (!GoodName(name) || picture.empty() || picture.width > kMarkMaxPicture || picture.height > kMarkMaxPicture)
    return false;
  const std::string folder = SignatureFolder(dataDir);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  ::chmod(folder.c_str(), 0700);
  std::string bytes = "P4\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n";
  bytes.append(reinterpret_cast<const char*>(picture.bits.data()), picture.bits.size());
  const std::string file = FileOf(dataDir, name);
  if (!qv::core::AtomicWriteFile(file, bytes)) return false;
  return ::chmod(file.c_str(), 0600) == 0;
}

std::vector<std::string> SignatureNames(const std::string& dataDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(SignatureFolder(dataDir), ec)) {
    if (!e.is_regular_file(ec) || e.path().extension() != kExtension) continue;
    const std::string stem = e.path().stem().string();
    if (GoodName(stem)) names.push_back(stem);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool LoadSignature(const std::string& dataDir, const std::string& name, MarkPicture& picture) {
  picture = MarkPicture{};
  std::string bytes;
  if (!GoodName(name) || !qv::core::ReadWholeFile(FileOf(dataDir, name), bytes)) return false;
  // Exactly the header SaveSignature writes: the picture's first bytes may look like white space.
  size_t pos = 3;
  auto number = [&](char end, int& v) {
    const size_t start = pos;
    v = 0;
    while (pos < bytes.size() && pos - start < 5 && std::isdigit(static_cast<unsigned char>(bytes[pos])))
      v = v * 10 + (bytes[pos++] - '0');
    return pos > start && pos < bytes.size() && bytes[pos++] == end;
  };
  int w = 0, h = 0;
  if (bytes.compare(0, 3, "P4\n") != 0 || !number(' ', w) || !number('\n', h) || w < 1 || h < 1 ||
      w > kMarkMaxPicture || h > kMarkMaxPicture)
    return false;
  const size_t used = pos;
  const size_t size = static_cast<size_t>((w + 7) / 8) * static_cast<size_t>(h);
  if (bytes.size() != used + size) return false;
  picture.width = w;
  picture.height = h;
  picture.bits.assign(bytes.begin() + used, bytes.end());
  return true;
}

bool RemoveSignature(const std::string& dataDir, const std::string& name) {
  return GoodName(name) && ::unlink(FileOf(dataDir, name).c_str()) == 0;
}

}  // namespace qv::faximage
