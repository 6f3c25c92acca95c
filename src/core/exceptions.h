#pragma once

#include <exception>
#include <stdexcept>
#include <string>

// The library's exception tree. Every class carries the library result code it was raised for;
// RaiseOnError turns a negative code into the class that belongs to it, ErrorCodeFromException
// turns a caught exception back into a code.
namespace qv::core {

class EQvException : public std::runtime_error {
 public:
  explicit EQvException(const std::string& message = "Library exception", int errorCode = 0)
      : std::runtime_error(message), errorCode_(errorCode) {}
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

// A run-time I/O failure; its code is the positive I/O number (the reverse mapping negates it).
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int ioCode) : std::runtime_error(message), ioCode_(ioCode) {}
  int ErrorCode() const { return ioCode_; }

 private:
  int ioCode_;
};

class EOutOfMemory : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "Insufficient memory"; }
};

#define QV_EXCEPTION(Name, Base)                                      \
  class Name : public Base {                                          \
   public:                                                            \
    explicit Name(const std::string& message = "Library exception",   \
                  int errorCode = 0)                                  \
        : Base(message, errorCode) {}                                 \
  };

QV_EXCEPTION(EGeneral, EQvException)
QV_EXCEPTION(EBadArgument, EGeneral)
QV_EXCEPTION(EGotQuitMsg, EGeneral)
QV_EXCEPTION(EBufferTooBig, EGeneral)
QV_EXCEPTION(EPortNotAssigned, EGeneral)
QV_EXCEPTION(EInternal, EGeneral)
QV_EXCEPTION(EModemNotAssigned, EGeneral)
QV_EXCEPTION(EPhonebookNotAssigned, EGeneral)

QV_EXCEPTION(EOpenComm, EQvException)
QV_EXCEPTION(EBadId, EOpenComm)
QV_EXCEPTION(EBaudRate, EOpenComm)
QV_EXCEPTION(EByteSize, EOpenComm)
QV_EXCEPTION(EDefault, EOpenComm)
QV_EXCEPTION(EHardware, EOpenComm)
QV_EXCEPTION(EMemory, EOpenComm)
QV_EXCEPTION(ECommNotOpen, EOpenComm)
QV_EXCEPTION(EAlreadyOpen, EOpenComm)
QV_EXCEPTION(ENoHandles, EOpenComm)
QV_EXCEPTION(ENoTimers, EOpenComm)
QV_EXCEPTION(ENoPortSelected, EOpenComm)
QV_EXCEPTION(ENotOpenedByTapi, EOpenComm)

QV_EXCEPTION(ESerialIO, EQvException)
QV_EXCEPTION(ENullApi, ESerialIO)
QV_EXCEPTION(ERegisterHandlerFailed, ESerialIO)
QV_EXCEPTION(EPutBlockFail, ESerialIO)
QV_EXCEPTION(EGetBlockFail, ESerialIO)
QV_EXCEPTION(EOutputBufferTooSmall, ESerialIO)
QV_EXCEPTION(EBufferIsEmpty, ESerialIO)
QV_EXCEPTION(ETracingNotEnabled, ESerialIO)
QV_EXCEPTION(ELoggingNotEnabled, ESerialIO)
QV_EXCEPTION(EBaseAddressNotSet, ESerialIO)

QV_EXCEPTION(EModem, EQvException)
QV_EXCEPTION(EModemNotStarted, EModem)
QV_EXCEPTION(EModemBusy, EModem)
QV_EXCEPTION(EModemNotDialing, EModem)
QV_EXCEPTION(EModemNotResponding, EModem)
QV_EXCEPTION(EModemRejectedCommand, EModem)
QV_EXCEPTION(EModemStatusMismatch, EModem)
QV_EXCEPTION(ENotDialing, EModem)
QV_EXCEPTION(EAlreadyDialing, EModem)

QV_EXCEPTION(ETrigger, EQvException)
QV_EXCEPTION(ETriggerTooLong, ETrigger)
QV_EXCEPTION(EBadTriggerHandle, ETrigger)

QV_EXCEPTION(EProtocol, EQvException)

QV_EXCEPTION(EINI, EQvException)
QV_EXCEPTION(EKeyTooLong, EINI)
QV_EXCEPTION(EDataTooLarge, EINI)
QV_EXCEPTION(EIniWrite, EINI)
QV_EXCEPTION(EIniRead, EINI)
QV_EXCEPTION(ERecordExists, EINI)
QV_EXCEPTION(ERecordNotFound, EINI)
QV_EXCEPTION(EDatabaseFull, EINI)
QV_EXCEPTION(EDatabaseEmpty, EINI)
QV_EXCEPTION(EBadFieldList, EINI)
QV_EXCEPTION(EBadFieldForIndex, EINI)

QV_EXCEPTION(EFax, EQvException)
QV_EXCEPTION(EFaxBadFormat, EFax)
QV_EXCEPTION(ECantMakeBitmap, EFax)
QV_EXCEPTION(EFaxBadMachine, EFax)
QV_EXCEPTION(EFaxBadModemResult, EFax)
QV_EXCEPTION(EFaxTrainError, EFax)
QV_EXCEPTION(EFaxInitError, EFax)
QV_EXCEPTION(EFaxBusy, EFax)
QV_EXCEPTION(EFaxVoiceCall, EFax)
QV_EXCEPTION(EFaxDataCall, EFax)
QV_EXCEPTION(EFaxNoDialTone, EFax)
QV_EXCEPTION(EFaxNoCarrier, EFax)
QV_EXCEPTION(EFaxSessionError, EFax)
QV_EXCEPTION(EFaxPageError, EFax)

QV_EXCEPTION(EStringResourceError, EQvException)

// The table engine's errors: a positive code of its own (error_codes.h) and a text naming the
// file or expression involved. The data set layer above raises EDatabaseError, also of this tree.
QV_EXCEPTION(EXBaseError, EQvException)

#undef QV_EXCEPTION

// Throws the exception that belongs to a negative code (the code's text as its message).
[[noreturn]] void RaiseError(int code);

// Returns code unchanged when it is not negative or the component is still loading; otherwise
// raises the exception that belongs to the code.
int RaiseOnError(int code, bool componentLoading = false);

// The reverse mapping, where an exception has to become a result code: an EQvException gives its
// code, an EInOutError minus its I/O code, out of memory -8, anything else -9999.
int ErrorCodeFromException(const std::exception& e);
int ErrorCodeFromException(std::exception_ptr e);

inline constexpr int kUnknownExceptionCode = -9999;

}  // namespace qv::core
