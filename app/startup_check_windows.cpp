#include <windows.h>

#include <optional>

#include "app/startup_check.h"
#include "config/folder_checks.h"
#include "output/windows_text.h"

namespace mirava::app {

bool PassesStartupFolderCheck(const std::string& folder) {
  const std::optional<std::string> failure =
      config::FailedStartupCheck(folder, "platforms\\qwindows.dll");
  if (!failure) {
    return true;
  }
  // No Qt yet: the system's own box, with the caption and buttons of the window's.
  using output::windows::Wide;
  MessageBoxW(nullptr, Wide(*failure).c_str(), Wide(config::kFolderCheckCaption).c_str(), MB_OK);
  return false;
}

}  // namespace mirava::app
