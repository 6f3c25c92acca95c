#pragma once
// Writing a print job into a user's spool folder: what the CUPS backend does with each job.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qv::printer {

// Where the spool folders are when the printer's device URI names none, and where the desktop
// and `qvfax printer` look unless QUORVANE_SPOOL names another root (tests use their own).
inline constexpr const char* kDefaultSpoolRoot = "/var/spool/quorvane";
inline constexpr const char* kSpoolRootVariable = "QUORVANE_SPOOL";
std::string SpoolRoot();
// <root>/<the name of the user running this process>; empty when the user has no name.
std::string OwnSpoolFolder(const std::string& root);

struct TSpoolRequest {
  std::string root;                            // the spool root (from the device URI)
  std::string user;                            // as CUPS passed it; checked by SafeUserName
  std::string jobId;
  std::string title;
  int copies = 1;
  std::map<std::string, std::string> options;  // the job's options
  std::vector<std::string_view> documents;     // each a whole PDF
};

// What the backend tells CUPS: it maps these onto CUPS_BACKEND_OK, _RETRY, _HOLD and _STOP.
enum class TSpoolResult {
  kWritten,
  kRetry,  // the spool cannot be written now (full disk, missing or unwritable root): keep the job
  kHold,   // the job names no user whose folder it could go to: hold it for the administrator
  kStop,   // the backend cannot do its work as installed (not running as root): stop the queue
};

// Writes the job as one folder (see print_job.h) under a temporary name, then renames it into
// place. The user's folder is created 0700 and owned by the user, the files 0600 and the user's.
// Every step goes through descriptors opened without following links, so a user cannot point
// the writing anywhere else through links placed in their own folder. On any failure nothing of
// the job is left behind; *message says what went wrong, and on success names the folder.
TSpoolResult WriteSpoolJob(const TSpoolRequest& request, std::string* message);

// Parses the device URI "quorvane:/path" (also "quorvane:///path") into the spool root; empty
// when the URI is not ours or the path is not absolute.
std::string SpoolRootFromUri(std::string_view uri);

}  // namespace qv::printer
