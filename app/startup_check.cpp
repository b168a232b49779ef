#include "app/startup_check.h"

#include <optional>

#include "config/folder_checks.h"
#include "platform/window_start.h"

namespace mirava::app {

bool PassesStartupFolderCheck(const std::string& folder) {
  const std::optional<std::string> plugin = platform::WindowPluginFile();
  if (!plugin) {
    return true;
  }
  const std::optional<std::string> failure = config::FailedStartupCheck(folder, *plugin);
  if (!failure) {
    return true;
  }
  // No window library yet: the system's own box, with the caption of the window's.
  platform::ShowSystemMessage(config::kFolderCheckCaption, *failure);
  return false;
}

}  // namespace mirava::app
