#include "fax/fax_log.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "core/error_codes.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"

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
  if (!Fax) return {};
  auto* sender = dynamic_cast<TQvSendFax*>(Fax);
  auto* receiver = dynamic_cast<TQvReceiveFax*>(Fax);
  std::string text;
  const std::string date = LogDateTime();
  const std::string crlf = "\r\n";
  if (sender && logCode >= 1 && logCode <= 3) {
    const std::string prefix = "Transmit ";
    switch (logCode) {
      case 1:
        for (const auto& file : sender->FaxFileList)
          text += prefix + file + " to " + sender->PhoneNumber + " started at " + date + crlf;
        break;
      case 2:
        text = prefix + "to " + sender->RemoteID() + " finished OK at " + date + " " +
               std::to_string(sender->HangupCode()) + crlf + crlf;
        break;
      case 3:
        text = prefix + "failed at " + date + crlf + "  (" + core::ErrorText(sender->LastError()) + ")" + " " +
               std::to_string(sender->HangupCode()) + crlf + crlf;
        break;
    }
  } else if (receiver && logCode >= 4 && logCode <= 7) {
    const std::string prefix = "Receive ";
    switch (logCode) {
      case 4:
        text = prefix + receiver->FaxFile() + " from " + receiver->RemoteID() + " started at " + date + crlf;
        break;
      case 5:
        text = prefix + "finished OK at " + date + crlf + crlf;
        break;
      case 6:
        text = prefix + "skipped at " + date + crlf + crlf;
        break;
      case 7:
        text = prefix + "failed at " + date + crlf + "  (" + core::ErrorText(receiver->LastError()) + ")" + crlf + crlf;
        break;
    }
  }
  return text;
}

}  // namespace qv::fax
