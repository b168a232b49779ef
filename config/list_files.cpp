#include "config/list_files.h"

#include "analysis/text_encoding.h"

namespace mirava::config {

namespace {

bool IsBlank(std::u16string_view text) {
  return analysis::Trim(text).empty();
}

// The address a job starts from; anything else would make the run request nonsense.
bool IsWebAddress(std::u16string_view value) {
  const auto starts_with = [value](std::u16string_view prefix) {
    if (value.size() <= prefix.size()) {
      return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (analysis::FoldCase(value[i]) != prefix[i]) {
        return false;
      }
    }
    return true;
  };
  return starts_with(u"http://") || starts_with(u"https://");
}

// Every line but blank ones, values trimmed; `accept` decides on the rest of a line's worth.
template <typename Accept>
ListFileItems ParseLines(const std::vector<std::u16string>& lines, Accept accept) {
  ListFileItems parsed;
  parsed.Items.reserve(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::u16string& line = lines[i];
    if (IsBlank(line)) {
      continue;
    }
    ListItem item = ParseListLine(line);
    item.Value = analysis::Trim(item.Value);
    if (line.find(u'=') == std::u16string::npos || IsBlank(item.Name) || !accept(item)) {
      parsed.SkippedLines.push_back(i + 1);
      continue;
    }
    parsed.Items.push_back(std::move(item));
  }
  return parsed;
}

std::string LineNumbers(const std::vector<std::size_t>& lines) {
  std::string numbers;
  for (const std::size_t line : lines) {
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(line);
  }
  return numbers;
}

}  // namespace

ListItem ParseListLine(std::u16string_view line) {
  const std::size_t equals = line.find(u'=');
  if (equals == std::u16string_view::npos) {
    return {std::u16string(), std::u16string(line)};
  }
  return {std::u16string(line.substr(0, equals)), std::u16string(line.substr(equals + 1))};
}

ListFileItems ParseCityLines(const std::vector<std::u16string>& lines) {
  return ParseLines(lines, [](const ListItem& item) { return IsWebAddress(item.Value); });
}

ListFileItems ParseCategoryLines(const std::vector<std::u16string>& lines) {
  if (lines.size() < 2) {
    return {};
  }
  ListFileItems parsed = ParseLines(lines, [](const ListItem&) { return true; });
  for (ListItem& item : parsed.Items) {
    std::u16string name;
    for (const char16_t unit : item.Name) {
      if (unit == u'\t') {
        name += u"     ";
      } else {
        name += unit;
      }
    }
    item.Name = std::move(name);
  }
  return parsed;
}

std::optional<std::string> ListFileProblem(const std::string& file_name,
                                           const std::vector<std::u16string>& lines,
                                           const ListFileItems& parsed) {
  bool empty = true;
  for (const std::u16string& line : lines) {
    empty = empty && IsBlank(line);
  }
  if (empty) {
    return "Файл " + file_name + " пуст: в списке ничего нет. Впишите в него строки вида " +
           "«название=значение», по одной в строке, и запустите программу снова.";
  }
  if (parsed.SkippedLines.empty()) {
    return std::nullopt;
  }
  const bool cities = file_name == kCitiesFileName;
  return "В файле " + file_name + " пропущены строки с ошибками (" +
         std::to_string(parsed.SkippedLines.size()) +
         "), номера строк: " + LineNumbers(parsed.SkippedLines) +
         ". Каждая строка должна иметь вид «название=значение»" +
         (cities ? ", где значение — адрес, начинающийся с http:// или https://" : "") +
         "; исправьте файл и запустите программу снова.";
}

}  // namespace mirava::config
