#pragma once

#include <cstdint>
#include <string>

namespace qv::faximage {

// Turns an errno value into the negated file-system code the fax image routines report
// (-2 file not found, -5 access denied, -101 disk full, ...). `writing` picks the device code
// used for plain I/O errors (-160 write, -161 read).
int FileErrorFromErrno(int err, bool writing);

// The same for a failed open of `path`: a missing file in a missing folder is "path not found"
// (-3) rather than "file not found" (-2).
int OpenErrorFromErrno(int err, const std::string& path, bool writing);

}  // namespace qv::faximage
