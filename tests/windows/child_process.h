#pragma once
// Starting this test program again as a helper process (Windows only).
#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/windows_text.h"

namespace mirava::testing {

inline std::filesystem::path OwnProgram() {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  return std::filesystem::path(std::wstring(own, length));
}

// Quoted for the C runtime's parser; the test's arguments hold no quotes or trailing backslashes.
inline std::wstring CommandLine(const std::filesystem::path& program,
                                const std::vector<std::string>& arguments) {
  std::wstring line = L"\"" + program.wstring() + L"\"";
  for (const std::string& argument : arguments) {
    line += L" \"" + platform::windows::Wide(argument) + L"\"";
  }
  return line;
}

class ChildProcess {
 public:
  ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    std::wstring line = CommandLine(program, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info_)) {
      throw std::runtime_error("CreateProcessW: " +
                               platform::windows::SystemMessage(GetLastError()));
    }
    CloseHandle(info_.hThread);
  }
  ~ChildProcess() {
    if (info_.hProcess != nullptr) {
      if (WaitForSingleObject(info_.hProcess, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(info_.hProcess, 1);
      }
      CloseHandle(info_.hProcess);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit code; -1 when it did not end within 120 s.
  int Wait() {
    if (WaitForSingleObject(info_.hProcess, 120000) != WAIT_OBJECT_0) {
      return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  PROCESS_INFORMATION info_{};
};

inline int RunChild(const std::filesystem::path& program,
                    const std::vector<std::string>& arguments) {
  ChildProcess child(program, arguments);
  return child.Wait();
}

}  // namespace mirava::testing
