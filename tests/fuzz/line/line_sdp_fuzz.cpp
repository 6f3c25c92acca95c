// Session descriptions from a far end or a stranger: parsed, then chosen from, as an offer is
// (the G.711 audio and the T.38 image stream with its attributes).
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
    const qv::line::SdpMedia* image = nullptr;
    qv::line::T38Params p;
    if (qv::line::ChooseT38(s, &image, p).empty()) {
      if (image == nullptr || image->port <= 0 || p.version < 0 || p.version > 3 || p.maxDatagram < 16)
        __builtin_trap();
      const auto answer = qv::line::AnswerT38(p, qv::line::T38Params{});
      if (answer.version > p.version || answer.maxBitRate > p.maxBitRate) __builtin_trap();
    }
  }
  return 0;
}
