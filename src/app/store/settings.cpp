#include "app/store/settings.h"

#include "comm/dispatcher_list.h"
#include "core/ini_file.h"

namespace qv::app {

TSettings& Settings() {
  static TSettings settings;
  return settings;
}

std::string SettingsFileName(const std::string& dataDir) { return dataDir + kSettingsFileName; }

// The switch itself belongs to the dispatchers, whose threads read it.
bool PollingMode() { return comm::PollingMode(); }
void SetPollingMode(bool on) { comm::SetPollingMode(on); }

void LoadSettings(TSettings& s, const std::string& iniFile) {
  core::TIniFile ini(iniFile);
  s.ComPort = ini.ReadInteger("Modem", "ComPort", -1);
  s.FaxClass = ini.ReadInteger("Modem", "FaxClass", 1);
  s.FaxClassReceive = ini.ReadInteger("Modem", "FaxClassReceive", s.FaxClass);
  s.MaximumBPS = ini.ReadInteger("Modem", "MaximumBPS", 9600);
  s.MaximumBPSReceive = ini.ReadInteger("Modem", "MaximumBPSReceive", s.MaximumBPS);
  s.InitString = ini.ReadString("Modem", "InitString", "");
  s.InitStringReceive = ini.ReadString("Modem", "InitStringReceive", s.InitString);
  s.RenegotiateBetween = ini.ReadBool("Modem", "RenegotiateBetween", false);

  s.DialPrefix = ini.ReadString("Dialing", "DialPrefix", "");
  s.DialSuffix = ini.ReadString("Dialing", "DialSuffix", "");
  s.DialAttempts = ini.ReadInteger("Dialing", "DialAttempts", 3);
  s.RetryWait = ini.ReadInteger("Dialing", "RetryWait", 60);
  s.ToneOrPulse = ini.ReadInteger("Dialing", "ToneOrPulse", 0);
  s.Timeout = ini.ReadInteger("Dialing", "Timeout", 60);
  s.BlindDial = ini.ReadBool("Dialing", "BlindDial", false);
  s.IgnoreBusy = ini.ReadBool("Dialing", "IgnoreBusy", false);
  s.ECM = ini.ReadBool("Dialing", "ECM", false);
  s.OutboxRetryPause = ini.ReadInteger("Outbox", "RetryPause", kDefaultOutboxRetryPause);
  s.OutboxRounds = ini.ReadInteger("Outbox", "Rounds", kDefaultOutboxRounds);
  s.PracticeLine = ini.ReadBool("PracticeLine", "On", false);

  s.ECMReceive = ini.ReadBool("Receive", "ECMReceive", s.ECM);
  s.AtStartup = ini.ReadBool("Receive", "AtStartup", false);
  s.AnswerOnRing = ini.ReadInteger("Receive", "AnswerOnRing", 1);
  s.Wav = ini.ReadString("Receive", "Wav", "");
  s.PrintOnReceipt = ini.ReadBool("Receive", "PrintOnReceipt", false);
  s.PrintOnReceiptPrinter =
      ini.ReadString("Receive", "PrintOnReceiptPrinter", kDefaultPrinterEntry);
  s.DisableReceivingFaxesNotification =
      ini.ReadBool("Receive", "DisableReceivingFaxesNotification", false);

  s.Fax = ini.ReadString("User", "Fax", "");
  s.Name = ini.ReadString("User", "Name", "");
  s.PrefixDisable = ini.ReadBool("User", "PrefixDisable", false);
  s.SuffixDisable = ini.ReadBool("User", "SuffixDisable", false);

  s.ResetString = ini.ReadString("Resetting", "String", "");
  s.ResetAfterString = ini.ReadString("Resetting", "AfterString", "");

  s.FontName = ini.ReadString("Default Font", "Name", "Arial");
  s.FontSize = ini.ReadInteger("Default Font", "Size", 10);
  s.FontBold = ini.ReadBool("Default Font", "Bold", false);
  s.FontItalic = ini.ReadBool("Default Font", "Italic", false);
  s.FontUnderline = ini.ReadBool("Default Font", "Underline", false);

  s.HintsOn = ini.ReadBool("Hints", "On", true);

  s.UseMotorolaSM56Fix = ini.ReadBool("Other", "UseMotorolaSM56Fix", false);
  s.ImposeWaitBeforePrinting = ini.ReadBool("Other", "ImposeWaitBeforePrinting", false);
  s.UseAlternateHeaderFont = ini.ReadBool("Other", "UseAlternateHeaderFont", false);
  s.GlobalUseAlternateNamingRec = ini.ReadBool("Other", "GlobalUseAlternateNamingRec", false);

  SetPollingMode(s.UseMotorolaSM56Fix);
  s.PrintingWait = s.ImposeWaitBeforePrinting;
}

void SaveSettings(const TSettings& s, const std::string& iniFile) {
  core::TIniFile ini(iniFile);
  ini.BeginUpdate();  // the whole record goes to the file in one write
  ini.WriteInteger("Modem", "ComPort", s.ComPort);
  ini.WriteInteger("Modem", "FaxClass", s.FaxClass);
  ini.WriteInteger("Modem", "FaxClassReceive", s.FaxClassReceive);
  ini.WriteInteger("Modem", "MaximumBPS", s.MaximumBPS);
  ini.WriteInteger("Modem", "MaximumBPSReceive", s.MaximumBPSReceive);
  ini.WriteString("Modem", "InitString", s.InitString);
  ini.WriteString("Modem", "InitStringReceive", s.InitStringReceive);
  ini.WriteBool("Modem", "RenegotiateBetween", s.RenegotiateBetween);

  ini.WriteString("Dialing", "DialPrefix", s.DialPrefix);
  ini.WriteString("Dialing", "DialSuffix", s.DialSuffix);
  ini.WriteInteger("Dialing", "DialAttempts", s.DialAttempts);
  ini.WriteInteger("Dialing", "RetryWait", s.RetryWait);
  ini.WriteInteger("Dialing", "ToneOrPulse", s.ToneOrPulse);
  ini.WriteInteger("Dialing", "Timeout", s.Timeout);
  ini.WriteBool("Dialing", "BlindDial", s.BlindDial);
  ini.WriteBool("Dialing", "IgnoreBusy", s.IgnoreBusy);
  ini.WriteBool("Dialing", "ECM", s.ECM);
  ini.WriteInteger("Outbox", "RetryPause", s.OutboxRetryPause);
  ini.WriteInteger("Outbox", "Rounds", s.OutboxRounds);
  ini.WriteBool("PracticeLine", "On", s.PracticeLine);

  ini.WriteBool("Receive", "ECMReceive", s.ECMReceive);
  ini.WriteBool("Receive", "AtStartup", s.AtStartup);
  ini.WriteInteger("Receive", "AnswerOnRing", s.AnswerOnRing);
  ini.WriteString("Receive", "Wav", s.Wav);
  ini.WriteBool("Receive", "PrintOnReceipt", s.PrintOnReceipt);
  ini.WriteString("Receive", "PrintOnReceiptPrinter", s.PrintOnReceiptPrinter);
  ini.WriteBool("Receive", "DisableReceivingFaxesNotification",
                s.DisableReceivingFaxesNotification);

  ini.WriteString("User", "Fax", s.Fax);
  ini.WriteString("User", "Name", s.Name);
  ini.WriteBool("User", "PrefixDisable", s.PrefixDisable);
  ini.WriteBool("User", "SuffixDisable", s.SuffixDisable);

  ini.WriteString("Resetting", "String", s.ResetString);
  ini.WriteString("Resetting", "AfterString", s.ResetAfterString);

  ini.WriteString("Default Font", "Name", s.FontName);
  ini.WriteInteger("Default Font", "Size", s.FontSize);
  ini.WriteBool("Default Font", "Bold", s.FontBold);
  ini.WriteBool("Default Font", "Italic", s.FontItalic);
  ini.WriteBool("Default Font", "Underline", s.FontUnderline);

  ini.WriteBool("Hints", "On", s.HintsOn);
  ini.WriteString("Version", "Version", kProgramVersion);

  ini.WriteBool("Other", "UseMotorolaSM56Fix", s.UseMotorolaSM56Fix);
  ini.WriteBool("Other", "ImposeWaitBeforePrinting", s.ImposeWaitBeforePrinting);
  ini.WriteBool("Other", "UseAlternateHeaderFont", s.UseAlternateHeaderFont);
  ini.WriteBool("Other", "GlobalUseAlternateNamingRec", s.GlobalUseAlternateNamingRec);
  ini.CommitUpdate();

  SetPollingMode(s.UseMotorolaSM56Fix);
}

void LoadPrintOptions(TSettings& s, const std::string& iniFile) {
  core::TIniFile ini(iniFile);
  s.PrintMultiPage = ini.ReadBool("Printing", "MultiPage", false);
  s.PrintHeader = ini.ReadBool("Printing", "Header", false);
  s.PrintFooter = ini.ReadBool("Printing", "Footer", false);
  s.PrintStretch = ini.ReadBool("Printing", "Stretch", false);
}

void SavePrintOptions(const TSettings& s, const std::string& iniFile) {
  core::TIniFile ini(iniFile);
  ini.BeginUpdate();
  ini.WriteBool("Printing", "MultiPage", s.PrintMultiPage);
  ini.WriteBool("Printing", "Header", s.PrintHeader);
  ini.WriteBool("Printing", "Footer", s.PrintFooter);
  ini.WriteBool("Printing", "Stretch", s.PrintStretch);
  ini.CommitUpdate();
}

}  // namespace qv::app
