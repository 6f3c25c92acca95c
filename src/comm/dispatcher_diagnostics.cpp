// The byte trace and the dispatch log of a dispatcher, and their text files.
#include <sys/utsname.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "comm/dispatcher.h"
#include "core/error_codes.h"
#include "core/string_table.h"
#include "core/version.h"

namespace qv::comm {

using namespace qv::core;

namespace {

constexpr const char* kEol = "\r\n";
constexpr int kLogHeaderSize = 14;  // type, subtype, elapsed ms, value, data length

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One byte as the trace shows it, and its width.
std::string ByteItem(uint8_t b, bool hex) {
  if (b >= (hex ? 33 : 32) && b <= 126) return std::string(1, static_cast<char>(b));
  char buf[8];
  if (hex)
    std::snprintf(buf, sizeof buf, "[%02X]", b);
  else
    std::snprintf(buf, sizeof buf, "[%d]", b);
  return buf;
}

int IoErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ecPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return ecAccessDenied;
    case EMFILE:
    case ENFILE:
      return ecTooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
      return ecDiskFull;
    default:
      return ecDeviceWriteError;
  }
}

// Opens for writing: appending only when asked and the file exists, else created or emptied.
FILE* OpenDump(const std::string& fileName, bool append) {
  return std::fopen(fileName.c_str(), append ? "ab" : "wb");
}

int CloseDump(FILE* f, bool ok) {
  int err = ok ? 0 : errno;
  if (std::ferror(f) && !err) err = errno ? errno : EIO;
  if (std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
  return err ? IoErrorCode(err) : 0;
}

std::string CompilerName() {
#if defined(__clang__)
  return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
  return std::string("GNU C++ ") + __VERSION__;
#else
  return "C++ compiler";
#endif
}

std::string OperatingSystem() {
  struct utsname u;
  if (uname(&u) != 0) return "Unknown";
  return std::string(u.sysname) + " " + u.release;
}

std::atomic<int64_t (*)()> gLogClock{&SteadyMs};

}  // namespace

void TQvBaseDispatcher::SetLogClockForTesting(int64_t (*clock)()) { gLogClock.store(clock ? clock : &SteadyMs); }

int64_t TQvBaseDispatcher::LogClockMs() { return gLogClock.load()(); }

uint32_t TQvBaseDispatcher::ElapsedMs() const {
  return static_cast<uint32_t>(LogClockMs() - startMs_.load());
}

// ---------------------------------------------------------------------------------------------
// Trace

int TQvBaseDispatcher::BeginTrace(int entries) {
  if (entries > kMaxTraceEntries || entries < 1) return ecBadArgument;
  std::lock_guard main(mainLock_);
  if (trace_.empty()) {
    try {
      trace_.assign(static_cast<size_t>(entries) * 2, 0);
    } catch (const std::bad_alloc&) {
      return ecOutOfMemory;
    }
    traceCapacity_ = entries;
  }
  traceIndex_ = 0;
  traceWrapped_ = false;
  traceOn_ = true;
  return 0;
}

void TQvBaseDispatcher::PauseTrace() {
  std::lock_guard main(mainLock_);
  traceOn_ = false;
}

void TQvBaseDispatcher::ResumeTrace() {
  std::lock_guard main(mainLock_);
  if (!trace_.empty()) traceOn_ = true;
}

void TQvBaseDispatcher::ClearTrace() {
  std::lock_guard main(mainLock_);
  traceIndex_ = 0;
  traceWrapped_ = false;
}

void TQvBaseDispatcher::EndTrace() {
  std::lock_guard main(mainLock_);
  traceOn_ = false;
  trace_.clear();
  trace_.shrink_to_fit();
  traceCapacity_ = traceIndex_ = 0;
  traceWrapped_ = false;
}

bool TQvBaseDispatcher::Tracing() {
  std::lock_guard main(mainLock_);
  return traceOn_;
}

void TQvBaseDispatcher::TraceByte(char kind, uint8_t byte) {
  if (!traceOn_.load(std::memory_order_relaxed)) return;
  std::lock_guard main(mainLock_);
  if (!traceOn_ || traceCapacity_ == 0) return;
  trace_[static_cast<size_t>(traceIndex_) * 2] = static_cast<uint8_t>(kind);
  trace_[static_cast<size_t>(traceIndex_) * 2 + 1] = byte;
  if (++traceIndex_ >= traceCapacity_) {
    traceIndex_ = 0;
    traceWrapped_ = true;
  }
}

std::string TQvBaseDispatcher::FormatTrace(const std::vector<uint8_t>& entries, bool hex) {
  std::string out;
  int column = 0;
  int lastKind = -1;
  for (size_t i = 0; i + 1 < entries.size(); i += 2) {
    int kind = entries[i];
    if (kind != lastKind) {
      if (lastKind != -1) {
        out += kEol;  // ends the previous run's last line
        out += kEol;  // the empty line between runs
      }
      if (kind == 'R')
        out += "Receive: ";
      else if (kind == 'T')
        out += "Transmit: ";
      else
        out += std::string("Special-") + static_cast<char>(kind) + ": ";
      out += kEol;
      column = 0;
      lastKind = kind;
    }
    std::string item = ByteItem(entries[i + 1], hex);
    int width = static_cast<int>(item.size());
    if (column + width > 78) {
      out += kEol;
      column = 0;
    }
    out += item;
    column += width;
  }
  if (lastKind != -1) out += kEol;
  return out;
}

