#pragma once

#include <string>

#include "fax/t30_frames.h"

namespace qv::fax {

class TQvAbstractFax;

// Status codes (ProgressCode) of a fax session.
inline constexpr int fpInitModem = 1;
inline constexpr int fpDialing = 2;
inline constexpr int fpBusyWait = 3;
inline constexpr int fpSendPage = 4;
inline constexpr int fpSendEop = 5;
inline constexpr int fpPageError = 6;
inline constexpr int fpPageOk = 7;
inline constexpr int fpConnecting = 8;
inline constexpr int fpWaiting = 20;
inline constexpr int fpNoConnect = 21;
inline constexpr int fpAnswer = 22;
inline constexpr int fpIncoming = 23;
inline constexpr int fpGetPage = 24;
inline constexpr int fpGetPageResult = 25;
inline constexpr int fpCheckMorePages = 26;
inline constexpr int fpGetHangup = 27;
inline constexpr int fpGotHangup = 28;
inline constexpr int fpSessionParams = 40;
inline constexpr int fpGotRemoteId = 41;
inline constexpr int fpCancel = 42;
inline constexpr int fpFinished = 43;

// The text of a status code; empty outside 1..43, at most 80 characters.
std::string StatusText(int code);

// The name of a page coding on the line: "MH", "MR", "MMR".
const char* CodingName(LineCoding coding);

// What a call ran with, as the status window and the session logs say it: "on, MMR, 3 frames
// resent" with error correction, "off, MR" without.
std::string ErrorControlText(bool ecm, LineCoding coding, long framesResent);

// A progress display for a fax component. Concrete displays live in the user interface.
class TQvAbstractFaxStatus {
 public:
  virtual ~TQvAbstractFaxStatus();
  std::string Caption = "Fax Status";
  bool Ctl3D = true;
  bool Visible = false;
  int Position = 0;
  TQvAbstractFax* Fax = nullptr;

  virtual void CreateDisplay() {}
  virtual void DestroyDisplay() {}
  virtual void UpdateDisplay(bool first, bool last) = 0;
};

}  // namespace qv::fax
