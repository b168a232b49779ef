#pragma once
#include <string>

namespace mirava::engine::platform {

// The resolved folder of the running executable, with a trailing "/".
std::string ExecutableFolder();

}  // namespace mirava::engine::platform
