#pragma once
// The cover sheet templates a new cover table starts with: a plain sheet, a business letterhead
// and a confidential notice, each with the five merge fields.

#include <string>
#include <vector>

#include "rtf/rtf_document.h"

namespace qv::app {

struct StarterTemplate {
  std::string description;  // fits DESCRIPT (35 characters)
  rtf::Document document;
};

const std::vector<StarterTemplate>& StarterTemplates();

// The document of the practice fax a new user finds in the Outgoing list when choosing the
// practice line: merge fields for its recipient, subject, date and time, and a few words on what
// it shows.
rtf::Document PracticeFaxDocument();

}  // namespace qv::app
