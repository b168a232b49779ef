#include "config/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "analysis/text_encoding.h"
#include "output/posix_io.h"

namespace mirava::config {
namespace {

[[noreturn]] void ThrowFileError(int error, const std::string& path) {
  throw std::system_error(error, std::generic_category(), path);
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::string& path) {
  const output::posix::UniqueFd file = output::posix::Open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (!file.Valid()) {
    if (errno == ENOENT) {
      return std::nullopt;
    }
    ThrowFileError(errno, path);
  }
  std::string bytes;
  if (const int error = output::posix::ReadAll(file.Get(), bytes); error != 0) {
    ThrowFileError(error, path);
  }
  return bytes;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  output::posix::UniqueFd file =
      output::posix::Open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (!file.Valid()) {
    ThrowFileError(errno, path);
  }
  int error = output::posix::WriteAll(file.Get(), bytes);
  const int close_error = file.Close();
  if (error == 0) {
    error = close_error;
  }
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
    ThrowFileError(error, path);
  }
}

std::optional<std::vector<std::u16string>> ReadTextFileLines(const std::string& path) {
  std::optional<std::string> bytes;
  try {
    bytes = ReadFileBytes(path);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  if (!bytes) {
    return std::nullopt;
  }
  return analysis::ReadTextLines(*bytes);
}

}  // namespace mirava::config
