// The Windows tests' main: GoogleTest, or one of the helper roles the tests start this program in.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/exe_folder.h"
#include "platform/named_lock.h"
#include "platform/windows_text.h"

namespace {

std::string Utf8Argument(int index) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::string argument = index < count ? mirava::platform::windows::Utf8(arguments[index]) : "";
  LocalFree(arguments);
  return argument;
}

void WriteFile(const std::string& utf8_path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(mirava::platform::windows::Wide(utf8_path)),
                    std::ios::binary);
  out << bytes;
}

}  // namespace

int main(int argc, char** argv) {
  // --print-exe-folder FILE: writes ExecutableFolder() to FILE.
  if (argc == 3 && std::strcmp(argv[1], "--print-exe-folder") == 0) {
    WriteFile(Utf8Argument(2), mirava::platform::ExecutableFolder());
    return 0;
  }
  // --hold-lock LOCK HELD LEAVING MS release|die: takes the lock, writes HELD, waits MS, writes
  // LEAVING, then lets go or ends without letting go.
  if (argc == 7 && std::strcmp(argv[1], "--hold-lock") == 0) {
    const auto lock = mirava::platform::NamedLock::AtPath(Utf8Argument(2));
    auto* holding = new mirava::platform::NamedLock::Holding(lock);
    WriteFile(Utf8Argument(3), "held");
    Sleep(static_cast<DWORD>(std::atoi(argv[5])));
    WriteFile(Utf8Argument(4), "leaving");
    if (std::strcmp(argv[6], "die") == 0) {
      ExitProcess(0);
    }
    delete holding;
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
