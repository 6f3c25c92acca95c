#pragma once

#include <string>

namespace qv::faximage {

// Appends the pages of fax file `b` to fax file `a` (both QVF): b's bytes from its FirstPageOffset
// to its end go right after a's last page, and a's PageCount grows by b's; a's header keeps
// everything else. Returns 0 or a negative code: the file-not-found error when either file is
// missing, ecFaxBadFormat when either is not a QVF file or a's page chain runs past its end or the
// page count would overflow. On any failure `a` is left with its old pages and size; `b` is never
// changed.
int AppendFaxFile(const std::string& a, const std::string& b);

}  // namespace qv::faximage