int TQvBaseDispatcher::WriteTraceFile(const std::string& fileName, bool append, bool hex) {
  std::lock_guard main(mainLock_);
  traceOn_ = false;
  if (trace_.empty()) return ecTracingNotEnabled;
  size_t count = traceWrapped_ ? static_cast<size_t>(traceCapacity_) : static_cast<size_t>(traceIndex_);
  if (count == 0) {
    EndTrace();
    return 0;
  }
  std::vector<uint8_t> ordered;
  ordered.reserve(count * 2);
  size_t start = traceWrapped_ ? static_cast<size_t>(traceIndex_) : 0;
  for (size_t k = 0; k < count; ++k) {
    size_t idx = (start + k) % static_cast<size_t>(traceCapacity_);
    ordered.push_back(trace_[idx * 2]);
    ordered.push_back(trace_[idx * 2 + 1]);
  }
  EndTrace();
  std::string text = FormatTrace(ordered, hex);
  FILE* f = OpenDump(fileName, append);
  if (!f) return IoErrorCode(errno);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return CloseDump(f, ok);
}

// ---------------------------------------------------------------------------------------------
// Dispatch log

int TQvBaseDispatcher::BeginLog(int bytes) {
  if (bytes > kMaxLogBytes || bytes < 1) return ecBadArgument;
  std::lock_guard main(mainLock_);
  if (log_.empty()) {
    try {
      log_.assign(static_cast<size_t>(bytes), 0);
      logScratch_.assign(static_cast<size_t>(std::max(inQueueSize_.load(), outQueueSize_.load())), 0);
    } catch (const std::bad_alloc&) {
      log_.clear();
      return ecOutOfMemory;
    }
  }
  logHead_ = logTail_ = 0;
  logFree_ = static_cast<int>(log_.size());
  logOn_ = true;
  return 0;
}

void TQvBaseDispatcher::PauseLog() {
  std::lock_guard main(mainLock_);
  logOn_ = false;
}

void TQvBaseDispatcher::ResumeLog() {
  std::lock_guard main(mainLock_);
  if (!log_.empty()) logOn_ = true;
}

void TQvBaseDispatcher::ClearLog() {
  std::lock_guard main(mainLock_);
  logHead_ = logTail_ = 0;
  logFree_ = static_cast<int>(log_.size());
}

void TQvBaseDispatcher::EndLog() {
  std::lock_guard main(mainLock_);
  logOn_ = false;
  log_.clear();
  log_.shrink_to_fit();
  logScratch_.clear();
  logScratch_.shrink_to_fit();
  logHead_ = logTail_ = logFree_ = 0;
}

bool TQvBaseDispatcher::Logging() {
  std::lock_guard main(mainLock_);
  return logOn_;
}

