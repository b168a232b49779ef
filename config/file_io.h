#pragma once
// Whole-file reads and writes for the window's small files.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirava::config {

// The file's bytes, or nothing when it does not exist. Throws std::system_error naming the file
// when it exists but cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path);

// Replaces the file with `bytes`: written to a temporary file beside it and renamed over it, so
// a failed write never leaves a half-written file. Throws std::system_error naming the file and
// the system's reason.
void WriteFileBytes(const std::string& path, std::string_view bytes);

// The lines of a text file (byte-order mark or system code page; CR LF, LF or CR), or nothing
// when the file is missing or cannot be read.
std::optional<std::vector<std::u16string>> ReadTextFileLines(const std::string& path);

}  // namespace mirava::config
