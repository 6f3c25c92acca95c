#pragma once

// Library result codes: 0 is success, every failure a negative number. The text of a code is the
// error table's text under its magnitude (see error_text.h).
namespace qv::core {

inline constexpr int ecOK = 0;

// File system: negated run-time I/O codes.
inline constexpr int ecFileNotFound = -2;
inline constexpr int ecPathNotFound = -3;
inline constexpr int ecTooManyOpenFiles = -4;
inline constexpr int ecAccessDenied = -5;
inline constexpr int ecInvalidFileHandle = -6;
inline constexpr int ecOutOfMemory = -8;
inline constexpr int ecInvalidDrive = -15;
inline constexpr int ecNoMoreFiles = -18;
inline constexpr int ecReadPastEof = -100;
inline constexpr int ecDiskFull = -101;
inline constexpr int ecFileNotAssigned = -102;
inline constexpr int ecFileNotOpen = -103;
inline constexpr int ecFileNotOpenForInput = -104;
inline constexpr int ecFileNotOpenForOutput = -105;
inline constexpr int ecWriteProtected = -150;
inline constexpr int ecDriveNotReady = -152;
inline constexpr int ecDataError = -154;
inline constexpr int ecSeekError = -156;
inline constexpr int ecDeviceWriteError = -160;
inline constexpr int ecDeviceReadError = -161;
inline constexpr int ecGeneralFailure = -162;

// General.
inline constexpr int ecBadHandle = -1001;
inline constexpr int ecBadArgument = -1002;
inline constexpr int ecGotQuitMsg = -1003;
inline constexpr int ecBufferTooBig = -1004;
inline constexpr int ecPortNotAssigned = -1005;
inline constexpr int ecInternal = -1006;
inline constexpr int ecModemNotAssigned = -1007;
inline constexpr int ecPhonebookNotAssigned = -1008;
inline constexpr int ecCannotUseWithWinSock = -1009;  // kept for its text: no WinSock layer here

// Opening a port.
inline constexpr int ecBadId = -2001;
inline constexpr int ecBaudRate = -2002;
inline constexpr int ecByteSize = -2003;
inline constexpr int ecDefault = -2004;
inline constexpr int ecHardware = -2005;
inline constexpr int ecMemory = -2006;
inline constexpr int ecCommNotOpen = -2007;
inline constexpr int ecAlreadyOpen = -2008;
inline constexpr int ecNoHandles = -2009;
inline constexpr int ecNoTimers = -2010;
inline constexpr int ecNoPortSelected = -2011;
inline constexpr int ecNotOpenedByTapi = -2012;

// Serial I/O.
inline constexpr int ecNullApi = -3001;
inline constexpr int ecNotSupported = -3002;
inline constexpr int ecRegisterHandlerFailed = -3003;
inline constexpr int ecPutBlockFail = -3004;
inline constexpr int ecGetBlockFail = -3005;
inline constexpr int ecOutputBufferTooSmall = -3006;
inline constexpr int ecBufferIsEmpty = -3007;
inline constexpr int ecTracingNotEnabled = -3008;
inline constexpr int ecLoggingNotEnabled = -3009;
inline constexpr int ecBaseAddressNotSet = -3010;

// Modem.
inline constexpr int ecModemNotStarted = -4001;
inline constexpr int ecModemBusy = -4002;
inline constexpr int ecModemNotDialing = -4003;
inline constexpr int ecNotDialing = -4004;
inline constexpr int ecAlreadyDialing = -4005;
inline constexpr int ecModemNotResponding = -4006;
inline constexpr int ecModemRejectedCommand = -4007;
inline constexpr int ecModemStatusMismatch = -4008;

// Triggers.
inline constexpr int ecNoMoreTriggers = -5001;
inline constexpr int ecTriggerTooLong = -5002;
inline constexpr int ecBadTriggerHandle = -5003;

// Protocol sessions.
inline constexpr int ecCancelRequested = -6005;
inline constexpr int ecFatalTimeout = -6006;
inline constexpr int ecTooManyErrors = -6008;
inline constexpr int ecSequenceError = -6009;
inline constexpr int ecNoFilename = -6010;
inline constexpr int ecFileRejected = -6011;

// Settings database.
inline constexpr int ecKeyTooLong = -7001;
inline constexpr int ecDataTooLarge = -7002;
inline constexpr int ecIniWrite = -7004;
inline constexpr int ecIniRead = -7005;
inline constexpr int ecRecordExists = -7007;
inline constexpr int ecRecordNotFound = -7008;
inline constexpr int ecDatabaseFull = -7010;
inline constexpr int ecDatabaseEmpty = -7011;
inline constexpr int ecBadFieldList = -7013;
inline constexpr int ecBadFieldForIndex = -7014;

// Fax images: converter, unpacker, viewer.
inline constexpr int ecFaxBadFormat = -8001;         // "File is not an QVF file"
inline constexpr int ecUnsupportedFormat = -8002;    // "Unsupported graphics file format"
inline constexpr int ecUserAbortConvert = -8003;     // "User aborted fax conversion"
inline constexpr int ecCantMakeBitmap = -8005;       // "CreateBitmapIndirect API failure"
inline constexpr int ecNoImageLoaded = -8050;        // "No image loaded into viewer"
inline constexpr int ecNoImageBlockMarked = -8051;   // "No block of image marked"
inline constexpr int ecFontFileNotFound = -8052;     // "QVFAX.FNT not found, or resource bad"
inline constexpr int ecBmpTooTall = -8054;           // "BMP size exceeds Windows' maxheight of 32767"
inline constexpr int ecEnhFontTooBig = -8055;        // "Font selected for enhanced text converter too large"

// Fax sessions.
inline constexpr int ecFaxBadMachine = -8060;
inline constexpr int ecFaxBadModemResult = -8061;
inline constexpr int ecFaxTrainError = -8062;
inline constexpr int ecFaxInitError = -8063;
inline constexpr int ecFaxBusy = -8064;
inline constexpr int ecFaxVoiceCall = -8065;
inline constexpr int ecFaxDataCall = -8066;
inline constexpr int ecFaxNoDialTone = -8067;
inline constexpr int ecFaxNoCarrier = -8068;
inline constexpr int ecFaxSessionError = -8069;
inline constexpr int ecFaxPageError = -8070;
inline constexpr int ecFaxNoAnswer = -8074;

// The table engine: positive codes of its own numbering, which users see in its messages
// ("File Open Error" is 11011). ErrorCode() of an EXBaseError is one of these.
inline constexpr int ecNumberTooWide = 10019;      // a number does not fit its numeric field
inline constexpr int ecTableOpenFailed = 11011;    // "File Open Error"
inline constexpr int ecTableInUse = 11012;         // another process or work area holds the table
inline constexpr int ecTableCorrupt = 11020;
inline constexpr int ecMemoCorrupt = 11021;
inline constexpr int ecIndexCorrupt = 11022;
inline constexpr int ecTableWriteFailed = 11030;
inline constexpr int ecTableReadFailed = 11031;
inline constexpr int ecTableReadOnly = 11032;
inline constexpr int ecTableBadField = 11040;
inline constexpr int ecTableBadArgument = 11041;
inline constexpr int ecNoWorkArea = 11050;
inline constexpr int ecNoRecord = 11051;
inline constexpr int ecExprSyntax = 11060;
inline constexpr int ecExprType = 11061;
inline constexpr int ecExprUnknownName = 11062;
inline constexpr int ecTagNotFound = 11070;
inline constexpr int ecTableCreateFailed = 11080;

}  // namespace qv::core
