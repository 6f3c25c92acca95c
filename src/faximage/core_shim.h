#pragma once
// TODO core name: temporary stand-in until core/error_codes.h lands on main; removed after merging.
namespace qv::core {
inline constexpr int ecOK = 0;
inline constexpr int ecFileNotFound = -2;
inline constexpr int ecPathNotFound = -3;
inline constexpr int ecTooManyOpenFiles = -4;
inline constexpr int ecAccessDenied = -5;
inline constexpr int ecOutOfMemory = -8;
inline constexpr int ecReadPastEof = -100;
inline constexpr int ecDiskFull = -101;
inline constexpr int ecDeviceWriteError = -160;
inline constexpr int ecDeviceReadError = -161;
inline constexpr int ecGeneralFailure = -162;
inline constexpr int ecBadArgument = -1002;
inline constexpr int ecGotQuitMsg = -1003;
}  // namespace qv::core
