#include <windows.h>

#include <string>
#include <system_error>

#include "platform/exe_folder.h"
#include "platform/windows_text.h"

namespace mirava::platform {

std::string ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                              "GetModuleFileNameW");
    }
    // A result that fills the buffer was cut short.
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  const std::size_t separator = buffer.find_last_of(L"\\/");
  return platform::windows::Utf8(buffer.substr(0, separator + 1));
}

}  // namespace mirava::platform
