#pragma once
// A Windows-style INI file held as its bytes: reads one key at a time and changes one key at a
// time, leaving every other line exactly as it was. Section and key names ignore letter case.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirava::config {

class IniDocument {
 public:
  IniDocument() = default;
  explicit IniDocument(std::string_view bytes);

  // The value of the first matching key of the first matching section, trimmed.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // The value as a decimal integer (optional sign); `fallback` when absent or not an integer.
  int ReadInteger(std::string_view section, std::string_view key, int fallback) const;

  // Replaces the key's line, or adds it after the section's last entry, or adds the section at
  // the end. New lines end with CR LF.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);

  std::string Bytes() const;

 private:
  struct Line {
    std::string Text;    // without its line break
    std::string Ending;  // "\r\n", "\n", "\r" or "" for an unterminated last line
  };
  struct SectionSpan {
    std::size_t Header = 0;  // index of the "[name]" line
    std::size_t End = 0;     // one past the section's last line
  };
  std::optional<SectionSpan> FindSection(std::string_view section) const;
  std::optional<std::size_t> FindKey(const SectionSpan& span, std::string_view key) const;

  std::vector<Line> lines_;
};

// Strict decimal parse of a whole (already trimmed) text into an int.
std::optional<int> ParseInteger(std::string_view text);

}  // namespace mirava::config
