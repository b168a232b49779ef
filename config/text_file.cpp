#include "config/text_file.h"

#include "analysis/text_encoding.h"
#include "platform/file_access.h"

namespace mirava::config {

std::optional<std::vector<std::u16string>> ReadTextFileLines(const std::string& path) {
  std::optional<std::string> bytes;
  try {
    bytes = platform::ReadFileIfPresent(path);
  } catch (const platform::FileError&) {
    return std::nullopt;
  }
  if (!bytes) {
    return std::nullopt;
  }
  return analysis::ReadTextLines(*bytes);
}

}  // namespace mirava::config
