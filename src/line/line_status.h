// The status lines qvline prints on its standard output for whoever started it (the desktop's
// line flow, qvfax, a test): one line per change, plain words a person can be shown as they are.
// Header-only and free of any library so that the desktop can read the lines without linking
// the line.
#pragma once

#include <string_view>

namespace qv::line::status {

// "ready PTY LINK": the modem answers AT commands on the pty PTY (LINK is the symlink to it).
inline constexpr std::string_view kReady = "ready ";
// "registered sip:USER@DOMAIN": the registrar took our contact; calls can come in.
inline constexpr std::string_view kRegistered = "registered ";
// "registration failed: REASON", REASON one of the texts below or "refused (CODE PHRASE)".
inline constexpr std::string_view kRegistrationFailed = "registration failed: ";

// "media G.711 PCMU" (or PCMA): how the call in progress carries the fax, once it is agreed; a
// later line (the call moved to other media) replaces it. Read at the call's end for its log.
inline constexpr std::string_view kMedia = "media ";

inline constexpr std::string_view kWrongPassword = "wrong password";
inline constexpr std::string_view kNoAnswer = "no answer from the server";
inline constexpr std::string_view kDnsFailure = "DNS failure";
// "refused (CODE PHRASE)": the server's own answer, for any other refusal.
inline constexpr std::string_view kRefusedOpen = "refused (";

}  // namespace qv::line::status
