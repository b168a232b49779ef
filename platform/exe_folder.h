#pragma once
#include <string>

namespace mirava::platform {

// The resolved folder of the running executable, with a trailing "/".
std::string ExecutableFolder();

}  // namespace mirava::platform
