// libFuzzer target: the text reader through a whole conversion.
#include "fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv::faximage;
  fuzz::ConvertInput(data, size, idText, coDoubleWidth | coCenterImage | coHalfHeight);
  return 0;
}
