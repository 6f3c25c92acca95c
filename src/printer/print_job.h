#pragma once
// A print job in the user's spool folder, as the CUPS backend leaves it for the desktop.
//
// Job layout (one folder per job, so a job of several files is one job and appears at once):
//
//   <spool root>/<user>/job-<cups id>-<unique>/
//       job.txt     the header: UTF-8 text, one "key=value" a line, LF line ends
//       1.pdf ...   the documents, in print order, each a whole PDF
//       claim.txt   written by the desktop only: the outgoing record the job went into
//
// job.txt begins with the line "QUORVANE-JOB 1" (format version 1). The keys are
//   job-id, user, title, copies   from the backend's arguments
//   documents                     the number of document files (1.pdf up to N.pdf)
//   option.<name>                 each option of the job as CUPS passed it ("option.phone",
//                                 "option.recipient", ...)
// Keys are lower-case letters, digits and ".-_"; a key appears once. In values a backslash is
// written "\\", a line feed "\n" and a carriage return "\r", so any option value survives.
// The folder is written under a hidden temporary name and renamed when complete: a folder named
// "job-*" is always whole, and the desktop never sees one half written.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::printer {

inline constexpr const char* kJobMagic = "QUORVANE-JOB 1";
inline constexpr const char* kJobHeaderFile = "job.txt";
inline constexpr const char* kJobClaimFile = "claim.txt";
inline constexpr const char* kJobFolderPrefix = "job-";
inline constexpr const char* kJobTempPrefix = ".incoming-";
// A header longer than this is not one the backend wrote.
inline constexpr size_t kMaxJobHeaderBytes = 256 * 1024;
// More documents than this in one job are refused (a fax of them could not be sent anyway).
inline constexpr int kMaxJobDocuments = 100;

struct TPrintJob {
  std::string folder;                          // the job's folder, full path
  std::string jobId;
  std::string user;
  std::string title;
  int copies = 1;
  std::vector<std::string> documents;          // full paths of 1.pdf ... N.pdf
  std::map<std::string, std::string> options;  // option.<name> without the prefix

  std::string Option(const std::string& name) const;
  std::string Phone() const { return Option("phone"); }
  std::string Recipient() const { return Option("recipient"); }
};

// The header text of a job (what job.txt holds).
std::string FormatJobHeader(const TPrintJob& job);

// Reads a header; false with a reason naming the line when it is not one this format allows.
// The documents are named from the count, relative to job.folder.
bool ParseJobHeader(std::string_view text, TPrintJob& job, std::string* error);

// Reads the job in a folder: its header and the presence of each document. False with a clear
// reason when anything is missing or malformed; the folder is never changed by reading.
bool ReadPrintJob(const std::string& folder, TPrintJob& job, std::string* error);

// The escaping of header values (exposed for the tests and the fuzzer).
std::string EscapeValue(std::string_view value);
bool UnescapeValue(std::string_view text, std::string& value);

// The claim a desktop wrote into a job before it stored the job's outgoing record: the record
// number it was going to be, and what the record's number and subject fields held.
struct TJobClaim {
  int record = 0;
  std::string phone;
  std::string subject;
};
std::string FormatJobClaim(const TJobClaim& claim);
bool ParseJobClaim(std::string_view text, TJobClaim& claim, std::string* error);

// The folders of the complete jobs in a user's spool folder, oldest name first (the backend's
// names sort by time of arrival). Temporary and foreign entries are left out.
std::vector<std::string> ListJobFolders(const std::string& userFolder);

// Splits what CUPS piped into the backend into whole PDF documents: CUPS feeds every file of a
// job through one backend process, one PDF after another on its standard input. Returns the
// documents in order; input that holds no PDF comes back as one piece as it is.
std::vector<std::string_view> SplitPdfStream(std::string_view data);

// A user name from CUPS as a folder name: letters, digits and "._-" only, not starting with a
// dot, at most 64 characters. Empty when the name cannot be used safely (the backend then holds
// the job rather than guessing whose it is).
std::string SafeUserName(std::string_view name);

}  // namespace qv::printer
