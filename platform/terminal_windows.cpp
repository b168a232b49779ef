#include <io.h>

#include <cstdio>

#include "platform/terminal.h"

namespace mirava::platform {

bool StandardOutputIsTerminal() noexcept {
  return _isatty(_fileno(stdout)) != 0;
}

bool StandardErrorIsTerminal() noexcept {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace mirava::platform
