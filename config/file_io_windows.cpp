#include <system_error>

#include "analysis/text_encoding.h"
#include "config/file_io.h"
#include "output/file_access.h"

namespace mirava::config {

std::optional<std::string> ReadFileBytes(const std::string& path) {
  // Wide paths, binary mode: output::ReadFileIfPresent does both.
  return output::ReadFileIfPresent(path);
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  try {
    output::ReplaceFileContents(temporary, bytes);
    output::MoveReplacing(temporary, path);
  } catch (const std::exception& error) {
    output::RemoveFileQuietly(temporary);
    throw std::system_error(std::make_error_code(std::errc::io_error), path + ": " + error.what());
  }
}

std::optional<std::vector<std::u16string>> ReadTextFileLines(const std::string& path) {
  std::optional<std::string> bytes;
  try {
    bytes = ReadFileBytes(path);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (!bytes) {
    return std::nullopt;
  }
  return analysis::ReadTextLines(*bytes);
}

}  // namespace mirava::config
