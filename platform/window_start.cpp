#include <cstdio>

#include "platform/window_start.h"

namespace mirava::platform {

std::optional<std::string> WindowPluginFile() {
  return std::nullopt;
}

void ShowSystemMessage(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace mirava::platform
