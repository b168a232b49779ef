#pragma once
// The desktop's "open" for a file the run produced.
#include <string>

namespace mirava::platform {

// Asks the desktop to open `path` (xdg-open, detached); the outcome is not examined.
void OpenWithDesktop(const std::string& path) noexcept;

}  // namespace mirava::platform
