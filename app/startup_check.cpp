#include "app/startup_check.h"

namespace mirava::app {

bool PassesStartupFolderCheck(const std::string&) {
  return true;
}

}  // namespace mirava::app
