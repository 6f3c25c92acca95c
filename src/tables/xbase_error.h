#pragma once

#include <stdexcept>
#include <string>

namespace qv::tables {

// Engine error codes (positive, the engine's own numbering; the binding reports them as
// "Table engine error : <code>" where a caller asks for a text).
enum XbErrorCode : int {
  xbeNone = 0,
  xbeOpenFailed = 11011,      // "File Open Error"
  xbeFileInUse = 11012,       // another process or work area holds the table
  xbeCorruptTable = 11020,
  xbeCorruptMemo = 11021,
  xbeCorruptIndex = 11022,
  xbeWriteFailed = 11030,
  xbeReadFailed = 11031,
  xbeReadOnly = 11032,
  xbeBadField = 11040,
  xbeBadArgument = 11041,
  xbeNoWorkArea = 11050,
  xbeNoRecord = 11051,
  xbeExprSyntax = 11060,
  xbeExprType = 11061,
  xbeExprUnknownName = 11062,
  xbeTagNotFound = 11070,
  xbeCreateFailed = 11080,
  xbeNumberTooWide = 10019,   // a float value does not fit its numeric field
};

// The one exception type of the engine: a code from above plus a text that names the file
// or the expression involved.
class EXBaseError : public std::runtime_error {
 public:
  EXBaseError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

[[noreturn]] inline void ThrowXb(int code, const std::string& text) { throw EXBaseError(code, text); }

}  // namespace qv::tables
