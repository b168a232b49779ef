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
// needs beside it is missing. What that file is depends on the build: the Linux build ships none
// beside the program (its libraries are the system's); the Windows program links OpenSSL in and
// checks Qt's platform plugin instead (kStartupCompanionFile).
std::optional<std::string> FailedFolderCheck(const std::string& folder,
                                             bool companion_files_present = true);

// The one file beside the program, relative to its folder, that it cannot start without and that
// the system's loader does not ask for itself: the Windows program's Qt platform plugin, which Qt
// loads only once the program runs and without which it ends the program, in English, before the
// window can show. The Linux build ships nothing beside the program.
#ifdef _WIN32
inline constexpr const char* kStartupCompanionFile = "platforms\\qwindows.dll";
#else
inline constexpr const char* kStartupCompanionFile = "";
#endif

// The check to make before the window library starts: nothing when `folder` holds
// kStartupCompanionFile (the window makes checks 1 and 2 as it shows) or when it cannot be
// looked at, else the message of the first check that fails.
std::optional<std::string> FailedStartupCheck(const std::string& folder);

}  // namespace mirava::config
