#include <windows.h>

#include "platform/window_start.h"
#include "platform/windows_text.h"

namespace mirava::platform {

std::optional<std::string> WindowPluginFile() {
  return "platforms\\qwindows.dll";
}

void ShowSystemMessage(const std::string& caption, const std::string& text) {
  MessageBoxW(nullptr, windows::Wide(text).c_str(), windows::Wide(caption).c_str(), MB_OK);
}

}  // namespace mirava::platform
