#include <windows.h>

#include <algorithm>
#include <memory>
#include <system_error>

#include "platform/file_access.h"
#include "platform/windows_text.h"

namespace mirava::platform {

namespace {

using windows::SystemMessage;
using windows::Wide;

FileError SystemError(const std::string& path, DWORD error) {
  return FileError(path, SystemMessage(error));
}

// Returns 0 on success, otherwise the system's error code.
DWORD WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), piece, &written, nullptr)) {
      return GetLastError();
    }
    if (written == 0) {
      return ERROR_WRITE_FAULT;
    }
    bytes.remove_prefix(written);
  }
  return 0;
}

bool CutAt(HANDLE file, long long size) {
  LARGE_INTEGER position{};
  position.QuadPart = size;
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

class ResultsFileSink : public IByteSink {
 public:
  ResultsFileSink(std::string path, HANDLE file, long long size = 0)
      : path_(std::move(path)), file_(file), size_(size) {}
  ~ResultsFileSink() override {
    if (file_ != INVALID_HANDLE_VALUE) {
      CloseHandle(file_);
    }
  }

  void Write(std::string_view bytes) override {
    if (file_ == INVALID_HANDLE_VALUE) {
      throw SystemError(path_, ERROR_INVALID_HANDLE);
    }
    const DWORD error = WriteAll(file_, bytes);
    if (error != 0) {
      // Take back a partly written piece so the file still ends with the last whole line.
      CutAt(file_, size_);
      throw SystemError(path_, error);
    }
    size_ += static_cast<long long>(bytes.size());
  }

  void Sync() override {
    if (file_ != INVALID_HANDLE_VALUE && !FlushFileBuffers(file_)) {
      throw SystemError(path_, GetLastError());
    }
  }

  void Close() override {
    if (file_ == INVALID_HANDLE_VALUE) {
      return;
    }
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) {
      throw SystemError(path_, GetLastError());
    }
  }

 private:
  std::string path_;
  HANDLE file_;
  long long size_;
};

HANDLE OpenForWriting(const std::string& path, DWORD disposition) {
  // Sharing reading only: other programs may read the file, a second writer is refused.
  return CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::unique_ptr<IByteSink> CreateResultsSink(const std::string& path) {
  // Opened without truncation: a second writer is refused before it may empty the file.
  const HANDLE file = OpenForWriting(path, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) {
    throw SystemError(path, GetLastError());
  }
  if (!CutAt(file, 0)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    throw SystemError(path, error);
  }
  return std::make_unique<ResultsFileSink>(path, file);
}

std::unique_ptr<IByteSink> OpenSinkForAppend(const std::string& path, std::uint64_t keep_size) {
  const HANDLE file = OpenForWriting(path, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    throw SystemError(path, GetLastError());
  }
  const auto size = static_cast<long long>(keep_size);
  if (!CutAt(file, size)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    throw SystemError(path, error);
  }
  return std::make_unique<ResultsFileSink>(path, file, size);
}

std::optional<std::string> ReadFileIfPresent(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return std::nullopt;
    }
    throw SystemError(path, error);
  }
  std::string contents;
  char buffer[16384];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      const DWORD error = GetLastError();
      CloseHandle(file);
      throw SystemError(path, error);
    }
    if (got == 0) {
      break;
    }
    contents.append(buffer, got);
  }
  CloseHandle(file);
  return contents;
}

void ReplaceFileContents(const std::string& path, std::string_view bytes) {
  const HANDLE file = OpenForWriting(path, CREATE_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) {
    throw SystemError(path, GetLastError());
  }
  DWORD error = WriteAll(file, bytes);
  if (!CloseHandle(file) && error == 0) {
    error = GetLastError();
  }
  if (error != 0) {
    throw SystemError(path, error);
  }
}

InputFile::InputFile(const std::string& path) : path_(path) {
  // The writer of a results file holds it open for writing; reading must share that.
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw SystemError(path, GetLastError());
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

InputFile::~InputFile() {
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, piece, &got, nullptr)) {
    throw SystemError(path_, GetLastError());
  }
  return got;
}

bool CreateNewFile(const std::string& path) {
  const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return true;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
    throw SystemError(path, error);
  }
  return false;
}

void MoveReplacing(const std::string& from, const std::string& to) {
  // The C runtime's rename refuses to replace an existing file here.
  if (!MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    throw SystemError(to, GetLastError());
  }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  try {
    ReplaceFileContents(temporary, bytes);
    MoveReplacing(temporary, path);
  } catch (const FileError& error) {
    RemoveFileQuietly(temporary);
    throw FileError(path, error.Reason());
  }
}

bool NameTaken(const std::string& path) noexcept {
  try {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  } catch (...) {
    return false;
  }
}

void RemoveFileQuietly(const std::string& path) noexcept {
  DeleteFileW(Wide(path).c_str());
}

unsigned long CurrentProcessNumber() noexcept {
  return GetCurrentProcessId();
}

}  // namespace mirava::platform
