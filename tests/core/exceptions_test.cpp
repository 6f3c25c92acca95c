#include "core/error_codes.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/string_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

using namespace qv::core;

namespace {

// Raises code and checks the exception's dynamic class, carried code and message.
template <class E>
void expectRaises(int code, const char* what) {
  SCOPED_TRACE(code);
  try {
    RaiseOnError(code);
    FAIL() << "no exception for " << code;
  } catch (const EQvException& e) {
    EXPECT_EQ(typeid(e), typeid(E)) << typeid(e).name();
    EXPECT_EQ(e.ErrorCode(), typeid(E) == typeid(EQvException) ? 0 : code);
    EXPECT_STREQ(e.what(), what);
  }
}

}  // namespace

TEST(Exceptions, EveryCodeRaisesItsClass) {
  expectRaises<EBadArgument>(-1002, "Bad argument passed to function");
  expectRaises<EGotQuitMsg>(-1003, "Got quit message");
  expectRaises<EBufferTooBig>(-1004, "Terminal buffer greater than 65521");
  expectRaises<EPortNotAssigned>(-1005, "ComPort component not assigned");
  expectRaises<EInternal>(-1006, "Internal error creating window class");
  expectRaises<EModemNotAssigned>(-1007, "Modem component not assigned");
  expectRaises<EPhonebookNotAssigned>(-1008, "Phonebook component not assigned");
  expectRaises<EGeneral>(-1009, "Component not compatible with WinSock");
  expectRaises<EBadId>(-2001, "ie_BadId - Specified comport doesn't exist");
  expectRaises<EBaudRate>(-2002, "ie_Baudrate - unsupported baud rate");
  expectRaises<EByteSize>(-2003, "ie_Bytesize - invalid byte size");
  expectRaises<EDefault>(-2004, "ie_Default - error in default parameters");
  expectRaises<EHardware>(-2005, "ie_Hardware - Specified comport in use");
  expectRaises<EMemory>(-2006, "ie_Memory - unable to allocate queues");
  expectRaises<ECommNotOpen>(-2007, "ie_NOpen - device not open");
  expectRaises<EAlreadyOpen>(-2008, "ie_Open - device already open");
  expectRaises<ENoHandles>(-2009, "No more handles, can't open port");
  expectRaises<ENoTimers>(-2010, "No timers available");
  expectRaises<ENoPortSelected>(-2011, "The ComNumber property of the TQvComPort has not been set");
  expectRaises<ENotOpenedByTapi>(-2012, "Comport was not opened by Tapi");
  expectRaises<ENullApi>(-3001, "No device layer specified");
  expectRaises<ERegisterHandlerFailed>(-3003, "EnableCommNotification failed");
  expectRaises<EPutBlockFail>(-3004, "Failed to put entire block");
  expectRaises<EGetBlockFail>(-3005, "Failed to get entire block");
  expectRaises<EOutputBufferTooSmall>(-3006, "Output buffer too small for block");
  expectRaises<EBufferIsEmpty>(-3007, "Buffer is empty");
  expectRaises<ETracingNotEnabled>(-3008, "Tracing not enabled");
  expectRaises<ELoggingNotEnabled>(-3009, "Logging not enabled");
  expectRaises<EBaseAddressNotSet>(-3010, "Base address not set");
  expectRaises<ETriggerTooLong>(-5002, "Data trigger too long");
  expectRaises<EBadTriggerHandle>(-5003, "Bad trigger handle");
  expectRaises<EProtocol>(-6006, "Fatal time out");
  expectRaises<EKeyTooLong>(-7001, "Key string too long");
  expectRaises<EBadFieldForIndex>(-7014, "Bad field index in INI component");
  expectRaises<EFaxBadFormat>(-8001, "File is not an QVF file");
  expectRaises<ECantMakeBitmap>(-8005, "CreateBitmapIndirect API failure");
  expectRaises<EFaxBadMachine>(-8060, "Fax incompatible with remote fax");
  expectRaises<EFaxBadModemResult>(-8061, "Bad response from modem");
  expectRaises<EFaxTrainError>(-8062, "Modems failed to train");
  expectRaises<EFaxInitError>(-8063, "Error while initializing modem");
  expectRaises<EFaxBusy>(-8064, "Called fax number was busy");
  expectRaises<EFaxVoiceCall>(-8065, "Called fax number answered with voice");
  expectRaises<EFaxDataCall>(-8066, "Incoming data call");
  expectRaises<EFaxNoDialTone>(-8067, "No dial tone");
  expectRaises<EFaxNoCarrier>(-8068, "Failed to connect to remote fax");
  expectRaises<EFaxSessionError>(-8069, "Fax failed in mid-session");
  expectRaises<EFaxPageError>(-8070, "Fax failed at page end");
  expectRaises<EFax>(-8002, "Unsupported graphics file format");
  // Codes outside every row: the base class, "Library exception", code 0.
  expectRaises<EQvException>(-5001, "Library exception");
  expectRaises<EQvException>(-8074, "Library exception");
  expectRaises<EQvException>(-9999, "Library exception");
}

