#pragma once
// What the window's start needs from the system before the window library runs.
#include <optional>
#include <string>

namespace mirava::platform {

// The window library's platform plugin, where it is a file beside the program that the library
// loads only once the program runs (Windows: platforms\qwindows.dll), so the system's loader never
// reports it missing; nothing where the plugin needs no such check.
std::optional<std::string> WindowPluginFile();

// The system's own message box with an OK button (Windows); elsewhere the text goes to standard
// error, where a program started from a terminal shows it.
void ShowSystemMessage(const std::string& caption, const std::string& text);

}  // namespace mirava::platform
