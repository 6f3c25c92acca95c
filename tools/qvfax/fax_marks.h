#pragma once

#include <memory>
#include <string>

#include "faximage/page_marks.h"

namespace qv::qvfax {

// The marks file found beside a fax, for the commands that draw a fax as the user sees it
// (export, print). False after telling stderr why when the file is damaged: a picture without the
// marks the user expects is a wrong result, so the command stops and names --no-marks instead.
// `out` stays nullptr when marks are not wanted or there are none.
bool MarksBesideFax(const std::string& command, const std::string& faxFile, bool wanted,
                    std::shared_ptr<const qv::faximage::FaxMarks>& out);

}  // namespace qv::qvfax
