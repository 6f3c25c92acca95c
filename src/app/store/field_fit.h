#pragma once
// Text in the tables' character fields: a field holds a fixed number of bytes of UTF-8, so a cut
// must fall between characters. No toolkit here: the contact parsers use it headless.

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::app {

// The longest prefix of utf8 that fits in `bytes` without cutting a character.
std::string FitField(std::string_view utf8, size_t bytes);

}  // namespace qv::app
