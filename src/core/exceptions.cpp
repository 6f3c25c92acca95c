#include "core/exceptions.h"

#include "core/error_codes.h"
#include "core/error_text.h"

#include <new>

namespace qv::core {

namespace {

template <class E>
[[noreturn]] void raise(int code) {
  throw E(ErrorText(code), code);
}

}  // namespace

void RaiseError(int code) {
  if (code >= 0) raise<EQvException>(code);
  if (code == ecOutOfMemory) throw EOutOfMemory();
  if (code <= -2 && code >= -162) throw EInOutError(ErrorText(code), -code);
  if (code >= -4008 && code <= -4001) {
    switch (code) {
      case -4001: raise<EModemNotStarted>(code);
      case -4002: raise<EModemBusy>(code);
      case -4003: raise<EModemNotDialing>(code);
      case -4004: raise<ENotDialing>(code);
      case -4005: raise<EAlreadyDialing>(code);
      case -4006: raise<EModemNotResponding>(code);
      case -4007: raise<EModemRejectedCommand>(code);
      default: raise<EModemStatusMismatch>(code);
    }
  }
  switch (code) {
    case ecBadArgument: raise<EBadArgument>(code);
    case ecGotQuitMsg: raise<EGotQuitMsg>(code);
    case ecBufferTooBig: raise<EBufferTooBig>(code);
    case ecPortNotAssigned: raise<EPortNotAssigned>(code);
    case ecInternal:
    case -7003:
    case -7006:
    case -7012: raise<EInternal>(code);
    case ecModemNotAssigned: raise<EModemNotAssigned>(code);
    case ecPhonebookNotAssigned: raise<EPhonebookNotAssigned>(code);
    case ecCannotUseWithWinSock: raise<EGeneral>(code);  // no WinSock layer: nothing raises it here
    case ecBadId: raise<EBadId>(code);
    case ecBaudRate: raise<EBaudRate>(code);
    case ecByteSize: raise<EByteSize>(code);
    case ecDefault: raise<EDefault>(code);
    case ecHardware: raise<EHardware>(code);
    case ecMemory: raise<EMemory>(code);
    case ecCommNotOpen: raise<ECommNotOpen>(code);
    case ecAlreadyOpen: raise<EAlreadyOpen>(code);
    case ecNoHandles: raise<ENoHandles>(code);
    case ecNoTimers: raise<ENoTimers>(code);
    case ecNoPortSelected: raise<ENoPortSelected>(code);
    case ecNotOpenedByTapi: raise<ENotOpenedByTapi>(code);
    case ecNullApi: raise<ENullApi>(code);
    case ecRegisterHandlerFailed: raise<ERegisterHandlerFailed>(code);
    case ecPutBlockFail: raise<EPutBlockFail>(code);
    case ecGetBlockFail: raise<EGetBlockFail>(code);
    case ecOutputBufferTooSmall: raise<EOutputBufferTooSmall>(code);
    case ecBufferIsEmpty: raise<EBufferIsEmpty>(code);
    case ecTracingNotEnabled: raise<ETracingNotEnabled>(code);
    case ecLoggingNotEnabled: raise<ELoggingNotEnabled>(code);
    case ecBaseAddressNotSet: raise<EBaseAddressNotSet>(code);
    case ecTriggerTooLong: raise<ETriggerTooLong>(code);
    case ecBadTriggerHandle: raise<EBadTriggerHandle>(code);
    case ecFatalTimeout:
    case ecTooManyErrors:
    case ecSequenceError: raise<EProtocol>(code);
    case ecKeyTooLong: raise<EKeyTooLong>(code);
    case ecDataTooLarge: raise<EDataTooLarge>(code);
    case ecIniWrite: raise<EIniWrite>(code);
    case ecIniRead: raise<EIniRead>(code);
    case ecRecordExists: raise<ERecordExists>(code);
    case ecRecordNotFound: raise<ERecordNotFound>(code);
    case ecDatabaseFull: raise<EDatabaseFull>(code);
    case ecDatabaseEmpty: raise<EDatabaseEmpty>(code);
    case ecBadFieldList: raise<EBadFieldList>(code);
    case ecBadFieldForIndex: raise<EBadFieldForIndex>(code);
    case ecFaxBadFormat: raise<EFaxBadFormat>(code);
    case ecCantMakeBitmap: raise<ECantMakeBitmap>(code);
    case ecFaxBadMachine: raise<EFaxBadMachine>(code);
    case ecFaxBadModemResult: raise<EFaxBadModemResult>(code);
    case ecFaxTrainError: raise<EFaxTrainError>(code);
    case ecFaxInitError: raise<EFaxInitError>(code);
    case ecFaxBusy: raise<EFaxBusy>(code);
    case ecFaxVoiceCall: raise<EFaxVoiceCall>(code);
    case ecFaxDataCall: raise<EFaxDataCall>(code);
    case ecFaxNoDialTone: raise<EFaxNoDialTone>(code);
    case ecFaxNoCarrier: raise<EFaxNoCarrier>(code);
    case ecFaxSessionError: raise<EFaxSessionError>(code);
    case ecFaxPageError: raise<EFaxPageError>(code);
    default: break;
  }
  if (code <= -8001 && code >= -8070) raise<EFax>(code);
  if (code <= -13801 && code >= -13942) raise<EQvException>(code);  // telephony codes keep their texts
  throw EQvException("Library exception", 0);
}

int RaiseOnError(int code, bool componentLoading) {
  if (code >= 0 || componentLoading) return code;
  RaiseError(code);
}

int ErrorCodeFromException(const std::exception& e) {
  if (auto* q = dynamic_cast<const EQvException*>(&e)) return q->ErrorCode();
  if (auto* io = dynamic_cast<const EInOutError*>(&e)) return -io->ErrorCode();
  if (dynamic_cast<const std::bad_alloc*>(&e)) return ecOutOfMemory;
  return kUnknownExceptionCode;
}

int ErrorCodeFromException(std::exception_ptr e) {
  if (!e) return ecOK;
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ErrorCodeFromException(ex);
  } catch (...) {
    return kUnknownExceptionCode;
  }
}

}  // namespace qv::core
