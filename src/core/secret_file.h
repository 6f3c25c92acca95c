#pragma once
// Secrets in files (the Internet line's SIP password when no secret service holds it): a file
// only its owner may read, written in one rename so no reader sees it half written.

#include <string>

namespace qv::core {

// Reads a secret from a file that only its owner may read: the first line, without its line
// end. "" on success, else a sentence saying why not (missing, a link, readable by others,
// someone else's, empty). The sentence never holds the secret.
std::string ReadSecretFile(const std::string& path, std::string& secret);

// Writes secret and a line end to path, created readable only by its owner, put in place by a
// rename. "" on success, else why not.
std::string WriteSecretFile(const std::string& path, const std::string& secret);

}  // namespace qv::core
