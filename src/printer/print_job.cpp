#include "printer/print_job.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace qv::printer {
namespace {

constexpr const char* kOptionPrefix = "option.";
constexpr size_t kMaxUserName = 64;
constexpr int kMaxCopies = 999;
constexpr const char* kClaimMagic = "QUORVANE-CLAIM 1";

bool KeyChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

bool ValidKey(std::string_view key) {
  return !key.empty() && key.size() <= 255 && std::all_of(key.begin(), key.end(), KeyChar);
}

bool ParseInt(std::string_view text, int& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// The lines of a text; the last line may lack its line end.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    lines.push_back(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

bool ReadSmallFile(const std::string& path, size_t limit, std::string& out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, path + ": " + std::strerror(errno));
  out.assign(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) return Fail(error, path + ": cannot be read");
  if (out.size() > limit) return Fail(error, path + ": longer than a job header may be");
  return true;
}

}  // namespace

std::string TPrintJob::Option(const std::string& name) const {
  auto it = options.find(name);
  return it == options.end() ? std::string() : it->second;
}

std::string EscapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

bool UnescapeValue(std::string_view text, std::string& value) {
  value.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') return false;
    if (c != '\\') {
      value += c;
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': value += '\\'; break;
      case 'n': value += '\n'; break;
      case 'r': value += '\r'; break;
      default: return false;
    }
  }
  return true;
}

std::string FormatJobHeader(const TPrintJob& job) {
  std::ostringstream out;
  out << kJobMagic << '\n';
  out << "job-id=" << EscapeValue(job.jobId) << '\n';
  out << "user=" << EscapeValue(job.user) << '\n';
  out << "title=" << EscapeValue(job.title) << '\n';
  out << "copies=" << job.copies << '\n';
  out << "documents=" << job.documents.size() << '\n';
  for (const auto& [name, value] : job.options) {
    if (!ValidKey(name)) continue;  // a name the reader would refuse; CUPS option names never are
    out << kOptionPrefix << name << '=' << EscapeValue(value) << '\n';
  }
  return out.str();
}

bool ParseJobHeader(std::string_view text, TPrintJob& job, std::string* error) {
  if (text.size() > kMaxJobHeaderBytes) return Fail(error, "the job header is too long");
  std::vector<std::string_view> lines = Lines(text);
  if (lines.empty() || lines[0] != kJobMagic)
    return Fail(error, "the job header does not begin with \"" + std::string(kJobMagic) + "\"");
  TPrintJob parsed;
  parsed.folder = job.folder;
  std::set<std::string, std::less<>> seen;
  int documents = -1;
  for (size_t n = 1; n < lines.size(); ++n) {
    std::string_view line = lines[n];
    const std::string where = "line " + std::to_string(n + 1) + " of the job header";
    if (line.empty()) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return Fail(error, where + " has no \"=\"");
    std::string_view key = line.substr(0, eq);
    if (!ValidKey(key)) return Fail(error, where + " has a key that is not allowed");
    if (!seen.insert(std::string(key)).second) return Fail(error, where + " repeats its key");
    std::string value;
    if (!UnescapeValue(line.substr(eq + 1), value)) return Fail(error, where + " has a bad escape");
    if (key == "job-id") {
      parsed.jobId = value;
    } else if (key == "user") {
      parsed.user = value;
    } else if (key == "title") {
      parsed.title = value;
    } else if (key == "copies") {
      if (!ParseInt(value, parsed.copies) || parsed.copies < 1 || parsed.copies > kMaxCopies)
        return Fail(error, where + ": copies must be a number from 1 to " + std::to_string(kMaxCopies));
    } else if (key == "documents") {
      if (!ParseInt(value, documents) || documents < 1 || documents > kMaxJobDocuments)
        return Fail(error, where + ": documents must be a number from 1 to " +
                               std::to_string(kMaxJobDocuments));
    } else if (key.substr(0, std::strlen(kOptionPrefix)) == kOptionPrefix &&
               key.size() > std::strlen(kOptionPrefix)) {
      parsed.options[std::string(key.substr(std::strlen(kOptionPrefix)))] = value;
    }
    // Other keys belong to a later version of this format and are passed over.
  }
  if (documents < 0) return Fail(error, "the job header does not say how many documents it has");
  for (int i = 1; i <= documents; ++i)
    parsed.documents.push_back((parsed.folder.empty() ? std::string() : parsed.folder + "/") +
                               std::to_string(i) + ".pdf");
  job = std::move(parsed);
  return true;
}

