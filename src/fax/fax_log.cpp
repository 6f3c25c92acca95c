#include "fax/fax_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "core/error_codes.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "fax/abstract_fax.h"

namespace qv::fax {

std::string LogDateTime() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%x %X", &tm);
  return buf;
}

TQvFaxLog::~TQvFaxLog() {
  if (Fax) Fax->ComponentRemoved(this);
}

void TQvFaxLog::WriteLogEntry(int logCode) {
  if (FaxHistoryName.empty() || !Fax) return;
  std::string text = EntryText(logCode);
  if (text.empty()) return;
  std::FILE* f = std::fopen(FaxHistoryName.c_str(), "ab");
  if (!f) {
    int code = errno == EACCES ? core::ecAccessDenied : core::ecPathNotFound;
    throw core::EInOutError(core::ErrorText(code), -code);
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) throw core::EInOutError(core::ErrorText(core::ecDiskFull), -core::ecDiskFull);
}

std::string TQvFaxLog::EntryText(int logCode) const {
  if (!Fax || logCode < lcTransmitStarted || logCode > lcReceiveFailed) return {};
  return Fax->FaxLogEntry(static_cast<TFaxLogCode>(logCode));
}

}  // namespace qv::fax
