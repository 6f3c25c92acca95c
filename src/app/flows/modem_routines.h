#pragma once
// The program's dialogue with the modem outside fax sessions: reset, attention check,
// initialisation string and opening a port with a readable message. Every routine takes a port
// of the caller's and never raises: a port exception counts as no answer.

#include <string>
#include <vector>

namespace qv::comm {
class TQvComPort;
}

namespace qv::app {

// Every wait for a modem reply lasts at most this long (about 2 seconds) ...
inline constexpr int kModemReplyTicks = 36;
// ... and a freshly opened port is left alone this long first (about 0.66 seconds).
inline constexpr int kPortSettleTicks = 12;
inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 6;

// Sets a form's port up the way all the program's forms use one (port number from the settings
// before use, 8 KB queues, RTS/CTS flow, no automatic open).
void ConfigureFormPort(qv::comm::TQvComPort& port);

// Waits ticks while letting pending window messages run.
void PauseTicks(int ticks);

// "AT&F": true when "OK" arrives in time.
bool ResetModem(qv::comm::TQvComPort& port);
// After the settle pause: "AT", and when that gets no "OK" the reset string of the settings
// (trimmed, when not empty). True when either gets "OK" in time.
bool ModemResponds(qv::comm::TQvComPort& port);
// ModemResponds for several open ports at once: one settle pause, then "AT" to all and one
// common reply wait, then the reset string to those still silent and a second common wait. The
// whole round takes no longer than ModemResponds on one port, however many ports there are.
// Result i is true when ports[i] answered "OK"; a port exception counts as no answer.
std::vector<bool> ModemsRespond(const std::vector<qv::comm::TQvComPort*>& ports);
// The text ("AT" put in front when it holds none) and carriage return; true on "OK" in time.
bool SendInitString(qv::comm::TQvComPort& port, const std::string& text);
// Opens the port; on failure false and the reason as the user reads it.
bool OpenPortWithMessage(qv::comm::TQvComPort& port, std::string& message);

}  // namespace qv::app
