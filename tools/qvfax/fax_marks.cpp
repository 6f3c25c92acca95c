#include "fax_marks.h"

#include <iostream>

#include "faximage/marks_file.h"

namespace qv::qvfax {

bool MarksBesideFax(const std::string& command, const std::string& faxFile, bool wanted,
                    std::shared_ptr<const qv::faximage::FaxMarks>& out) {
  using namespace qv::faximage;
  out.reset();
  if (!wanted) return true;
  auto marks = std::make_shared<FaxMarks>();
  MarksError error;
  switch (LoadMarks(faxFile, *marks, error)) {
    case MarksLoad::None:
      return true;
    case MarksLoad::Loaded:
      if (!marks->empty()) out = std::move(marks);
      return true;
    case MarksLoad::Damaged:
      break;
  }
  std::cerr << "qvfax " << command << ": the marks file " << MarksFileName(faxFile) << " cannot be read ("
            << error.Describe() << "); use --no-marks for the fax without its marks\n";
  return false;
}

}  // namespace qv::qvfax
