#pragma once
// The window's small text files: list files and the like.
#include <optional>
#include <string>
#include <vector>

namespace mirava::config {

// The lines of a text file (byte-order mark or system code page; CR LF, LF or CR), or nothing
// when the file is missing or cannot be read.
std::optional<std::vector<std::u16string>> ReadTextFileLines(const std::string& path);

}  // namespace mirava::config
