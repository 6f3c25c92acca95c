#include "printer/printer_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace qv::printer {
namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Find(const char* besideName, const char* installed) {
  const std::string dir = ProgramFolder();
  if (!dir.empty() && IsFile(dir + "/" + besideName)) return dir + "/" + besideName;
  return IsFile(installed) ? std::string(installed) : std::string();
}

}  // namespace

std::string ProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, size_t(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FindBackend() { return Find(kBackendFile, kInstalledBackend); }
std::string FindPpd() { return Find(kPpdFile, kInstalledPpd); }

}  // namespace qv::printer
