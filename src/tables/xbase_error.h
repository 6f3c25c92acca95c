#pragma once
// The engine raises its errors into the core's exception tree: an EXBaseError with one of the
// table codes of core/error_codes.h and a text that names the file or the expression involved.

#include <string>

#include "core/error_codes.h"
#include "core/exceptions.h"

namespace qv::tables {

using core::EXBaseError;

[[noreturn]] inline void ThrowXb(int code, const std::string& text) { throw EXBaseError(text, code); }

}  // namespace qv::tables
