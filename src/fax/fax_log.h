#pragma once

#include <string>

namespace qv::fax {

class TQvAbstractFax;

// Appends one history entry per start and end of a fax to a text file.
class TQvFaxLog {
 public:
  virtual ~TQvFaxLog();
  std::string FaxHistoryName = "QVFAX.HIS";  // empty: no logging
  TQvAbstractFax* Fax = nullptr;

  // Throws EInOutError when the file cannot be opened or written.
  virtual void WriteLogEntry(int logCode);

  // The text WriteLogEntry appends for a code ("" when the code is not for the linked side).
  std::string EntryText(int logCode) const;
};

// Current date and time in the log's format.
std::string LogDateTime();

}  // namespace qv::fax
