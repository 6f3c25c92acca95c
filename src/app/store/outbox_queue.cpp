#include "app/store/outbox_queue.h"

#include "core/file_util.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace qv::app {

namespace {

constexpr char kSep = '\t';
// Fields of an entry line, in order: recNo, due, attempts, nextTry, state, asked, recipient,
// phone, subject, reason.
constexpr int kFields = 10;
// A record number beyond any table (2^31 records of at least one byte would not fit a DBF).
constexpr int64_t kMaxRecNo = 1'000'000'000;
constexpr int kMaxAttempts = 1'000'000;
// Texts come from fields of at most 100 characters; anything longer is not ours.
constexpr size_t kMaxText = 1024;
const char* const kBadFileName = "OUTBOX.BAD";

const char* const kStateNames[kOutboxStates] = {"queued", "sending", "retry", "sent", "failed"};

// Tabs, line ends and backslashes inside texts are written as \t, \n, \r and \\.
std::string Escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

bool Unescape(std::string_view s, std::string& out) {
  if (s.size() > kMaxText) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: return false;
    }
  }
  return true;
}

bool Number(std::string_view s, int64_t low, int64_t high, int64_t& out) {
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && out >= low && out <= high;
}

bool ParseLine(std::string_view line, TOutboxEntry& e) {
  std::string_view f[kFields];
  int n = 0;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find(kSep, start);
    if (n == kFields) return false;  // more fields than an entry has
    f[n++] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (n != kFields) return false;
  int64_t recNo, due, attempts, nextTry, asked;
  // Times: any second a 64-bit count can hold would do, but a year beyond 9999 is damage.
  constexpr int64_t kLatest = 253402300799;  // 9999-12-31 23:59:59 UTC
  if (!Number(f[0], 1, kMaxRecNo, recNo) || !Number(f[1], 0, kLatest, due) ||
      !Number(f[2], 0, kMaxAttempts, attempts) || !Number(f[3], 0, kLatest, nextTry) ||
      !Number(f[5], 0, 1, asked))
    return false;
  int state = -1;
  for (int i = 0; i < kOutboxStates; ++i)
    if (f[4] == kStateNames[i]) state = i;
  if (state < 0) return false;
  if (!Unescape(f[6], e.recipient) || !Unescape(f[7], e.phone) || !Unescape(f[8], e.subject) ||
      !Unescape(f[9], e.reason))
    return false;
  e.recNo = static_cast<int>(recNo);
  e.due = due;
  e.attempts = static_cast<int>(attempts);
  e.nextTry = nextTry;
  e.state = static_cast<OutboxState>(state);
  e.asked = asked != 0;
  return true;
}

}  // namespace

const char* OutboxStateName(OutboxState state) {
  const int i = static_cast<int>(state);
  return i >= 0 && i < kOutboxStates ? kStateNames[i] : "queued";
}

TOutboxParse ParseOutbox(std::string_view bytes) {
  TOutboxParse out;
  size_t at = 0;
  bool first = true;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    // A last line without its line end was cut short by a crash of an older writer or by damage.
    const bool whole = end != std::string_view::npos;
    std::string_view line = bytes.substr(at, whole ? end - at : std::string_view::npos);
    at = whole ? end + 1 : bytes.size();
    if (first) {
      first = false;
      if (line != kOutboxHeader) {
        out.headerOk = false;
        out.entries.clear();
        return out;
      }
      continue;
    }
    if (line.empty() && whole) continue;
    TOutboxEntry e;
    if (whole && ParseLine(line, e))
      out.entries.push_back(std::move(e));
    else
      ++out.damaged;
  }
  if (first && !bytes.empty()) out.headerOk = false;
  return out;
}

std::string FormatOutbox(const std::vector<TOutboxEntry>& entries) {
  std::string out = std::string(kOutboxHeader) + "\n";
  for (const TOutboxEntry& e : entries) {
    out += std::to_string(e.recNo) + kSep + std::to_string(e.due) + kSep + std::to_string(e.attempts) + kSep +
           std::to_string(e.nextTry) + kSep + OutboxStateName(e.state) + kSep + (e.asked ? "1" : "0") + kSep +
           Escape(e.recipient) + kSep + Escape(e.phone) + kSep + Escape(e.subject) + kSep + Escape(e.reason) + "\n";
  }
  return out;
}

std::string OutboxFileName(const std::string& dataDir) { return dataDir + kOutboxFileName; }

bool ReadOutbox(const std::string& dataDir, std::vector<TOutboxEntry>& entries, std::string& problem) {
  entries.clear();
  problem.clear();
  const std::string path = OutboxFileName(dataDir);
  // A killed write leaves its temporary file beside the queue; the queue itself is whole.
  core::RemoveAtomicWriteLeftovers(path);
  std::string bytes;
  if (!core::ReadWholeFile(path, bytes)) {
    if (errno == ENOENT) return true;
    problem = std::string("The outbox file ") + path + " cannot be read: " + std::strerror(errno);
    return false;
  }
  TOutboxParse parsed = ParseOutbox(bytes);
  entries = std::move(parsed.entries);
  if (parsed.headerOk && parsed.damaged == 0) return true;
  // Keep the damaged file for whoever wants to look into it; the queue goes on with what was read.
  const std::string bad = dataDir + kBadFileName;
  core::AtomicWriteFile(bad, bytes);
  if (!parsed.headerOk)
    problem = "The outbox file " + path + " is damaged and could not be read. No queued fax could be "
              "recovered from it; it was kept as " + bad + ".";
  else
    problem = "The outbox file " + path + " is damaged: " + std::to_string(parsed.damaged) +
              (parsed.damaged == 1 ? " queued fax" : " queued faxes") +
              " could not be read (the faxes themselves are still in the outgoing list). The damaged "
              "file was kept as " + bad + ".";
  return true;
}

bool WriteOutbox(const std::string& dataDir, const std::vector<TOutboxEntry>& entries) {
  return core::AtomicWriteFile(OutboxFileName(dataDir), FormatOutbox(entries));
}

}  // namespace qv::app
