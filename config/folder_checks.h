#pragma once
// Checks of the program's folder at start: run from inside an archive viewer's temporary folder,
// the program would lose every file it writes.
#include <optional>
#include <string>

namespace mirava::config {

inline constexpr const char* kFolderCheckCaption = "Внимание!";

// The message of the first check that fails for `folder` (with its trailing "/"), or nothing.
// 1: the path holds "Rar$" (letter case significant); 2: it holds "/Temp/" ("\Temp\" on
// Windows; letter case ignored); 3: `companion_files_present` is false, a file the program
// needs beside it is missing (see FailedStartupCheck).
std::optional<std::string> FailedFolderCheck(const std::string& folder,
                                             bool companion_files_present = true);

// The check to make before the window library starts, for a build that needs `companion_file`
// (relative to `folder`) beside the program and whose system loader does not ask for it itself:
// nothing when the file is there (the window makes checks 1 and 2 as it shows) or cannot be
// looked at, else the message of the first check that fails.
std::optional<std::string> FailedStartupCheck(const std::string& folder,
                                              const std::string& companion_file);

}  // namespace mirava::config
