#pragma once
// Every file operation of the program, by UTF-8 path and in binary mode; one implementation per
// system (file_access.cpp, file_access_windows.cpp) and one error type for all of them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mirava::platform {

// A refusal by the system. Reason() is what the operator reads: the failure table's Russian text
// where it has one, otherwise the system's own message; what() is "<path>: <reason>".
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& reason);

  const std::string& Path() const noexcept { return path_; }
  const std::string& Reason() const noexcept { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// Where a writer's bytes go; the file version is a thin wrapper, tests use memory or a stream
// that refuses writes.
class IByteSink {
 public:
  virtual ~IByteSink() = default;
  // Hands all of `bytes` to the system; throws (the file sink: FileError) when it refuses, the
  // file sink then taking back any part of `bytes` it had written.
  virtual void Write(std::string_view bytes) = 0;
  // Releases the file; throws when the system reports a failure, the file being closed anyway.
  // Later calls do nothing.
  virtual void Close() = 0;
  // Makes what was written so far durable (it survives a power loss). Throws as Write.
  virtual void Sync() {}
};

// Creates `path` anew (an existing file is emptied). While open, other programs may read it; a
// second writer that asks for the file's lock, as every run does, is refused before it can empty
// the file. Throws FileError.
std::unique_ptr<IByteSink> CreateResultsSink(const std::string& path);

// Opens the existing `path` to add to it, under the same lock as CreateResultsSink, after cutting
// it to its first `keep_size` bytes (a torn last line). Throws FileError; a refused lock leaves
// the file as it is.
std::unique_ptr<IByteSink> OpenSinkForAppend(const std::string& path, std::uint64_t keep_size);

// A file read from start to end in pieces.
class InputFile {
 public:
  explicit InputFile(const std::string& path);  // throws FileError
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Up to `size` bytes; 0 at the end. Throws FileError.
  std::size_t Read(char* buffer, std::size_t size);

 private:
  std::string path_;
  std::intptr_t handle_;
};

// The whole of `path`; nothing when there is no such file or a folder stands in its place.
// Throws FileError on any other refusal.
std::optional<std::string> ReadFileIfPresent(const std::string& path);

// Writes `bytes` as the whole new content of `path`, in place. Throws FileError.
void ReplaceFileContents(const std::string& path, std::string_view bytes);

// Replaces `path` with `bytes` through a temporary file beside it renamed over it, so a failed
// write never leaves a half-written file. Throws FileError naming `path`.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Creates an empty `path`; false when it exists already. Throws FileError.
bool CreateNewFile(const std::string& path);
// Moves `from` onto `to`, replacing a file there. Throws FileError naming `to`.
void MoveReplacing(const std::string& from, const std::string& to);
// True when anything at all lies at `path` (a file, a folder, a dangling link).
bool NameTaken(const std::string& path) noexcept;
// Removes `path` if it can; a leftover is not an error.
void RemoveFileQuietly(const std::string& path) noexcept;
// A number that differs between processes running at the same time.
unsigned long CurrentProcessNumber() noexcept;

}  // namespace mirava::platform
