#include "platform/file_access.h"

namespace mirava::platform {

FileError::FileError(const std::string& path, const std::string& reason)
    : std::runtime_error(path + ": " + reason), path_(path), reason_(reason) {}

}  // namespace mirava::platform
