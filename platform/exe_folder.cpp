#include "platform/exe_folder.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace mirava::platform {

std::string ExecutableFolder() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      throw std::system_error(errno, std::generic_category(), "/proc/self/exe");
    }
    // readlink truncates silently; a result that fills the buffer may be cut short.
    if (static_cast<std::size_t>(length) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(length));
      return path.substr(0, path.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace mirava::platform
