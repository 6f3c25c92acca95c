// Session descriptions from a far end or a stranger: parsed, then chosen from, as an offer is.
#include <cstddef>
#include <cstdint>
#include <string>

#include "line/sdp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::line::SdpSession s;
  if (qv::line::ParseSdp(std::string(reinterpret_cast<const char*>(data), size), s).empty()) {
    const qv::line::SdpMedia* audio = nullptr;
    if (qv::line::ChooseG711(s, &audio) >= 0 && (audio == nullptr || audio->port <= 0 || audio->port > 65535))
      __builtin_trap();
  }
  return 0;
}
