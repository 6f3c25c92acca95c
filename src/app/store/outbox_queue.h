#pragma once
// The outbox: the outgoing faxes waiting to be sent later or again, kept in a file of its own,
// "OUTBOX.QUE" in the data directory. The four tables keep the layouts other xBase tools and
// older versions of the program read, so nothing of the queue goes into QRV.DBF: an entry names
// its fax by record number and keeps the record's recipient, number and subject to find it again
// after Rebuild Indexes has packed the table (which renumbers records).
//
// The file is text, one entry a line, written whole through AtomicWriteFile (a crash or a full
// disk leaves the old queue or the new one). Reading is forgiving: a damaged line costs that
// entry only, and the reader says how many were lost. No toolkit code here: the reader fuzzes
// headless.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::app {

inline constexpr const char* kOutboxFileName = "OUTBOX.QUE";
// The first line of the file; a later layout gets a new number.
inline constexpr const char* kOutboxHeader = "QUORVANE OUTBOX 1";

enum class OutboxState {
  kQueued,     // waiting for its due time
  kSending,    // a try is running (found at start: the program ended during the try)
  kRetryWait,  // a try failed in a way worth another; next try at nextTry
  kSent,
  kFailed,     // given up: reason says why
};
inline constexpr int kOutboxStates = 5;

// The state's name in the file ("queued", "sending", "retry", "sent", "failed").
const char* OutboxStateName(OutboxState state);

struct TOutboxEntry {
  int recNo = 0;           // record number in QRV.DBF
  int64_t due = 0;         // seconds since the epoch (UTC): sent no earlier
  int attempts = 0;        // tries made so far
  int64_t nextTry = 0;     // seconds since the epoch: the next try, once due
  OutboxState state = OutboxState::kQueued;
  std::string recipient;   // the record's RECIPIENT, PHONE and SUBJECT when it was queued
  std::string phone;
  std::string subject;
  std::string reason;      // the last try's result (why it failed)
  bool asked = false;      // the user agreed to send it although it fell due while closed

  bool operator==(const TOutboxEntry&) const = default;
};

struct TOutboxParse {
  std::vector<TOutboxEntry> entries;
  int damaged = 0;          // lines that could not be read (their entries are lost)
  bool headerOk = true;     // false: not an outbox file of this layout (nothing was read)
};

// The file's bytes as entries; never throws, whatever the bytes.
TOutboxParse ParseOutbox(std::string_view bytes);
// The entries as the file's bytes.
std::string FormatOutbox(const std::vector<TOutboxEntry>& entries);

// The queue file of a data directory (ending in "/").
std::string OutboxFileName(const std::string& dataDir);

// Reads the queue: an absent file is an empty queue. A damaged file is copied to "OUTBOX.BAD"
// (nothing the user had is thrown away) and `problem` says what was lost. False only when the
// file exists but cannot be read at all.
bool ReadOutbox(const std::string& dataDir, std::vector<TOutboxEntry>& entries, std::string& problem);
// Writes the queue atomically; false (errno set) when it could not be written, the old file stays.
bool WriteOutbox(const std::string& dataDir, const std::vector<TOutboxEntry>& entries);

}  // namespace qv::app
