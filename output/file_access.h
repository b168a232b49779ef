#pragma once
// Files by UTF-8 path, in binary mode, with the system's own message when it refuses; one
// implementation per system (file_access.cpp, file_access_windows.cpp). CreateResultsSink
// (results_file.h) lives with them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mirava::output {

// A refusal by the system; what() is the system's message, without the path.
class FileSystemError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file read from start to end in pieces.
class InputFile {
 public:
  explicit InputFile(const std::string& path);  // throws FileSystemError
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Up to `size` bytes; 0 at the end. Throws FileSystemError.
  std::size_t Read(char* buffer, std::size_t size);

 private:
  std::intptr_t handle_;
};

// The whole of `path`; nothing when there is no such file or a folder stands in its place.
// Throws std::runtime_error "<path>: <message>" on any other refusal.
std::optional<std::string> ReadFileIfPresent(const std::string& path);

// Writes `bytes` as the whole new content of `path`. Throws std::runtime_error "<path>: <message>".
void ReplaceFileContents(const std::string& path, std::string_view bytes);

// Creates an empty `path`; false when it exists already. Throws FileSystemError.
bool CreateNewFile(const std::string& path);
// Moves `from` onto `to`, replacing a file there. Throws FileSystemError.
void MoveReplacing(const std::string& from, const std::string& to);
// True when anything at all lies at `path` (a file, a folder, a dangling link).
bool NameTaken(const std::string& path) noexcept;
// Removes `path` if it can; a leftover is not an error.
void RemoveFileQuietly(const std::string& path) noexcept;
// A number that differs between processes running at the same time.
unsigned long CurrentProcessNumber() noexcept;

}  // namespace mirava::output
