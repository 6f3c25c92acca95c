#pragma once

#include <string>

// The library's message texts, compiled in under the ids the program has always used:
//  - the error table ("QV_ERROR_STRINGS_ENGLISH"): error texts under the code's magnitude and the
//    dispatch-log vocabulary (15001 + event type, 15100 + subtype, 15130 + transmit state,
//    15179 + receive state, 15501/15502 the log's column header and rule);
//  - the fax table ("QV_FAX_STRINGS_ENGLISH"): fax status texts under the status code;
//  - the string manager's own messages ("QVSTRMGR_STRINGS").
// A missing id reads as an empty text.
namespace qv::core {

std::string QvErrorString(int id);
std::string QvFaxString(int id);
std::string QvStrMgrString(int id);

// Ids of the dispatch-log vocabulary.
inline constexpr int kLogTypeNameBase = 15001;
inline constexpr int kLogSubtypeNameBase = 15100;
inline constexpr int kLogTransmitStateBase = 15130;  // subtype 30 + state
inline constexpr int kLogReceiveStateBase = 15179;   // subtype 79 + state
inline constexpr int kLogColumnHeader = 15501;
inline constexpr int kLogColumnRule = 15502;

}  // namespace qv::core
