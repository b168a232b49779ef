#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include "platform/desktop_open.h"
#include "platform/windows_text.h"

namespace mirava::platform {

void OpenWithDesktop(const std::string& path) noexcept {
  // The shell's "open" verb starts whatever the user has for the file; like the other builds,
  // the outcome is not examined.
  try {
    ShellExecuteW(nullptr, L"open", platform::windows::Wide(path).c_str(), nullptr, nullptr,
                  SW_SHOWNORMAL);
  } catch (...) {
  }
}

}  // namespace mirava::platform
