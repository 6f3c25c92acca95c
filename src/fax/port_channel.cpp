#include "fax/port_channel.h"

#include "core/exceptions.h"

#if __has_include("comm/com_port.h")
#error "port channel over the comm library not written yet"
#else
namespace qv::fax {
std::unique_ptr<FaxChannel> MakePortChannel(comm::TQvComPort*) { core::RaiseError(-1005); }
void ApplyFaxPortSettings(comm::TQvComPort*) {}
}  // namespace qv::fax
#endif
