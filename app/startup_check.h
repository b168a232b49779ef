#pragma once
// The folder check that must come before Qt starts. On Windows, Qt loads its platform plugin
// (platforms\qwindows.dll beside mirava.exe) only once the program runs, and without it ends the
// program with an English message of its own before the window, and the window's folder checks,
// can show; the libraries the program links are asked for by the system's loader itself.
#include <string>

namespace mirava::app {

// False when the program must end; the operator has then been told why in the system's message
// box (caption "Внимание!"). The Linux build ships nothing beside the program that it cannot
// start without: always true there.
bool PassesStartupFolderCheck(const std::string& folder);

}  // namespace mirava::app
