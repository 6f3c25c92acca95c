#pragma once

namespace qv::core {

// The library version every component reports as its LibVersion.
inline constexpr const char* kLibVersion = "v1.00";
inline constexpr const char* kProgramName = "Quorvane";

}  // namespace qv::core
