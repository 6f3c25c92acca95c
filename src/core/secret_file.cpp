#include "core/secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv::core {

namespace {
constexpr size_t kMaxSecretBytes = 1024;  // a password file bigger than this is not one
}  // namespace

std::string ReadSecretFile(const std::string& path, std::string& secret) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return "cannot read the password file " + path + ": " + std::strerror(errno);
  struct stat st {};
  std::string why;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    why = "the password file " + path + " is not a regular file";
  else if (st.st_mode & (S_IRWXG | S_IRWXO))
    why = "the password file " + path + " may be read by others: make it readable only by you (chmod 600)";
  else if (st.st_uid != geteuid())
    why = "the password file " + path + " belongs to another user";
  std::string text;
  if (why.empty()) {
    char buf[kMaxSecretBytes + 1];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 && text.size() <= kMaxSecretBytes) text.append(buf, n);
    if (n < 0) why = "cannot read the password file " + path + ": " + std::strerror(errno);
  }
  ::close(fd);
  if (!why.empty()) return why;
  if (text.size() > kMaxSecretBytes) return "the password file " + path + " is too long for a password";
  text = text.substr(0, text.find_first_of("\r\n"));
  if (text.empty()) return "the password file " + path + " is empty";
  secret = std::move(text);
  return "";
}

std::string WriteSecretFile(const std::string& path, const std::string& secret) {
  const std::string temp = path + ".new";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return "cannot write " + path + ": " + std::strerror(errno);
  const std::string bytes = secret + "\n";
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temp.c_str());
    return "cannot write " + path + ": " + why;
  }
  return "";
}

}  // namespace qv::core
