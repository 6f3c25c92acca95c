#pragma once

#include <string>

namespace qv::fax {

class TQvAbstractFax;

// The events a fax component logs (the code it hands to the log and to OnFaxLog). A transmitter
// sends the first three, a receiver the other four; each side writes its own entries.
enum TFaxLogCode : int {
  lcTransmitStarted = 1,  // a fax of the batch starts
  lcTransmitOk = 2,       // it was delivered
  lcTransmitFailed = 3,   // it failed, or a busy number was given up
  lcReceiveStarted = 4,   // the output file has been created
  lcReceiveOk = 5,        // the fax ended well
  lcReceiveSkipped = 6,   // the call was refused by OnFaxAccept
  lcReceiveFailed = 7,    // the call failed while a file was open
};

// The codes that end a received fax: after them the receiver's file name is cleared.
constexpr bool EndsReceivedFax(int code) {
  return code == lcReceiveOk || code == lcReceiveSkipped || code == lcReceiveFailed;
}

// Appends one history entry per start and end of a fax to a text file.
class TQvFaxLog {
 public:
  virtual ~TQvFaxLog();
  std::string FaxHistoryName = "QVFAX.HIS";  // empty: no logging
  TQvAbstractFax* Fax = nullptr;

  // Throws EInOutError when the file cannot be opened or written.
  virtual void WriteLogEntry(int logCode);

  // The text WriteLogEntry appends for a code: the linked side's entry ("" when the code is
  // not one of that side's events).
  std::string EntryText(int logCode) const;
};

// Current date and time in the log's format.
std::string LogDateTime();

// Line end of the history file; an entry that ends a fax is followed by an empty line.
inline constexpr const char* kLogLineEnd = "\r\n";

}  // namespace qv::fax