bool ReadPrintJob(const std::string& folder, TPrintJob& job, std::string* error) {
  std::string text;
  if (!ReadSmallFile(folder + "/" + kJobHeaderFile, kMaxJobHeaderBytes, text, error)) return false;
  TPrintJob parsed;
  parsed.folder = folder;
  std::string why;
  if (!ParseJobHeader(text, parsed, &why)) return Fail(error, folder + ": " + why);
  for (const std::string& doc : parsed.documents) {
    struct stat st {};
    if (::stat(doc.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return Fail(error, doc + ": the job's document is missing");
  }
  job = std::move(parsed);
  return true;
}

std::string FormatJobClaim(const TJobClaim& claim) {
  return std::string(kClaimMagic) + "\nrecord=" + std::to_string(claim.record) +
         "\nphone=" + EscapeValue(claim.phone) + "\nsubject=" + EscapeValue(claim.subject) + "\n";
}

bool ParseJobClaim(std::string_view text, TJobClaim& claim, std::string* error) {
  std::vector<std::string_view> lines = Lines(text);
  if (lines.empty() || lines[0] != kClaimMagic) return Fail(error, "not a job claim");
  TJobClaim parsed;
  bool haveRecord = false;
  for (size_t n = 1; n < lines.size(); ++n) {
    std::string_view line = lines[n];
    if (line.empty()) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return Fail(error, "a claim line has no \"=\"");
    std::string value;
    if (!UnescapeValue(line.substr(eq + 1), value)) return Fail(error, "a claim line has a bad escape");
    std::string_view key = line.substr(0, eq);
    if (key == "record") {
      if (!ParseInt(value, parsed.record) || parsed.record < 1) return Fail(error, "a claim's record is not a number");
      haveRecord = true;
    } else if (key == "phone") {
      parsed.phone = value;
    } else if (key == "subject") {
      parsed.subject = value;
    }
  }
  if (!haveRecord) return Fail(error, "the claim names no record");
  claim = std::move(parsed);
  return true;
}

std::vector<std::string> ListJobFolders(const std::string& userFolder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(userFolder.c_str());
  if (!dir) return names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.rfind(kJobFolderPrefix, 0) != 0) continue;
    struct stat st {};
    const std::string path = userFolder + "/" + name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (std::string& n : names) n = userFolder + "/" + n;
  return names;
}

std::vector<std::string_view> SplitPdfStream(std::string_view data) {
  std::vector<std::string_view> docs;
  constexpr std::string_view kHeader = "%PDF-";
  constexpr std::string_view kEnd = "%%EOF";
  size_t start = 0;
  size_t from = 0;
  while (true) {
    size_t p = data.find(kHeader, from);
    if (p == std::string_view::npos) break;
    from = p + 1;
    if (p == start) continue;
    const bool lineStart = data[p - 1] == '\n' || data[p - 1] == '\r';
    // Only a header that follows the end marker of the document before it starts a new one:
    // "%PDF-" may well occur inside a document's own streams.
    if (!lineStart || data.substr(start, p - start).find(kEnd) == std::string_view::npos) continue;
    docs.push_back(data.substr(start, p - start));
    start = p;
  }
  if (start < data.size() || docs.empty()) docs.push_back(data.substr(start));
  return docs;
}

std::string SafeUserName(std::string_view name) {
  if (name.empty() || name.size() > kMaxUserName || name[0] == '.' || name[0] == '-') return {};
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '-';
    if (!ok) return {};
  }
  return std::string(name);
}

}  // namespace qv::printer
