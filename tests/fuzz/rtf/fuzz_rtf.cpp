// Any bytes as an RTF memo: the reader never crashes, leaves the document alone when it refuses
// the input, and a document it accepts is written and read back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string_view>

#include "rtf/rtf_reader.h"
#include "rtf/rtf_writer.h"

using namespace qv::rtf;

namespace {

Document Sentinel() {
  Document doc;
  doc.page.marginLeft = 1;
  doc.paragraphs.emplace_back();
  return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Document doc = Sentinel();
  const ReadResult first = ReadRtf(input, doc);
  if (!first) {
    if (first.code >= 0 || first.message.empty() || !(doc == Sentinel())) std::abort();
    return 0;
  }
  const std::string written = WriteRtf(doc);
  Document again = Sentinel();
  const ReadResult second = ReadRtf(written, again);
  if (!second || second.skippedPictures != 0) {
    std::fprintf(stderr, "our own RTF refused: %s\n%s\n", second.message.c_str(), written.c_str());
    std::abort();
  }
  if (!(again == doc)) {
    std::fprintf(stderr, "round trip changed the document:\n%s\n", written.c_str());
    std::abort();
  }
  return 0;
}
