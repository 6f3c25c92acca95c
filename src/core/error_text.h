#pragma once

#include <string>

namespace qv::core {

// The message for a library result code: the error table's text under the code's magnitude, or,
// when the table has none, the operating system's message for that number with control
// characters turned into spaces and runs of spaces folded to one.
std::string ErrorText(int code);

}  // namespace qv::core
