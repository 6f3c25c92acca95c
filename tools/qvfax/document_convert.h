#pragma once
// qvfax convert for documents the desktop renders itself (RTF memos, PDF, PNG and JPEG pictures):
// the same page renderer as the desktop, so both produce the same pages. Available when the tool
// is built with the Qt component library.

#include <string>

namespace qv::qvfax {

// True when `ext` (lower case, without the dot) is such a document kind and this build has them.
bool IsRenderedDocumentKind(const std::string& ext);
// Converts; returns the exit status (0, 1 on a failed conversion) after printing any message.
int ConvertRenderedDocument(const std::string& input, const std::string& ext,
                            const std::string& output, const std::string& stationId);

}  // namespace qv::qvfax
