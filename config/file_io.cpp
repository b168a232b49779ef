#include "config/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "analysis/text_encoding.h"

namespace mirava::config {
namespace {

[[noreturn]] void ThrowFileError(int error, const std::string& path) {
  throw std::system_error(error, std::generic_category(), path);
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return std::nullopt;
    }
    ThrowFileError(errno, path);
  }
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      const int error = errno;
      ::close(fd);
      ThrowFileError(error, path);
    }
    if (count == 0) {
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return bytes;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ThrowFileError(errno, path);
  }
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      ThrowFileError(error, path);
    }
    written += static_cast<std::size_t>(count);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    ThrowFileError(error, path);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
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
