#include "config/list_files.h"

#include "analysis/text_encoding.h"

namespace mirava::config {

ListItem ParseListLine(std::u16string_view line) {
  const std::size_t equals = line.find(u'=');
  if (equals == std::u16string_view::npos) {
    return {std::u16string(), std::u16string(line)};
  }
  return {std::u16string(line.substr(0, equals)), std::u16string(line.substr(equals + 1))};
}

std::vector<ListItem> ParseCityLines(const std::vector<std::u16string>& lines) {
  std::vector<ListItem> items;
  items.reserve(lines.size());
  for (const std::u16string& line : lines) {
    items.push_back(ParseListLine(line));
  }
  return items;
}

std::vector<ListItem> ParseCategoryLines(const std::vector<std::u16string>& lines) {
  std::vector<ListItem> items;
  if (lines.size() < 2) {
    return items;
  }
  items.reserve(lines.size());
  for (const std::u16string& line : lines) {
    ListItem item = ParseListLine(line);
    std::u16string name;
    for (const char16_t unit : item.Name) {
      if (unit == u'\t') {
        name += u"     ";
      } else {
        name += unit;
      }
    }
    item.Name = std::move(name);
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace mirava::config
