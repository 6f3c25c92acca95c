#include "app/flows/modem_routines.h"

#include "app/flows/message_pump.h"
#include "app/store/settings.h"
#include "comm/com_port.h"
#include "core/error_codes.h"
#include "core/exceptions.h"
#include "core/string_table.h"
#include "core/ticks.h"

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <exception>
#include <thread>

namespace qv::app {

namespace {

constexpr int kFormQueueSize = 8192;
constexpr int kFormBufferFull = 7372;
constexpr int kFormBufferResume = 819;
constexpr int kFormTraceSize = 32000;
constexpr auto kPauseSlice = std::chrono::milliseconds(5);
const char* const kCr = "\r";
constexpr int kPermissionDenied = EACCES;  // an I/O error carries the system number

std::string Trimmed(const std::string& s) {
  const auto first = std::find_if_not(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c); });
  const auto last = std::find_if_not(s.rbegin(), s.rend(), [](unsigned char c) { return std::isspace(c); }).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Sends a command line and waits for "OK"; a port exception is no answer.
bool CommandGetsOk(comm::TQvComPort& port, const std::string& line) {
  try {
    port.SendText(line + kCr);
    return port.AwaitString("OK", kModemReplyTicks, false, true);
  } catch (...) {
    return false;
  }
}

// Matches "OK" (any case) in one port's input while several ports are read in turn.
struct OkMatcher {
  comm::TQvComPort* port = nullptr;
  size_t matched = 0;
  bool answered = false;
  bool failed = false;
};

// A chattering device must not starve the other ports of their turn.
constexpr int kCharsPerTurn = 4096;

void SendToAll(std::vector<OkMatcher>& ports, const std::string& line) {
  for (OkMatcher& m : ports) {
    if (m.answered || m.failed) continue;
    m.matched = 0;
    try {
      m.port->SendText(line + kCr);
    } catch (...) {
      m.failed = true;
    }
  }
}

// Reads every port still waiting until each has answered or the reply time is over.
void AwaitOkOnAll(std::vector<OkMatcher>& ports) {
  static const std::string kOk = "OK";
  core::EventTimer timer;
  core::NewTimer(timer, kModemReplyTicks);
  while (true) {
    bool waiting = false;
    for (OkMatcher& m : ports) {
      if (m.answered || m.failed) continue;
      try {
        for (int n = 0; n < kCharsPerTurn && !m.answered && m.port->CharWaiting(); ++n) {
          const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(m.port->TakeChar())));
          if (c == kOk[m.matched]) {
            m.answered = ++m.matched == kOk.size();
          } else {
            m.matched = c == kOk[0] ? 1 : 0;
          }
        }
      } catch (...) {
        m.failed = true;
      }
      waiting = waiting || (!m.answered && !m.failed);
    }
    if (!waiting || core::TimerTicksExpired(timer)) return;
    PumpMessages();
    std::this_thread::sleep_for(kPauseSlice);
  }
}

}  // namespace

void ConfigureFormPort(comm::TQvComPort& port) {
  port.SetComNumber(1);
  port.SetPromptForPort(false);
  port.SetInSize(kFormQueueSize);
  port.SetOutSize(kFormQueueSize);
  port.SetAutoOpen(false);
  port.SetHWFlowOptions(comm::hwfUseRTS | comm::hwfRequireCTS);
  port.SetBufferFull(kFormBufferFull);
  port.SetBufferResume(kFormBufferResume);
  port.SetTraceSize(kFormTraceSize);
  port.SetTraceName("QVCOMM.TRC");
  port.SetLogName("QVCOMM.LOG");
  port.SetTapiMode(comm::tmOff);
}

void PauseTicks(int ticks) {
  core::EventTimer timer;
  core::NewTimer(timer, ticks);
  while (!core::TimerTicksExpired(timer)) {
    PumpMessages();
    std::this_thread::sleep_for(kPauseSlice);
  }
}

bool ResetModem(comm::TQvComPort& port) { return CommandGetsOk(port, "AT&F"); }

bool ModemResponds(comm::TQvComPort& port) {
  PauseTicks(kPortSettleTicks);
  if (CommandGetsOk(port, "AT")) return true;
  // Some modems ignore a bare "AT" until they have been reset their own way.
  const std::string reset = Trimmed(Settings().ResetString);
  return !reset.empty() && CommandGetsOk(port, reset);
}

std::vector<bool> ModemsRespond(const std::vector<comm::TQvComPort*>& ports) {
  std::vector<OkMatcher> matchers;
  for (comm::TQvComPort* p : ports) matchers.push_back(OkMatcher{p});
  PauseTicks(kPortSettleTicks);
  SendToAll(matchers, "AT");
  AwaitOkOnAll(matchers);
  const std::string reset = Trimmed(Settings().ResetString);
  if (!reset.empty()) {
    SendToAll(matchers, reset);
    AwaitOkOnAll(matchers);
  }
  std::vector<bool> out;
  for (const OkMatcher& m : matchers) out.push_back(m.answered);
  return out;
}

bool SendInitString(comm::TQvComPort& port, const std::string& text) {
  const std::string line = Upper(text).find("AT") == std::string::npos ? "AT" + text : text;
  return CommandGetsOk(port, line);
}

bool OpenPortWithMessage(comm::TQvComPort& port, std::string& message) {
  const std::string n = std::to_string(port.ComNumber());
  const std::string cannot = "Unable to open the specified communications port ( Com" + n + " )";
  try {
    port.SetOpen(true);
    message.clear();
    return port.Open();
  } catch (const core::EQvException& e) {
    const int code = e.ErrorCode();
    if (code == core::ecAlreadyOpen || code == core::ecHardware) {
      message = "The communications port is in use ( Com " + n + " )\r\n\r\n"
                "Please make sure that all communication programs (internet, AOL, etc) are "
                "closed, and then try again.";
    } else if (code == core::ecBadId) {
      message = cannot;
    } else {
      const std::string text = core::QvErrorString(code < 0 ? -code : code);
      message = cannot + "\r\nError message: " + (text.empty() ? std::string("Unknown error") : text);
    }
  } catch (const core::EInOutError& e) {
    message = "Unable to open the specified communications port( Com " + n + " )\r\nError message: " + e.what();
    // The usual first stumble on Linux: serial devices belong to the "dialout" group.
    if (e.ErrorCode() == kPermissionDenied)
      message += "\r\n\r\nYour user needs to be a member of the \"dialout\" group to use serial "
                 "ports (sudo adduser $USER dialout, then log in again).";
  } catch (const std::exception& e) {
    message = "Unable to open the specified communications port( Com " + n + " )\r\nError message: " + e.what();
  } catch (...) {
    message = "Unable to open the specified communications port( Com " + n + " )\r\nError message: Unknown error";
  }
  return false;
}

}  // namespace qv::app
