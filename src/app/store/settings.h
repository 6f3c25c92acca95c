#pragma once
// The process-wide settings record and its file "QRV.INI" in the data directory.

#include <string>

namespace qv::app {

inline constexpr const char* kSettingsFileName = "QRV.INI";
inline constexpr const char* kProgramVersion = "2.9v";
inline constexpr const char* kDefaultPrinterEntry = "Default Windows Printer";
// The outbox: after a round of DialAttempts tries (RetryWait apart) has failed, the next round
// starts after this many seconds, up to this many rounds in all.
inline constexpr int kDefaultOutboxRetryPause = 1800;
inline constexpr int kDefaultOutboxRounds = 3;

struct TSettings {
  // [Modem]
  int ComPort = -1;  // the modem is on COM(ComPort + 1); -1: never configured
  int FaxClass = 1;  // 0 auto detect, 1 Class 1, 2 Class 2, 3 Class 2.0
  int FaxClassReceive = 1;
  int MaximumBPS = 9600;
  int MaximumBPSReceive = 9600;
  std::string InitString;
  std::string InitStringReceive;
  bool RenegotiateBetween = false;
  // [Dialing]
  std::string DialPrefix;
  std::string DialSuffix;
  int DialAttempts = 3;
  int RetryWait = 60;
  int ToneOrPulse = 0;  // 0 tone, 1 pulse
  int Timeout = 60;
  bool BlindDial = false;
  bool IgnoreBusy = false;
  bool ECM = false;
  // [Outbox]
  int OutboxRetryPause = kDefaultOutboxRetryPause;  // seconds between rounds of tries
  int OutboxRounds = kDefaultOutboxRounds;
  // [PracticeLine] On: no modem and no Internet line; a virtual modem pair on this computer
  // carries the faxes, sends on one end and receive mode on the other.
  bool PracticeLine = false;
  // [Receive]
  bool ECMReceive = false;
  bool AtStartup = false;
  int AnswerOnRing = 1;
  std::string Wav;
  bool PrintOnReceipt = false;
  std::string PrintOnReceiptPrinter = kDefaultPrinterEntry;
  bool DisableReceivingFaxesNotification = false;
  // [User]
  std::string Fax;
  std::string Name;
  bool PrefixDisable = false;
  bool SuffixDisable = false;
  // [Resetting]
  std::string ResetString;
  std::string ResetAfterString;
  // [Default Font]
  std::string FontName = "Arial";
  int FontSize = 10;
  bool FontBold = false;
  bool FontItalic = false;
  bool FontUnderline = false;
  // [Hints]
  bool HintsOn = true;
  // [Other]
  bool UseMotorolaSM56Fix = false;
  bool ImposeWaitBeforePrinting = false;
  bool UseAlternateHeaderFont = false;
  bool GlobalUseAlternateNamingRec = false;
  // [Printing]
  bool PrintMultiPage = false;
  bool PrintHeader = false;
  bool PrintFooter = false;
  bool PrintStretch = false;

  // Switches other parts read directly.
  bool PrintingWait = false;  // ImposeWaitBeforePrinting as of the last load
  bool FirstRun = false;      // ComPort was -1 at start-up; the wizard reads and clears it
};

// The record every part reads.
TSettings& Settings();

// The settings file of a data directory (dataDir ends in "/").
std::string SettingsFileName(const std::string& dataDir);

// Reads every general key (not "Printing", not placements) with its defaults; a default given as
// another key's value uses the value just read. Sets the polling switch and the printing wait.
void LoadSettings(TSettings& s, const std::string& iniFile);
// Writes every general key and "Version"; sets the polling switch. A failed write throws EIniWrite.
void SaveSettings(const TSettings& s, const std::string& iniFile);
void LoadPrintOptions(TSettings& s, const std::string& iniFile);
void SavePrintOptions(const TSettings& s, const std::string& iniFile);

// The dispatcher's polled-reading switch (for modems that do not report received characters).
bool PollingMode();
void SetPollingMode(bool on);

}  // namespace qv::app
