#pragma once
// Reads RTF as common word processors write it into a Document. Hostile input (unbalanced
// braces, deep nesting, huge pictures, bad hex) gives an error and an untouched output document.

#include <string>
#include <string_view>

#include "rtf/rtf_document.h"

namespace qv::rtf {

struct ReadResult {
  int code = 0;                  // 0, or a negative core error code
  std::string message;           // what was wrong, for the user
  int skippedPictures = 0;       // pictures in kinds we do not keep (shown as a placeholder)
  explicit operator bool() const { return code == 0; }
};

// Limits that keep a damaged or hostile memo from exhausting the machine.
inline constexpr int kMaxGroupDepth = 1000;
inline constexpr size_t kMaxPictureBytes = 32u * 1024 * 1024;

// On failure `out` is left as it was.
ReadResult ReadRtf(std::string_view rtf, Document& out);

}  // namespace qv::rtf