TEST(Exceptions, ModemRowFollowsCodeOrder) {
  const std::type_info* expected[] = {&typeid(EModemNotStarted), &typeid(EModemBusy), &typeid(EModemNotDialing),
                                      &typeid(ENotDialing), &typeid(EAlreadyDialing), &typeid(EModemNotResponding),
                                      &typeid(EModemRejectedCommand), &typeid(EModemStatusMismatch)};
  for (int i = 0; i < 8; ++i) {
    try {
      RaiseError(-4001 - i);
      FAIL();
    } catch (const EModem& e) {
      EXPECT_EQ(typeid(e), *expected[i]) << -4001 - i;
      EXPECT_EQ(e.ErrorCode(), -4001 - i);
    }
  }
}

TEST(Exceptions, FileSystemCodesBecomeInOutErrors) {
  try {
    RaiseOnError(-101);
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 101);
    EXPECT_STREQ(e.what(), "Disk is full");
    EXPECT_EQ(ErrorCodeFromException(e), -101);
  }
  EXPECT_THROW(RaiseOnError(-8), std::bad_alloc);
  try {
    RaiseOnError(-8);
  } catch (const std::exception& e) {
    EXPECT_EQ(ErrorCodeFromException(e), -8);
  }
}

TEST(Exceptions, NonNegativeOrLoadingPassesThrough) {
  EXPECT_EQ(RaiseOnError(0), 0);
  EXPECT_EQ(RaiseOnError(17), 17);
  EXPECT_EQ(RaiseOnError(-2001, /*componentLoading=*/true), -2001);
}

TEST(Exceptions, ReverseMapping) {
  EXPECT_EQ(ErrorCodeFromException(EAlreadyOpen("x", -2008)), -2008);
  EXPECT_EQ(ErrorCodeFromException(std::runtime_error("other")), -9999);
  EXPECT_EQ(ErrorCodeFromException(std::make_exception_ptr(EFaxBusy("b", -8064))), -8064);
  EXPECT_EQ(ErrorCodeFromException(std::make_exception_ptr(42)), -9999);
  EXPECT_EQ(ErrorCodeFromException(std::exception_ptr()), 0);
  // Round trip for every code of the table.
  for (int code : {-1002, -2001, -2008, -3006, -5003, -6009, -7010, -8001, -8062, -8070, -4006}) {
    try {
      RaiseError(code);
    } catch (const std::exception& e) {
      EXPECT_EQ(ErrorCodeFromException(e), code);
    }
  }
}

TEST(ErrorText, TableTextOrSystemMessage) {
  EXPECT_EQ(ErrorText(0), "OK");
  EXPECT_EQ(ErrorText(-2), "File not found");
  EXPECT_EQ(ErrorText(2), "File not found");
  EXPECT_EQ(ErrorText(-3006), "Output buffer too small for block");
  // No table text: the system's message, with control characters blanked and spaces folded.
  std::string text = ErrorText(-6008);
  EXPECT_FALSE(text.empty());
  for (char c : text) EXPECT_GE(static_cast<unsigned char>(c), 32);
  EXPECT_EQ(text.find("  "), std::string::npos);
  EXPECT_EQ(ErrorText(-13), std::string(strerror(13)));  // EACCES text from the system
}

TEST(StringTables, LookupsAndMissingIds) {
  EXPECT_EQ(QvFaxString(43), "Finished");
  EXPECT_EQ(QvFaxString(0), "");
  EXPECT_EQ(QvFaxString(44), "");
  EXPECT_EQ(QvErrorString(kLogTypeNameBase + 11), "Fax");
  EXPECT_EQ(QvErrorString(kLogSubtypeNameBase + 4), "Modem status");
  EXPECT_EQ(QvErrorString(kLogSubtypeNameBase), "");  // subtype 0 has no name
  EXPECT_EQ(QvErrorString(kLogTransmitStateBase + 1), "tfGetEntry");
  EXPECT_EQ(QvErrorString(kLogTransmitStateBase + 48), "tfDone");
  EXPECT_EQ(QvErrorString(kLogReceiveStateBase + 1), "rfInit");
  EXPECT_EQ(QvErrorString(kLogReceiveStateBase + 37), "rfDone");
  EXPECT_EQ(QvErrorString(kLogColumnHeader), "Time      Type      SubType       Data      OtherData");
  EXPECT_EQ(QvStrMgrString(5), "Invalid string table resource");
  EXPECT_EQ(QvStrMgrString(6), "");
}
