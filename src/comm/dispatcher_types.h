#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/ticks.h"

namespace qv::comm {

// Trigger messages. First parameter: trigger handle (or byte count for data available); second:
// data word + registry index x 65536.
inline constexpr uint32_t MSG_DATA_AVAILABLE = 0x7E01;
inline constexpr uint32_t MSG_PATTERN_FOUND = 0x7E02;
inline constexpr uint32_t MSG_TIMER_EXPIRED = 0x7E03;
inline constexpr uint32_t MSG_STATUS_CHANGED = 0x7E04;
// Messages of the port component.
inline constexpr uint32_t MSG_PORT_OPENED = 0x7E08;
inline constexpr uint32_t MSG_PORT_CLOSED = 0x7E09;
inline constexpr uint32_t MSG_CLOSE_PENDING = 0x7E0A;

inline constexpr int kDispatchBufferSize = 8192;  // the input ring
inline constexpr int kMaxTraceEntries = 4000000;
inline constexpr int kMaxLogBytes = 16000000;
inline constexpr int kMaxDataTriggerLength = 22;
inline constexpr int32_t kAvailTriggerHandle = 1;

// Dispatch-log entry types and subtypes; the log shows them by name (the text table's 15001 + type
// and 15100 + subtype). A trigger's firing is logged with the first group of subtypes, its
// allocation, change and removal with the second.
enum DispatchLogType : uint8_t {
  dlDispatch = 1,
  dlTrigger = 2,
  dlError = 3,
  dlTriggerAlloc = 5,
  dlTriggerDispose = 6,
  dlHandlerAlloc = 7,
  dlHandlerDispose = 8,
  dlTriggerDataChange = 9,
  dlFax = 11,
};
enum DispatchLogSubtype : uint8_t {
  dsReadCom = 1,
  dsWriteCom = 2,
  dsModemStatus = 4,
  dsAvailFired = 5,
  dsTimerFired = 6,
  dsDataFired = 7,
  dsStatusFired = 8,
  dsDataTrigger = 13,
  dsTimerTrigger = 14,
  dsStatusTrigger = 15,
  dsAvailTrigger = 16,
  dsWindowHandler = 17,
  dsProcedureHandler = 18,
  dsMethodHandler = 19,
};

// Status trigger kinds (also the low three bits of their handles).
inline constexpr int stModem = 1;
inline constexpr int stLine = 2;
inline constexpr int stOutBuffFree = 3;
inline constexpr int stOutBuffUsed = 4;
inline constexpr int stOutSent = 5;

// Line error bits.
inline constexpr uint32_t leRxOverflow = 0x01;
inline constexpr uint32_t leOverrun = 0x02;
inline constexpr uint32_t leParity = 0x04;
inline constexpr uint32_t leFraming = 0x08;
inline constexpr uint32_t leBreak = 0x10;

// Modem status byte: line states in the high nibble, change bits in the low one.
inline constexpr uint8_t msCtsDelta = 0x01;
inline constexpr uint8_t msDsrDelta = 0x02;
inline constexpr uint8_t msRingDelta = 0x04;
inline constexpr uint8_t msDcdDelta = 0x08;
inline constexpr uint8_t msCts = 0x10;
inline constexpr uint8_t msDsr = 0x20;
inline constexpr uint8_t msRing = 0x40;
inline constexpr uint8_t msDcd = 0x80;

// Device event mask bits the reader reports.
inline constexpr uint32_t evRxChar = 0x0001;
inline constexpr uint32_t evCts = 0x0008;
inline constexpr uint32_t evDsr = 0x0010;
inline constexpr uint32_t evDcd = 0x0020;
inline constexpr uint32_t evBreak = 0x0040;
inline constexpr uint32_t evError = 0x0080;
inline constexpr uint32_t evRing = 0x0100;
inline constexpr uint32_t evRingTrailing = 0x2000;

// Escape functions.
inline constexpr int escSetRts = 3;
inline constexpr int escClrRts = 4;
inline constexpr int escSetDtr = 5;
inline constexpr int escClrDtr = 6;
inline constexpr int escGetBaseAddress = 10;

// Parity codes and stop-bit codes of the line-settings block.
inline constexpr uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4;
inline constexpr uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;

// Flag word of the line-settings block.
inline constexpr uint32_t lfBinary = 0x0001;
inline constexpr uint32_t lfParity = 0x0002;
inline constexpr uint32_t lfOutxCtsFlow = 0x0004;
inline constexpr uint32_t lfOutxDsrFlow = 0x0008;
inline constexpr uint32_t lfDtrControlMask = 0x0030;
inline constexpr uint32_t lfDtrEnable = 0x0010;
inline constexpr uint32_t lfDtrHandshake = 0x0020;
inline constexpr uint32_t lfDsrSensitivity = 0x0040;
inline constexpr uint32_t lfTxContinueOnXoff = 0x0080;
inline constexpr uint32_t lfOutX = 0x0100;
inline constexpr uint32_t lfInX = 0x0200;
inline constexpr uint32_t lfNull = 0x0800;
inline constexpr uint32_t lfRtsControlMask = 0x3000;
inline constexpr uint32_t lfRtsEnable = 0x1000;
inline constexpr uint32_t lfRtsHandshake = 0x2000;
inline constexpr uint32_t lfRtsToggle = 0x3000;

// Flow option bits of SetHardwareFlow / SetSoftwareFlow.
inline constexpr int hfUseDtr = 1, hfUseRts = 2, hfRequireDsr = 4, hfRequireCts = 8;
inline constexpr int sfTransmitFlow = 1, sfReceiveFlow = 2;

// Mirror of the device's line settings.
struct TQvLineSettings {
  uint32_t BaudRate = 19200;
  uint32_t Flags = lfBinary;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = kNoParity;
  uint8_t StopBits = kOneStopBit;
  uint8_t XonChar = 17;
  uint8_t XoffChar = 19;
};

// Device status block.
struct TQvDeviceStatus {
  uint32_t Errors = 0;
  uint32_t InQue = 0;   // bytes waiting in the driver
  uint32_t OutQue = 0;  // bytes held for output
};

struct TQvTimerTrigger {
  int32_t Handle = 0;
  core::EventTimer Timer;
  int32_t Ticks = 0;
  int32_t Reserved = 1;
  int32_t Active = 0;
};

struct TQvStatusTrigger {
  int32_t Handle = 0;
  int32_t Kind = 0;
  uint16_t Value = 0;
  bool Active = false;
  bool Fired = false;
};

struct TQvDataTrigger {
  int32_t Handle = 0;
  int32_t Length = 0;
  std::array<int32_t, kMaxDataTriggerLength> Slots{};
  int32_t Matched = 0;
  int32_t IgnoreCase = 0;
  std::array<uint8_t, kMaxDataTriggerLength> Pattern{};
};

// Triggers kept across a close and re-open.
struct TQvTriggerSet {
  bool Valid = false;
  int32_t AvailThreshold = 0;
  std::vector<TQvTimerTrigger> Timers;
  std::vector<TQvDataTrigger> Data;
  std::vector<TQvStatusTrigger> Status;
  int32_t HandleCounter = 1;
};

// Legacy rate codes: 0xFEFF and 0xFF10 + i stand for the rates below; anything else for itself.
uint32_t TranslateBaud(uint32_t baud);

}  // namespace qv::comm
