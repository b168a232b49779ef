#pragma once
// cities.txt and categories.txt: one list item per line, the shown name before the first "=" and
// the value kept behind it after that "=".
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirava::config {

inline constexpr const char* kCitiesFileName = "cities.txt";
inline constexpr const char* kCategoriesFileName = "categories.txt";

struct ListItem {
  std::u16string Name;
  std::u16string Value;
};

// Nothing is trimmed; a line without "=" is an empty name with the whole line as its value.
ListItem ParseListLine(std::u16string_view line);

std::vector<ListItem> ParseCityLines(const std::vector<std::u16string>& lines);
// Fewer than two lines give an empty list; each TAB of a name becomes five spaces.
std::vector<ListItem> ParseCategoryLines(const std::vector<std::u16string>& lines);

}  // namespace mirava::config
