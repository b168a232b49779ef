#pragma once
// cities.txt and categories.txt: one list item per line, the shown name before the first "=" and
// the value kept behind it after that "=".
#include <cstddef>
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

// The items of a list file and the numbers (from 1) of the lines skipped as mistakes.
struct ListFileItems {
  std::vector<ListItem> Items;
  std::vector<std::size_t> SkippedLines;
};

// The bare split: nothing is trimmed; a line without "=" is an empty name with the whole line as
// its value.
ListItem ParseListLine(std::u16string_view line);

// Values are trimmed of blanks; names are kept as written (the saved selection is matched
// against them). Blank lines are left out; a line without "=", with a blank name, or (cities)
// whose value is not an http:// or https:// address is skipped and its number noted.
ListFileItems ParseCityLines(const std::vector<std::u16string>& lines);
// As above without the address rule; fewer than two lines give an empty list and no skipped
// line; each TAB of a name becomes five spaces.
ListFileItems ParseCategoryLines(const std::vector<std::u16string>& lines);

// What the operator is told about a list file, in Russian, naming the file: that it is empty
// (no line but blank ones), or which lines were skipped; nothing when all is well.
std::optional<std::string> ListFileProblem(const std::string& file_name,
                                           const std::vector<std::u16string>& lines,
                                           const ListFileItems& parsed);

}  // namespace mirava::config
