#include "config/ini_file.h"

#include <charconv>

#include "analysis/text_encoding.h"

namespace mirava::config {
namespace {

constexpr std::string_view kNewLine = "\r\n";

bool SameName(std::string_view a, std::string_view b) {
  return analysis::EqualsIgnoreCaseUtf8(analysis::Trim(a), analysis::Trim(b));
}

// The name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view text) {
  const std::string_view trimmed = analysis::Trim(text);
  if (trimmed.empty() || trimmed.front() != '[') {
    return std::nullopt;
  }
  const std::size_t close = trimmed.find(']');
  if (close == std::string_view::npos) {
    return std::nullopt;
  }
  return analysis::Trim(trimmed.substr(1, close - 1));
}

bool IsComment(std::string_view text) {
  const std::string_view trimmed = analysis::Trim(text);
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

}  // namespace

std::optional<int> ParseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') {
      return std::nullopt;
    }
  }
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

IniDocument::IniDocument(std::string_view bytes) {
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t stop = bytes.find_first_of("\r\n", start);
    if (stop == std::string_view::npos) {
      lines_.push_back({std::string(bytes.substr(start)), ""});
      break;
    }
    const std::size_t ending_size =
        (bytes[stop] == '\r' && stop + 1 < bytes.size() && bytes[stop + 1] == '\n') ? 2 : 1;
    lines_.push_back({std::string(bytes.substr(start, stop - start)),
                      std::string(bytes.substr(stop, ending_size))});
    start = stop + ending_size;
  }
}

std::optional<IniDocument::SectionSpan> IniDocument::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string_view text = lines_[i].Text;
    if (i == 0 && text.starts_with(analysis::kUtf8ByteOrderMark)) {
      text.remove_prefix(analysis::kUtf8ByteOrderMark.size());
    }
    const auto name = SectionName(text);
    if (!name || !SameName(*name, section)) {
      continue;
    }
    SectionSpan span{i, i + 1};
    while (span.End < lines_.size() && !SectionName(lines_[span.End].Text)) {
      ++span.End;
    }
    return span;
  }
  return std::nullopt;
}

std::optional<std::size_t> IniDocument::FindKey(const SectionSpan& span,
                                                std::string_view key) const {
  for (std::size_t i = span.Header + 1; i < span.End; ++i) {
    const std::string_view text = lines_[i].Text;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || IsComment(text)) {
      continue;
    }
    if (SameName(text.substr(0, equals), key)) {
      return i;
    }
  }
  return std::nullopt;
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
  const auto span = FindSection(section);
  if (!span) {
    return std::nullopt;
  }
  const auto index = FindKey(*span, key);
  if (!index) {
    return std::nullopt;
  }
  const std::string_view text = lines_[*index].Text;
  return std::string(analysis::Trim(text.substr(text.find('=') + 1)));
}

int IniDocument::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
  const auto text = Value(section, key);
  if (!text) {
    return fallback;
  }
  return ParseInteger(*text).value_or(fallback);
}

void IniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  std::string entry = std::string(key) + "=" + std::string(value);
  const auto span = FindSection(section);
  if (span) {
    if (const auto index = FindKey(*span, key)) {
      lines_[*index].Text = std::move(entry);
      return;
    }
    // After the section's last non-blank line, so blank separator lines stay below it.
    std::size_t at = span->End;
    while (at > span->Header + 1 && analysis::Trim(std::string_view(lines_[at - 1].Text)).empty()) {
      --at;
    }
    if (lines_[at - 1].Ending.empty()) {
      lines_[at - 1].Ending = kNewLine;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                  Line{std::move(entry), std::string(kNewLine)});
    return;
  }
  if (!lines_.empty()) {
    if (lines_.back().Ending.empty()) {
      lines_.back().Ending = kNewLine;
    }
    if (!analysis::Trim(std::string_view(lines_.back().Text)).empty()) {
      lines_.push_back({"", std::string(kNewLine)});
    }
  }
  lines_.push_back({"[" + std::string(section) + "]", std::string(kNewLine)});
  lines_.push_back({std::move(entry), std::string(kNewLine)});
}

std::string IniDocument::Bytes() const {
  std::string bytes;
  for (const Line& line : lines_) {
    bytes += line.Text;
    bytes += line.Ending;
  }
  return bytes;
}

}  // namespace mirava::config
