#pragma once

#include <string>
#include <vector>

#include "faximage/page_marks.h"

namespace qv::faximage {

// Signatures kept for reuse: one picture per file in the folder "signatures" of the data
// directory, as binary PBM (P4), readable by any picture viewer. A signature is the user's alone:
// the folder is made 0700 and every file 0600, whatever the umask says.
std::string SignatureFolder(const std::string& dataDir);

// Keeps the picture under `name` (letters, digits, space, '-' and '_'; at most 40 characters),
// replacing one of the same name; written atomically. False for a bad name, an empty picture or
// when it cannot be written.
bool SaveSignature(const std::string& dataDir, const std::string& name, const MarkPicture& picture);
// The names kept, sorted.
std::vector<std::string> SignatureNames(const std::string& dataDir);
// False when there is no such signature or its file is not a picture we wrote.
bool LoadSignature(const std::string& dataDir, const std::string& name, MarkPicture& picture);
bool RemoveSignature(const std::string& dataDir, const std::string& name);

}  // namespace qv::faximage
