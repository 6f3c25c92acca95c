#include "printer/spool_writer.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "printer/print_job.h"

namespace qv::printer {
namespace {

// The root holds one folder per user; others may pass through it to their own but not list it.
constexpr mode_t kRootMode = 0711;
constexpr mode_t kUserFolderMode = 0700;
constexpr mode_t kJobFileMode = 0600;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { if (fd_ >= 0) ::close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
 private:
  int fd_;
};

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(size_t(n));
  }
  return true;
}

// Writes one file of the job inside the temporary folder.
bool WriteJobFile(int dirFd, const std::string& name, std::string_view data, uid_t uid, gid_t gid,
                  bool chownFiles, std::string* message) {
  Fd fd(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kJobFileMode));
  if (!fd.ok()) {
    *message = Errno("cannot create " + name);
    return false;
  }
  if (chownFiles && ::fchown(fd.get(), uid, gid) != 0) {
    *message = Errno("cannot give " + name + " to its user");
    return false;
  }
  if (!WriteAll(fd.get(), data) || ::fsync(fd.get()) != 0) {
    *message = Errno("cannot write " + name);
    return false;
  }
  return true;
}

void RemoveTemp(int userFd, const std::string& tempName, int docs) {
  Fd dir(::openat(userFd, tempName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.ok()) {
    ::unlinkat(dir.get(), kJobHeaderFile, 0);
    for (int i = 1; i <= docs; ++i) ::unlinkat(dir.get(), (std::to_string(i) + ".pdf").c_str(), 0);
  }
  ::unlinkat(userFd, tempName.c_str(), AT_REMOVEDIR);
}

}  // namespace

std::string SpoolRoot() {
  const char* env = std::getenv(kSpoolRootVariable);
  return env && *env ? std::string(env) : std::string(kDefaultSpoolRoot);
}

std::string OwnSpoolFolder(const std::string& root) {
  const passwd* pw = ::getpwuid(::geteuid());
  if (!pw || SafeUserName(pw->pw_name).empty()) return {};
  return root + "/" + pw->pw_name;
}

std::string SpoolRootFromUri(std::string_view uri) {
  constexpr std::string_view kScheme = "quorvane:";
  if (uri.substr(0, kScheme.size()) != kScheme) return {};
  std::string_view path = uri.substr(kScheme.size());
  if (path.substr(0, 3) == "///") path.remove_prefix(2);
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string_view::npos) return {};
  // No ".." segment: the root is the folder the URI names, not one above it.
  for (size_t start = 1; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return {};
    start = end + 1;
  }
  std::string root(path);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

