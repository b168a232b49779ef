#pragma once
// The folder check that must come before Qt starts (see config::FailedStartupCheck).
#include <string>

namespace mirava::app {

// False when the program must end; the operator has then been told why in the system's message
// box (caption "Внимание!"). The Linux build ships nothing beside the program that it cannot
// start without: always true there.
bool PassesStartupFolderCheck(const std::string& folder);

}  // namespace mirava::app
