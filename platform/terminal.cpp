#include "platform/terminal.h"

#include <unistd.h>

namespace mirava::platform {

bool StandardOutputIsTerminal() noexcept {
  return ::isatty(STDOUT_FILENO) != 0;
}

bool StandardErrorIsTerminal() noexcept {
  return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace mirava::platform
