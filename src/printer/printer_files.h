#pragma once
// Where the fax printer's own files are: the CUPS backend and its PPD. The one place that knows:
// beside the running program (the build tree's bin/ folder, where the build puts qvfax, the
// backend and the PPD together), then where the install step puts them.

#include <string>

namespace qv::printer {

inline constexpr const char* kBackendFile = "quorvane-backend";
inline constexpr const char* kPpdFile = "quorvane.ppd";
// CUPS's own folders on Debian, where the install step puts both (the backend under the name
// "quorvane", the scheme of its device URI).
inline constexpr const char* kInstalledBackend = "/usr/lib/cups/backend/quorvane";
inline constexpr const char* kInstalledPpd = "/usr/share/ppd/quorvane/quorvane.ppd";
inline constexpr const char* kDefaultPrinterName = "Quorvane";

// The folder of the running program; empty when it cannot be told.
std::string ProgramFolder();
// The first of: beside the program, installed. Empty when neither exists.
std::string FindBackend();
std::string FindPpd();

}  // namespace qv::printer
