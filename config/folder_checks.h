#pragma once
// Checks of the program's folder at start: run from inside an archive viewer's temporary folder,
// the program would lose every file it writes.
#include <optional>
#include <string>

namespace mirava::config {

inline constexpr const char* kFolderCheckCaption = "Внимание!";

// The message of the first check that fails for `folder` (with its trailing "/"), or nothing.
// 1: the path holds "Rar$" (letter case significant); 2: it holds "/Temp/" ("\Temp\" on
// Windows; letter case ignored). The check for the TLS library beside the program does not apply
// to these builds: the library is a system one, or linked into the Windows program.
std::optional<std::string> FailedFolderCheck(const std::string& folder);

}  // namespace mirava::config
