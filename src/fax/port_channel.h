#pragma once

#include <memory>

#include "fax/fax_channel.h"

namespace qv::comm {
class TQvComPort;
class TQvBaseDispatcher;
}  // namespace qv::comm

namespace qv::fax {

// The fax channel over an open (or auto-opening) TQvComPort's dispatcher.
std::unique_ptr<FaxChannel> MakePortChannel(comm::TQvComPort* port);

// The fax channel over a dispatcher opened directly on a device.
std::unique_ptr<FaxChannel> MakeDispatcherChannel(comm::TQvBaseDispatcher* dispatcher);

// Applies the line settings a fax component wants: 8N1, 19200 bps, 8192-byte buffers,
// RTS/CTS hardware flow.
void ApplyFaxPortSettings(comm::TQvComPort* port);

}  // namespace qv::fax