TSpoolResult WriteSpoolJob(const TSpoolRequest& req, std::string* message) {
  std::string scratch;
  if (!message) message = &scratch;
  const std::string user = SafeUserName(req.user);
  if (user.empty()) {
    *message = "the job's user name \"" + req.user + "\" cannot name a spool folder";
    return TSpoolResult::kHold;
  }
  const passwd* pw = ::getpwnam(user.c_str());
  if (!pw) {
    *message = "the job's user \"" + user + "\" has no account here";
    return TSpoolResult::kHold;
  }
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;
  const bool root = ::geteuid() == 0;
  if (!root && uid != ::geteuid()) {
    *message = "the backend must run as root to write another user's spool folder (install it with mode 0700)";
    return TSpoolResult::kStop;
  }
  if (req.root.empty() || req.root[0] != '/') {
    *message = "the spool root \"" + req.root + "\" is not an absolute path";
    return TSpoolResult::kStop;
  }

  const bool rootMade = ::mkdir(req.root.c_str(), kRootMode) == 0;
  if (!rootMade && errno != EEXIST) {
    *message = Errno("cannot create the spool root " + req.root);
    return TSpoolResult::kRetry;
  }
  Fd rootFd(::open(req.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd.ok()) {
    *message = Errno("cannot open the spool root " + req.root);
    return TSpoolResult::kRetry;
  }
  // CUPS starts backends with a umask of 077: the mode the root was made with must be set, or
  // no user could reach their own folder.
  if (rootMade) ::fchmod(rootFd.get(), kRootMode);
  if (::mkdirat(rootFd.get(), user.c_str(), kUserFolderMode) != 0 && errno != EEXIST) {
    *message = Errno("cannot create the spool folder of " + user);
    return TSpoolResult::kRetry;
  }
  Fd userFd(::openat(rootFd.get(), user.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!userFd.ok()) {
    *message = Errno("cannot open the spool folder of " + user);
    return TSpoolResult::kRetry;
  }
  struct stat st {};
  if (::fstat(userFd.get(), &st) != 0) {
    *message = Errno("cannot inspect the spool folder of " + user);
    return TSpoolResult::kRetry;
  }
  if (root) {
    if ((st.st_uid != uid || st.st_gid != gid) && ::fchown(userFd.get(), uid, gid) != 0) {
      *message = Errno("cannot give the spool folder to " + user);
      return TSpoolResult::kRetry;
    }
  }
  if ((st.st_mode & 07777) != kUserFolderMode && ::fchmod(userFd.get(), kUserFolderMode) != 0) {
    *message = Errno("cannot make the spool folder of " + user + " private");
    return TSpoolResult::kRetry;
  }

  // Sorting the names sorts the jobs by arrival: milliseconds first, then the CUPS id and the
  // process, which keep two jobs of one millisecond apart.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch()).count();
  std::string id;
  for (char c : req.jobId) if (c >= '0' && c <= '9') id += c;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%015lld", static_cast<long long>(ms));
  const std::string unique = std::string(stamp) + "-" + (id.empty() ? "0" : id) + "-" + std::to_string(::getpid());
  const std::string tempName = std::string(kJobTempPrefix) + unique;
  const std::string finalName = std::string(kJobFolderPrefix) + unique;

  if (::mkdirat(userFd.get(), tempName.c_str(), kUserFolderMode) != 0) {
    *message = Errno("cannot create the job's folder");
    return TSpoolResult::kRetry;
  }
  Fd jobFd(::openat(userFd.get(), tempName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!jobFd.ok() || (root && ::fchown(jobFd.get(), uid, gid) != 0)) {
    *message = Errno("cannot prepare the job's folder");
    ::unlinkat(userFd.get(), tempName.c_str(), AT_REMOVEDIR);
    return TSpoolResult::kRetry;
  }

  TPrintJob job;
  job.jobId = req.jobId;
  job.user = user;
  job.title = req.title;
  job.copies = req.copies < 1 ? 1 : req.copies;
  job.options = req.options;
  const int docs = static_cast<int>(req.documents.size());
  for (int i = 1; i <= docs; ++i) job.documents.push_back(std::to_string(i) + ".pdf");
  bool ok = docs >= 1 && docs <= kMaxJobDocuments;
  if (!ok) *message = docs < 1 ? "the job holds no document" : "the job holds too many documents";
  for (int i = 0; ok && i < docs; ++i)
    ok = WriteJobFile(jobFd.get(), job.documents[i], req.documents[i], uid, gid, root, message);
  // The header last: a folder with a header has all its documents.
  if (ok) ok = WriteJobFile(jobFd.get(), kJobHeaderFile, FormatJobHeader(job), uid, gid, root, message);
  if (ok && ::fsync(jobFd.get()) != 0) {
    *message = Errno("cannot write the job's folder");
    ok = false;
  }
  if (ok && ::renameat(userFd.get(), tempName.c_str(), userFd.get(), finalName.c_str()) != 0) {
    *message = Errno("cannot put the job in place");
    ok = false;
  }
  if (!ok) {
    RemoveTemp(userFd.get(), tempName, docs);
    return docs < 1 || docs > kMaxJobDocuments ? TSpoolResult::kHold : TSpoolResult::kRetry;
  }
  ::fsync(userFd.get());
  *message = req.root + "/" + user + "/" + finalName;
  return TSpoolResult::kWritten;
}

}  // namespace qv::printer
