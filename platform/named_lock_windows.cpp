#include <windows.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/named_lock.h"
#include "platform/shared_request_record.h"
#include "platform/windows_text.h"

namespace mirava::platform {

namespace {

[[noreturn]] void ThrowLastError(const std::string& what) {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

// The mutex is named after the lock file: "MiravaParserMutex.lock" guards with the mutex
// "MiravaParserMutex", which every copy of the program in the user's session shares.
std::wstring MutexName(const std::string& lock_path) {
  return std::filesystem::path(platform::windows::Wide(lock_path)).stem().wstring();
}

// The lock file stays beside the mutex for what the holders share through it.
void CreateLockFile(const std::string& path) {
  const HANDLE file =
      CreateFileW(platform::windows::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ThrowLastError(path);
  }
  CloseHandle(file);
}

}  // namespace

std::string NamedLockPath(const std::string& name) {
  std::wstring folder(MAX_PATH + 1, L'\0');
  const DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  if (length == 0 || length > folder.size()) {
    ThrowLastError("GetTempPathW");
  }
  folder.resize(length);  // ends with a backslash
  return platform::windows::Utf8(folder) + name + ".lock";
}

NamedLock::NamedLock(const std::string& name) : NamedLock(PathTag{}, NamedLockPath(name)) {}

NamedLock NamedLock::AtPath(const std::string& path) {
  return NamedLock(PathTag{}, path);
}

NamedLock::NamedLock(PathTag, std::string path) : path_(std::move(path)) {
  // Creating both now makes a refusal show at set-up, not at the first request.
  CreateLockFile(path_);
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(path_).c_str());
  if (mutex == nullptr) {
    ThrowLastError(path_);
  }
  CloseHandle(mutex);
}

NamedLock::Holding::Holding(const NamedLock& lock) {
  // Each acquisition opens its own handle, so threads of one process exclude each other too.
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(lock.Path()).c_str());
  if (mutex == nullptr) {
    ThrowLastError(lock.Path());
  }
  const DWORD result = WaitForSingleObject(mutex, INFINITE);
  // WAIT_ABANDONED: the last holder died holding it; the mutex is ours all the same.
  if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
    const DWORD error = GetLastError();
    CloseHandle(mutex);
    throw std::system_error(static_cast<int>(error), std::system_category(), lock.Path());
  }
  mutex_ = mutex;
  // The shared record lives in the lock file; without it the lock still works.
  const HANDLE file =
      CreateFileW(platform::windows::Wide(lock.Path()).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  file_ = file == INVALID_HANDLE_VALUE ? nullptr : file;
}

NamedLock::Holding::~Holding() {
  if (file_ != nullptr) {
    CloseHandle(static_cast<HANDLE>(file_));
  }
  ReleaseMutex(static_cast<HANDLE>(mutex_));
  CloseHandle(static_cast<HANDLE>(mutex_));
}

std::optional<SharedRequestRecord> NamedLock::Holding::ReadRecord() const {
  SharedRecordBytes bytes{};
  OVERLAPPED at{};  // offset 0
  DWORD count = 0;
  if (file_ == nullptr ||
      !ReadFile(static_cast<HANDLE>(file_), bytes.data(), static_cast<DWORD>(bytes.size()), &count,
                &at) ||
      count != bytes.size()) {
    return std::nullopt;
  }
  return DecodeSharedRecord(bytes);
}

bool NamedLock::Holding::WriteRecord(const SharedRequestRecord& record) const {
  const SharedRecordBytes bytes = EncodeSharedRecord(record);
  OVERLAPPED at{};  // offset 0
  DWORD count = 0;
  return file_ != nullptr &&
         WriteFile(static_cast<HANDLE>(file_), bytes.data(), static_cast<DWORD>(bytes.size()),
                   &count, &at) &&
         count == bytes.size();
}

}  // namespace mirava::platform
