// The command interpreter of a modem with no line, driven through its pty like a DTE would.
#include <gtest/gtest.h>

#include "qvmodem/modem_set.h"
#include "test_dte.h"

using namespace qv::modem;
using qv::modem::test::TestDte;

namespace {
ModemSetOptions single(ModemProfile p = {}) {
  ModemSetOptions o;
  o.a = p;
  o.a.fast = true;
  return o;
}
}  // namespace

TEST(AtCommands, EchoVerboseNumericAndQuiet) {
  ModemSet set(single());
  TestDte dte(set.pathA());
  EXPECT_EQ(dte.command("AT"), "AT\r\r\nOK\r\n");  // factory echo on
  EXPECT_EQ(dte.command("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATV0", "\r"), "0\r");
  EXPECT_EQ(dte.command("ATX9", "\r"), "4\r");  // ERROR, numerically
  EXPECT_EQ(dte.command("ATV1Q1", "", 300), "");  // quiet: no result at all
  EXPECT_EQ(dte.drain(200), "");
  EXPECT_EQ(dte.command("ATQ0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("at e0 v1 x4 q0"), "\r\nOK\r\n");  // lower case and spaces
  // Noise in front of AT (an escape attempt) is ignored; a line without AT gets no answer.
  EXPECT_EQ(dte.command("+++ATH0"), "\r\nOK\r\n");
  dte.write("hello\r");
  EXPECT_EQ(dte.drain(200), "");
  // Backspace edits the line.
  EXPECT_EQ(dte.command("ATX9\bE0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATJ"), "\r\nERROR\r\n");
  EXPECT_EQ(dte.command("AT+FOO=1"), "\r\nERROR\r\n");
}

TEST(AtCommands, SRegistersAndFactoryReset) {
  ModemSet set(single());
  TestDte dte(set.pathA());
  dte.command("ATE0");
  EXPECT_EQ(dte.command("ATS0?"), "\r\n000\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATS0=3S7=45"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATS0?"), "\r\n003\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATS7?"), "\r\n045\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATS7=300"), "\r\nERROR\r\n");
  EXPECT_EQ(dte.command("ATS256=1"), "\r\nERROR\r\n");
  EXPECT_EQ(dte.command("ATS1=9S1?"), "\r\n000\r\n\r\nOK\r\n");  // the ring counter is read-only
  EXPECT_EQ(dte.command("AT+FCLASS=1"), "\r\nOK\r\n");
  // &F brings back factory settings: echo on, class 0, S0 = 0.
  EXPECT_EQ(dte.command("AT&F"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATS0?"), "ATS0?\r\r\n000\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATE0+FCLASS?"), "ATE0+FCLASS?\r\r\n0\r\n\r\nOK\r\n");
  dte.command("ATS7=10");
  EXPECT_EQ(dte.command("ATZ"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("ATE0S7?"), "ATE0S7?\r\r\n050\r\n\r\nOK\r\n");
  // A/ repeats the last line.
  dte.write("A/");
  EXPECT_EQ(dte.waitFor("OK\r\n"), "\r\n050\r\n\r\nOK\r\n");
}

TEST(AtCommands, FaxClassesAndClassBoundCommands) {
  ModemSet set(single());
  TestDte dte(set.pathA());
  dte.command("ATE0");
  EXPECT_EQ(dte.command("AT+FCLASS=?"), "\r\n0,1,2,2.0\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FTH=3"), "\r\nERROR\r\n");  // not in class 0
  EXPECT_EQ(dte.command("AT+FCLASS=8"), "\r\nERROR\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS=1"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FTM=?"), "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FRH=?"), "\r\n3\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FTS=?"), "\r\n0-255\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FTH=3"), "\r\nERROR\r\n");  // on hook
  EXPECT_EQ(dte.command("AT+FTM=95"), "\r\nERROR\r\n");
  EXPECT_EQ(dte.command("AT+FTS=1"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDT"), "\r\nERROR\r\n");  // a Class 2 command in Class 1
  EXPECT_EQ(dte.command("AT+FCLASS=2.0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS?"), "\r\n2.0\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FLI=\"+1 555 0100\";+FCC=1,5,0,2,0,0,0,0;+FNR=1,1,1,0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FLI?"), "\r\n\"+1 555 0100\"\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FLI=\"123456789012345678901\""), "\r\nERROR\r\n");  // 21 characters
  EXPECT_EQ(dte.command("AT+FCC=?"), "\r\n(0,1),(0-5),(0-2),(0-2),(0,1,3),(0,1),(0),(0-7)\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCC=1,9"), "\r\nERROR\r\n");
  EXPECT_EQ(dte.command("AT+FLID=\"x\""), "\r\nERROR\r\n");  // the Class 2 name in 2.0
  EXPECT_EQ(dte.command("AT+FIP"), "\r\nOK\r\n");                 // factory fax parameters
  EXPECT_EQ(dte.command("AT+FLI?"), "\r\n\"\"\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FNR?"), "\r\n0,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS=2"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDIS?"), "\r\n1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDIS=0,3"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDIS?"), "\r\n0,3,0,2,0,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FMFR?"), "\r\nQuorvane\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDR"), "\r\nERROR\r\n");  // no call
  EXPECT_EQ(dte.command("AT+FK"), "\r\nOK\r\n");
}

TEST(AtCommands, ProfileLimitsClassesAndSpeeds) {
  ModemProfile p;
  p.classes = "0,1";
  p.maxRate = 9600;
  ModemSet set(single(p));
  TestDte dte(set.pathA());
  dte.command("ATE0");
  EXPECT_EQ(dte.command("AT+FCLASS=?"), "\r\n0,1\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS=2"), "\r\nERROR\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS=1.0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FRM=?"), "\r\n24,48,72,73,74,96,97,98\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FRM=145"), "\r\nERROR\r\n");
}

