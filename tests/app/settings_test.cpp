#include "app/store/settings.h"

#include "comm/dispatcher_list.h"
#include "core/exceptions.h"
#include "core/file_util.h"
#include "core/ini_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace qv::app {
namespace {

using test::DataDir;

TEST(Settings, MissingFileGivesTheDefaults) {
  DataDir dir;
  TSettings s;
  s.ComPort = 3;
  s.FontName = "Courier";
  SetPollingMode(true);
  LoadSettings(s, SettingsFileName(dir.StdPath()));
  EXPECT_EQ(s.ComPort, -1);
  EXPECT_EQ(s.FaxClass, 1);
  EXPECT_EQ(s.FaxClassReceive, 1);
  EXPECT_EQ(s.MaximumBPS, 9600);
  EXPECT_EQ(s.MaximumBPSReceive, 9600);
  EXPECT_EQ(s.DialAttempts, 3);
  EXPECT_EQ(s.RetryWait, 60);
  EXPECT_EQ(s.Timeout, 60);
  EXPECT_EQ(s.AnswerOnRing, 1);
  EXPECT_EQ(s.PrintOnReceiptPrinter, "Default Windows Printer");
  EXPECT_EQ(s.FontName, "Arial");
  EXPECT_EQ(s.FontSize, 10);
  EXPECT_TRUE(s.HintsOn);
  EXPECT_FALSE(s.UseMotorolaSM56Fix);
  EXPECT_FALSE(PollingMode());
  // Loading never creates the file.
  EXPECT_NE(::access(SettingsFileName(dir.StdPath()).c_str(), F_OK), 0);
}

TEST(Settings, ReceiveKeysFollowTheirSendingCounterpartsWhenMissing) {
  DataDir dir;
  const std::string file = SettingsFileName(dir.StdPath());
  core::TIniFile ini(file);
  ini.WriteInteger("Modem", "FaxClass", 2);
  ini.WriteInteger("Modem", "MaximumBPS", 14400);
  ini.WriteString("Modem", "InitString", "S7=60");
  ini.WriteBool("Dialing", "ECM", true);
  TSettings s;
  LoadSettings(s, file);
  EXPECT_EQ(s.FaxClassReceive, 2);
  EXPECT_EQ(s.MaximumBPSReceive, 14400);
  EXPECT_EQ(s.InitStringReceive, "S7=60");
  EXPECT_TRUE(s.ECMReceive);

  // Present receive keys win over the followed values.
  ini.WriteInteger("Modem", "FaxClassReceive", 0);
  ini.WriteInteger("Modem", "MaximumBPSReceive", 4800);
  ini.WriteString("Modem", "InitStringReceive", "");
  ini.WriteBool("Receive", "ECMReceive", false);
  LoadSettings(s, file);
  EXPECT_EQ(s.FaxClassReceive, 0);
  EXPECT_EQ(s.MaximumBPSReceive, 4800);
  EXPECT_EQ(s.InitStringReceive, "");
  EXPECT_FALSE(s.ECMReceive);
}

TEST(Settings, HexIntegersAndBadNumbers) {
  DataDir dir;
  const std::string file = SettingsFileName(dir.StdPath());
  core::TIniFile ini(file);
  ini.WriteString("Dialing", "RetryWait", "0x10");
  ini.WriteString("Dialing", "DialAttempts", "many");
  ini.WriteString("Hints", "On", "0");
  TSettings s;
  LoadSettings(s, file);
  EXPECT_EQ(s.RetryWait, 16);
  EXPECT_EQ(s.DialAttempts, 3);
  EXPECT_FALSE(s.HintsOn);
}

TEST(Settings, RoundTripWritesEveryGeneralKeyAndTheVersion) {
  DataDir dir;
  const std::string file = SettingsFileName(dir.StdPath());
  TSettings s;
  s.ComPort = 2;
  s.FaxClass = 3;
  s.FaxClassReceive = 2;
  s.MaximumBPS = 7200;
  s.MaximumBPSReceive = 12000;
  s.InitString = "M0";
  s.InitStringReceive = "S0=0";
  s.RenegotiateBetween = true;
  s.DialPrefix = "9,";
  s.DialSuffix = "#";
  s.DialAttempts = 5;
  s.RetryWait = 30;
  s.ToneOrPulse = 1;
  s.Timeout = 90;
  s.BlindDial = true;
  s.IgnoreBusy = true;
  s.ECM = true;
  s.ECMReceive = false;
  s.AtStartup = true;
  s.AnswerOnRing = 4;
  s.Wav = "/tmp/ring.wav";
  s.PrintOnReceipt = true;
  s.PrintOnReceiptPrinter = "Laser 2";
  s.DisableReceivingFaxesNotification = true;
  s.Fax = "+1 555 0100";
  s.Name = "Jane Doe";
  s.PrefixDisable = true;
  s.SuffixDisable = true;
  s.ResetString = "AT&F";
  s.ResetAfterString = "ATZ";
  s.FontName = "Times New Roman";
  s.FontSize = 12;
  s.FontBold = true;
  s.FontItalic = true;
  s.FontUnderline = true;
  s.HintsOn = false;
  s.UseMotorolaSM56Fix = true;
  s.ImposeWaitBeforePrinting = true;
  s.UseAlternateHeaderFont = true;
  s.GlobalUseAlternateNamingRec = true;
  SetPollingMode(false);
  SaveSettings(s, file);
  EXPECT_TRUE(comm::PollingMode());  // the dispatchers' own switch follows

  TSettings back;
  SetPollingMode(false);
  LoadSettings(back, file);
  EXPECT_TRUE(PollingMode());
  EXPECT_TRUE(back.PrintingWait);
  EXPECT_EQ(back.ComPort, 2);
  EXPECT_EQ(back.FaxClass, 3);
  EXPECT_EQ(back.FaxClassReceive, 2);
  EXPECT_EQ(back.MaximumBPS, 7200);
  EXPECT_EQ(back.MaximumBPSReceive, 12000);
  EXPECT_EQ(back.InitString, "M0");
  EXPECT_EQ(back.InitStringReceive, "S0=0");
  EXPECT_TRUE(back.RenegotiateBetween);
  EXPECT_EQ(back.DialPrefix, "9,");
  EXPECT_EQ(back.DialSuffix, "#");
  EXPECT_EQ(back.DialAttempts, 5);
  EXPECT_EQ(back.RetryWait, 30);
  EXPECT_EQ(back.ToneOrPulse, 1);
  EXPECT_EQ(back.Timeout, 90);
  EXPECT_TRUE(back.BlindDial);
  EXPECT_TRUE(back.IgnoreBusy);
  EXPECT_TRUE(back.ECM);
  EXPECT_FALSE(back.ECMReceive);
  EXPECT_TRUE(back.AtStartup);
  EXPECT_EQ(back.AnswerOnRing, 4);
  EXPECT_EQ(back.Wav, "/tmp/ring.wav");
  EXPECT_TRUE(back.PrintOnReceipt);
  EXPECT_EQ(back.PrintOnReceiptPrinter, "Laser 2");
  EXPECT_TRUE(back.DisableReceivingFaxesNotification);
  EXPECT_EQ(back.Fax, "+1 555 0100");
  EXPECT_EQ(back.Name, "Jane Doe");
  EXPECT_TRUE(back.PrefixDisable);
  EXPECT_TRUE(back.SuffixDisable);
  EXPECT_EQ(back.ResetString, "AT&F");
  EXPECT_EQ(back.ResetAfterString, "ATZ");
  EXPECT_EQ(back.FontName, "Times New Roman");
  EXPECT_EQ(back.FontSize, 12);
  EXPECT_TRUE(back.FontBold && back.FontItalic && back.FontUnderline);
  EXPECT_FALSE(back.HintsOn);
  EXPECT_TRUE(back.UseAlternateHeaderFont);
  EXPECT_TRUE(back.GlobalUseAlternateNamingRec);

  // The stored forms: decimal integers, Booleans as 0/1, the version, the exact section names.
  core::TIniFile ini(file);
  EXPECT_EQ(ini.ReadString("Version", "Version", ""), "2.9v");
  EXPECT_EQ(ini.ReadString("Dialing", "ToneOrPulse", ""), "1");
  EXPECT_EQ(ini.ReadString("Resetting", "String", ""), "AT&F");
  EXPECT_EQ(ini.ReadString("Default Font", "Bold", ""), "1");
  EXPECT_EQ(ini.ReadString("Receive", "ECMReceive", ""), "0");
  EXPECT_EQ(ini.ReadString("Other", "UseMotorolaSM56Fix", ""), "1");
  // The general save leaves the printing keys alone.
  EXPECT_FALSE(ini.SectionExists("Printing"));
}

TEST(Settings, PrintOptionsHaveTheirOwnPair) {
  DataDir dir;
  const std::string file = SettingsFileName(dir.StdPath());
  TSettings s;
  s.PrintMultiPage = true;
  s.PrintFooter = true;
  SavePrintOptions(s, file);
  TSettings back;
  back.PrintHeader = true;
  LoadSettings(back, file);  // the general load does not touch them
  EXPECT_FALSE(back.PrintMultiPage);
  LoadPrintOptions(back, file);
  EXPECT_TRUE(back.PrintMultiPage);
  EXPECT_FALSE(back.PrintHeader);
  EXPECT_TRUE(back.PrintFooter);
  EXPECT_FALSE(back.PrintStretch);
  EXPECT_EQ(core::TIniFile(file).ReadSection("Printing"),
            (std::vector<std::string>{"MultiPage", "Header", "Footer", "Stretch"}));
}

TEST(Settings, FailedWriteRaisesWithTheFileName) {
  // A missing folder fails for every user, root included.
  DataDir dir;
  const std::string file = dir.StdPath() + "no-such-folder/QRV.INI";
  TSettings s;
  try {
    SaveSettings(s, file);
    FAIL() << "saving into a missing folder succeeded";
  } catch (const core::EIniWrite& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + file);
  }
}

TEST(Settings, ASaveIsOneWriteAndAFailedOneKeepsTheOldFile) {
  DataDir dir;
  const std::string file = SettingsFileName(dir.StdPath());
  TSettings s;
  s.Name = "First";
  const unsigned long before = core::AtomicWritesDone();
  SaveSettings(s, file);
  SavePrintOptions(s, file);
  EXPECT_EQ(core::AtomicWritesDone(), before + 2);  // one for the record, one for the print options
  std::string old;
  ASSERT_TRUE(core::ReadWholeFile(file, old));

  // The settings file's place is not a directory (works for root too): the error names the file.
  DataDir other;
  const std::string blocker = other.StdPath() + "plain";
  ASSERT_TRUE(core::AtomicWriteFile(blocker, "x"));
  try {
    SaveSettings(s, blocker + "/" + kSettingsFileName);
    ADD_FAILURE() << "save into a regular file succeeded";
  } catch (const core::EIniWrite& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocker + "/" + kSettingsFileName);
  }
  std::string now;
  ASSERT_TRUE(core::ReadWholeFile(file, now));
  EXPECT_EQ(now, old);
}

}  // namespace
}  // namespace qv::app
