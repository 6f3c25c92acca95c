#include "faximage/file_errors.h"

#include <cerrno>
#include <filesystem>

#include "core/error_codes.h"

namespace qv::faximage {

using namespace qv::core;

int FileErrorFromErrno(int err, bool writing) {
  switch (err) {
    case 0:
      return writing ? ecDeviceWriteError : ecDeviceReadError;
    case ENOENT:
      return ecFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ecPathNotFound;
    case EMFILE:
    case ENFILE:
      return ecTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ecAccessDenied;
    case ENOMEM:
      return ecOutOfMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ecDiskFull;
    default:
      return writing ? ecDeviceWriteError : ecDeviceReadError;
  }
}

int OpenErrorFromErrno(int err, const std::string& path, bool writing) {
  if (err == ENOENT) {
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) return ecPathNotFound;
  }
  return FileErrorFromErrno(err, writing);
}

}  // namespace qv::faximage
