#pragma once
// Texts of the main window shown by more than one command.

namespace qv::app {

inline constexpr const char* kGuardText =
    "You are in Fax Receive mode. This operation cannot be done\rwhile in Fax Receive mode. "
    "Click the Stop button to end\rFax Receive mode";
inline constexpr const char* kSendGuardText =
    "You are in Fax Receive mode. You cannot send\rwhile in Fax Receive mode. Click the Stop "
    "button to end\rFax Receive mode";
inline constexpr const char* kSwitchToOutgoingText =
    "Please switch to the Outgoing Faxes tab\rand highlight a fax to send";
inline constexpr const char* kOpenFaxFailedText =
    "Unable to open/create the FAX datafile - closing program";
inline constexpr const char* kOpenRecFailedText =
    "Unable to open/create the FAX RECEIVE datafile - closing program";
inline constexpr const char* kReindexText = "The log files need to be reindexed.\rDo this now?";
inline constexpr const char* kReindexCaption = "REINDEX";
inline constexpr const char* kReceivingExitText = "You are receiving a fax. Exit the program?";
inline constexpr const char* kFaxFileMissingText = "Fax file is missing";
inline constexpr const char* kPreparingViewText = "Preparing files for viewing...";
inline constexpr const char* kLoadingViewerText = "Loading viewer...";
inline constexpr const char* kCreateFaxFailedText = "Error creating fax file";
// The practice line: the choice in the quick setup and the preferences, and the window's note.
inline constexpr const char* kPracticeLineChoiceText = "Practice line (no modem, no Internet line): faxes go to this computer only";
inline constexpr const char* kPracticeLineNote = "Practice line: faxes go to this computer only";

}  // namespace qv::app
