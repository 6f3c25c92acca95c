#pragma once
// The option string CUPS hands a backend (its fifth argument): "name=value" items separated by
// blanks; a value may be quoted with ' or " or carry backslash escapes, and a collection value
// "{...}" is kept whole. A bare name is "true", a bare "noname" makes name "false".

#include <map>
#include <string>
#include <string_view>

namespace qv::printer {

// Options longer than this in total are cut there: no print dialog sends more.
inline constexpr size_t kMaxOptionText = 64 * 1024;

std::map<std::string, std::string> ParseCupsOptions(std::string_view text);

}  // namespace qv::printer
