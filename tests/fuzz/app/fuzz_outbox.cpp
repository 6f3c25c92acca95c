// Any bytes as the outbox's queue file: the reader never crashes, and whatever entries it takes
// from them are written and read back unchanged, with nothing counted as damaged (so a queue that
// survived a damaged file stays whole from then on).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/store/outbox_queue.h"

using namespace qv::app;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TOutboxParse first = ParseOutbox(bytes);
  if (!first.headerOk && !first.entries.empty()) {
    std::fprintf(stderr, "entries taken from a file that is not ours\n");
    std::abort();
  }
  const TOutboxParse again = ParseOutbox(FormatOutbox(first.entries));
  if (!again.headerOk || again.damaged != 0 || !(again.entries == first.entries)) {
    std::fprintf(stderr, "the entries read do not come back as written\n");
    std::abort();
  }
  return 0;
}