// The codings and error correction a Class 2/2.0 modem lists are all it takes: a DTE that asks
// for more gets the best the modem has, and MMR never without ECM.
TEST(AtCommands, ProfileLimitsCodingsAndErrorCorrection) {
  ModemProfile p;
  p.bestCoding = 1;
  ModemSet set(single(p));
  TestDte dte(set.pathA());
  dte.command("ATE0");
  EXPECT_EQ(dte.command("AT+FCLASS=2"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDCC=?"), "\r\n(0,1),(0-5),(0-2),(0-2),(0,1),(0-2),(0),(0-7)\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDCC=1,5,0,2,3,2,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDCC?"), "\r\n1,5,0,2,1,2,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FDIS=1,5,0,2,2,0,0,0"), "\r\nOK\r\n");  // uncompressed mode: not offered
  EXPECT_EQ(dte.command("AT+FDIS?"), "\r\n1,5,0,2,1,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS=2.0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCC=1,5,0,2,0,1,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCC?"), "\r\n1,5,0,2,0,1,0,0\r\n\r\nOK\r\n");  // 2.0: EC 1 is ECM

  p.bestCoding = 0;
  p.ecm = false;
  ModemSet plain(single(p));
  TestDte old(plain.pathA());
  old.command("ATE0");
  EXPECT_EQ(old.command("AT+FCLASS=2.0"), "\r\nOK\r\n");
  EXPECT_EQ(old.command("AT+FCC=?"), "\r\n(0,1),(0-5),(0-2),(0-2),(0),(0),(0),(0-7)\r\n\r\nOK\r\n");
  EXPECT_EQ(old.command("AT+FCC=1,5,0,2,3,1,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(old.command("AT+FCC?"), "\r\n1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
}

TEST(AtCommands, DiallingWithoutALineHasNoDialTone) {
  ModemSet set(single());
  TestDte dte(set.pathA());
  EXPECT_EQ(dte.command("ATE0X4DT5551234"), "ATE0X4DT5551234\r\r\nNO DIALTONE\r\n");
  EXPECT_EQ(dte.command("ATX3DT5551234"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(dte.command("ATA"), "\r\nNO CARRIER\r\n");
}

TEST(AtCommands, ScriptedMisbehaviour) {
  {
    ModemProfile p;
    p.ignoreAt = true;
    ModemSet set(single(p));
    TestDte dte(set.pathA());
    dte.write("AT\r");
    EXPECT_EQ(dte.drain(300), "AT\r");  // echoed, never answered
    EXPECT_EQ(dte.command("ATE0"), "ATE0\r\r\nOK\r\n");
    dte.write("AT\r");
    EXPECT_EQ(dte.drain(300), "");
  }
  {
    ModemProfile p;
    p.ignoreAtF = true;
    ModemSet set(single(p));
    TestDte dte(set.pathA());
    dte.command("ATE0");
    dte.write("AT&F\r");
    EXPECT_EQ(dte.drain(300), "");
    EXPECT_EQ(dte.command("AT"), "\r\nOK\r\n");
  }
  {
    ModemProfile p;
    p.refuse = {"S2=43"};
    ModemSet set(single(p));
    TestDte dte(set.pathA());
    dte.command("ATE0");
    EXPECT_EQ(dte.command("ATE0Q0V1X4S0=0S2=43"), "\r\nERROR\r\n");
    EXPECT_EQ(dte.command("ATE0Q0V1X4S0=0"), "\r\nOK\r\n");
  }
  {
    ModemProfile p;
    p.silent = true;
    ModemSet set(single(p));
    TestDte dte(set.pathA());
    dte.write("AT\rATE0\rAT+FCLASS=?\r");
    EXPECT_EQ(dte.drain(400), "");
  }
}

TEST(AtCommands, ADteThatClosesThePortCanComeBack) {
  ModemSet set(single());
  {
    TestDte dte(set.pathA());
    EXPECT_EQ(dte.command("ATE0"), "ATE0\r\r\nOK\r\n");
    dte.write("AT+FCLASS=?");  // half a line, then the DTE goes away
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  TestDte again(set.pathA());
  // The half line is gone with the DTE; settings survive like on a real modem.
  EXPECT_EQ(again.command("AT"), "\r\nOK\r\n");
}