namespace {

void RingCopyIn(std::vector<uint8_t>& ring, int& head, const uint8_t* data, int n) {
  int size = static_cast<int>(ring.size());
  int first = std::min(n, size - head);
  std::memcpy(ring.data() + head, data, static_cast<size_t>(first));
  if (n > first) std::memcpy(ring.data(), data + first, static_cast<size_t>(n - first));
  head = (head + n) % size;
}

void RingCopyOut(const std::vector<uint8_t>& ring, int pos, uint8_t* out, int n) {
  int size = static_cast<int>(ring.size());
  for (int i = 0; i < n; ++i) out[i] = ring[static_cast<size_t>((pos + i) % size)];
}

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void TQvBaseDispatcher::AddLogEntry(uint8_t type, uint8_t subtype, uint32_t dataLength, const void* data,
                                    uint32_t value) {
  if (!logOn_.load(std::memory_order_relaxed)) return;
  std::lock_guard main(mainLock_);
  if (!logOn_ || log_.empty()) return;
  const int capacity = static_cast<int>(log_.size());
  if (kLogHeaderSize >= capacity) return;  // not even the header fits
  // A data piece that cannot fit beside its header is dropped; the header then says so.
  if (!data || static_cast<int64_t>(dataLength) >= capacity - kLogHeaderSize) dataLength = 0;
  const int need = kLogHeaderSize + static_cast<int>(dataLength);
  while (logFree_ < need) {  // push out the oldest whole entries
    uint8_t header[kLogHeaderSize];
    RingCopyOut(log_, logTail_, header, kLogHeaderSize);
    int entry = kLogHeaderSize + static_cast<int>(Get32(header + 10));
    logTail_ = (logTail_ + entry) % capacity;
    logFree_ += entry;
  }
  uint8_t header[kLogHeaderSize];
  header[0] = type;
  header[1] = subtype;
  Put32(header + 2, ElapsedMs());
  Put32(header + 6, value);
  Put32(header + 10, dataLength);
  RingCopyIn(log_, logHead_, header, kLogHeaderSize);
  if (dataLength) RingCopyIn(log_, logHead_, static_cast<const uint8_t*>(data), static_cast<int>(dataLength));
  logFree_ -= need;
}

int TQvBaseDispatcher::WriteLogFile(const std::string& fileName, bool append, bool hex) {
  std::lock_guard main(mainLock_);
  logOn_ = false;
  if (log_.empty()) return ecLoggingNotEnabled;
  const int capacity = static_cast<int>(log_.size());
  if (logFree_ == capacity) {
    EndLog();
    return 0;
  }
  std::string out;
  out += std::string("QVCOMM ") + kLibVersion + kEol;
  out += "Compiler : " + CompilerName() + kEol;
  out += "Operating System : " + OperatingSystem() + kEol;
  out += QvErrorString(kLogColumnHeader) + kEol;
  out += QvErrorString(kLogColumnRule) + kEol;
  static const char* const kStatusKinds[] = {"(Not active)",         "(Modem status)",        "(Line status)",
                                             "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
  static const char* const kModemBits[] = {"DCTS", "DDSR", "TERI", "DDCD", "CTS", "DSR", "RI", "DCD"};
  int pos = logTail_;
  int used = capacity - logFree_;
  std::vector<uint8_t> data;
  while (used >= kLogHeaderSize) {
    uint8_t header[kLogHeaderSize];
    RingCopyOut(log_, pos, header, kLogHeaderSize);
    uint8_t type = header[0];
    uint8_t subtype = header[1];
    uint32_t elapsed = Get32(header + 2);
    uint32_t value = Get32(header + 6);
    int length = static_cast<int>(Get32(header + 10));
    data.resize(static_cast<size_t>(length));
    RingCopyOut(log_, (pos + kLogHeaderSize) % capacity, data.data(), length);
    pos = (pos + kLogHeaderSize + length) % capacity;
    used -= kLogHeaderSize + length;

    char digits[32];
    std::snprintf(digits, sizeof digits, "%.7u", elapsed);
    std::string time(digits);
    time.insert(time.size() >= 4 ? 4 : time.size(), ".");
    std::string typeName = QvErrorString(kLogTypeNameBase + type);
    std::string subtypeName = subtype ? QvErrorString(kLogSubtypeNameBase + subtype) : std::string();
    char line[160];
    std::snprintf(line, sizeof line, "%8s  %-8s  %-12s  %.8x  ", time.c_str(), typeName.c_str(),
                  subtypeName.c_str(), value);
    out += line;
    if ((type == dlTriggerAlloc || type == dlTriggerDispose) && subtype == dsStatusTrigger) {
      int kind = length > 0 ? data[0] : 0;
      if (kind >= 0 && kind <= 5) out += kStatusKinds[kind];
    } else if (length > 0) {
      int column = 45;
      for (uint8_t b : data) {
        std::string item = ByteItem(b, hex);
        int width = static_cast<int>(item.size());
        if (column + width >= 79) {
          out += kEol;
          out += std::string(44, ' ');
          column = 45;
        }
        out += item;
        column += width;
      }
      if (subtype == dsModemStatus) {
        std::string names;
        for (int bit = 0; bit < 8; ++bit) {
          if (!(value & (1u << bit))) continue;
          if (!names.empty()) names += ' ';
          names += kModemBits[bit];
        }
        out += " (" + names + ")";
      }
    }
    out += kEol;
  }
  EndLog();
  FILE* f = OpenDump(fileName, append);
  if (!f) return IoErrorCode(errno);
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return CloseDump(f, ok);
}

TQvDiagnostics TQvBaseDispatcher::TakeDiagnostics() {
  std::lock_guard main(mainLock_);
  TQvDiagnostics d;
  d.Valid = true;
  d.TraceOn = traceOn_;
  d.Trace = std::move(trace_);
  d.TraceCapacity = traceCapacity_;
  d.TraceIndex = traceIndex_;
  d.TraceWrapped = traceWrapped_;
  d.LogOn = logOn_;
  d.Log = std::move(log_);
  d.LogHead = logHead_;
  d.LogTail = logTail_;
  d.LogFree = logFree_;
  d.StartMs = startMs_.load();
  trace_.clear();
  log_.clear();
  logScratch_.clear();
  traceOn_ = logOn_ = false;
  traceCapacity_ = traceIndex_ = 0;
  traceWrapped_ = false;
  logHead_ = logTail_ = logFree_ = 0;
  return d;
}

void TQvBaseDispatcher::PutDiagnostics(TQvDiagnostics&& d) {
  if (!d.Valid) return;
  std::lock_guard main(mainLock_);
  traceOn_ = d.TraceOn && !d.Trace.empty();
  trace_ = std::move(d.Trace);
  traceCapacity_ = d.TraceCapacity;
  traceIndex_ = d.TraceIndex;
  traceWrapped_ = d.TraceWrapped;
  logOn_ = d.LogOn && !d.Log.empty();
  log_ = std::move(d.Log);
  logHead_ = d.LogHead;
  logTail_ = d.LogTail;
  logFree_ = d.LogFree;
  if (!log_.empty()) startMs_.store(d.StartMs);
  d.Valid = false;
}

}  // namespace qv::comm
