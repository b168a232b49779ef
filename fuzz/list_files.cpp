// cities.txt, categories.txt and the two selection files: every line is kept as an item whose
// name and trimmed value join back into the line, skipped as a mistake with its number noted, or
// blank; a selection written and read back gives the same names; applying a selection selects
// only what it names.
//
// Input: a list file; its lines also serve as the saved selection, read with their case changed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/text_encoding.h"
#include "fuzz/config_parsers.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace mirava::fuzz::config;
using mirava::analysis::EqualsIgnoreCase;
using mirava::analysis::ReadTextLines;

bool Writable(const std::vector<std::u16string>& names) {
  // A selection file holds names that came from list lines: no line breaks, and no lone
  // surrogate (which no encoding can write).
  return std::all_of(names.begin(), names.end(), [](const std::u16string& name) {
    return mirava::analysis::Utf8ToUtf16(mirava::analysis::Utf16ToUtf8(name)) == name;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::u16string> lines = ReadTextLines(bytes);

  // Every line is kept, skipped as a mistake (its number noted, in order) or blank.
  const auto check_parsed = [&](const ListFileItems& parsed) {
    std::size_t blank = 0;
    for (const std::u16string& line : lines) {
      blank += mirava::analysis::Trim(line).empty() ? 1 : 0;
    }
    FUZZ_CHECK(parsed.Items.size() + parsed.SkippedLines.size() + blank == lines.size());
    FUZZ_CHECK(std::is_sorted(parsed.SkippedLines.begin(), parsed.SkippedLines.end()));
    for (const std::size_t number : parsed.SkippedLines) {
      FUZZ_CHECK(number >= 1 && number <= lines.size());
      FUZZ_CHECK(!mirava::analysis::Trim(lines[number - 1]).empty());
    }
    for (const ListItem& item : parsed.Items) {
      FUZZ_CHECK(!mirava::analysis::Trim(item.Name).empty());
      FUZZ_CHECK(item.Name.find(u'=') == std::u16string::npos);
      FUZZ_CHECK(mirava::analysis::Trim(item.Value) == item.Value);
    }
  };

  const ListFileItems cities = ParseCityLines(lines);
  check_parsed(cities);
  // A kept city line is its name, "=" and its value with blanks around it.
  std::size_t kept = 0;
  for (const std::u16string& line : lines) {
    if (kept < cities.Items.size() && line.starts_with(cities.Items[kept].Name + u"=")) {
      const std::u16string_view rest =
          std::u16string_view(line).substr(cities.Items[kept].Name.size() + 1);
      if (mirava::analysis::Trim(rest) == cities.Items[kept].Value) {
        ++kept;
      }
    }
  }
  FUZZ_CHECK(kept == cities.Items.size());
  for (const ListItem& item : cities.Items) {
    const std::u16string folded = mirava::analysis::FoldCase(item.Value);
    FUZZ_CHECK(folded.starts_with(u"http://") || folded.starts_with(u"https://"));
  }

  const ListFileItems categories = ParseCategoryLines(lines);
  if (lines.size() < 2) {
    FUZZ_CHECK(categories.Items.empty() && categories.SkippedLines.empty());
  } else {
    check_parsed(categories);
  }
  for (const ListItem& item : categories.Items) {
    FUZZ_CHECK(item.Name.find(u'\t') == std::u16string::npos);
  }

  std::vector<std::u16string> names;
  for (const ListItem& item : cities.Items) {
    names.push_back(item.Name);
  }
  if (Writable(names)) {
    FUZZ_CHECK(ReadTextLines(EncodeCategorySelection(names)) == names);
    // The city selection has no byte-order mark, so a first name that begins with one loses it.
    if (names.empty() || !names[0].starts_with(u'\xFEFF')) {
      FUZZ_CHECK(ReadTextLines(EncodeCitySelection(names)) == names);
    }
  }

  // The saved selection: the list's names in another letter case, in reverse order.
  std::vector<std::u16string> saved;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    saved.push_back(mirava::analysis::FoldCase(*name));
  }
  const std::vector<bool> selected_cities = MatchCities(names, saved);
  FUZZ_CHECK(selected_cities.size() == names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool named = std::any_of(saved.begin(), saved.end(), [&](const std::u16string& s) {
      return EqualsIgnoreCase(s, names[i]);
    });
    FUZZ_CHECK(selected_cities[i] == named);
  }
  std::vector<std::u16string> remaining = saved;
  const std::vector<bool> selected_categories = MatchCategories(names, remaining);
  FUZZ_CHECK(selected_categories.size() == names.size());
  const auto count = static_cast<std::size_t>(
      std::count(selected_categories.begin(), selected_categories.end(), true));
  FUZZ_CHECK(count + remaining.size() == saved.size());
  for (const std::u16string& left : remaining) {
    FUZZ_CHECK(std::find(saved.begin(), saved.end(), left) != saved.end());
  }
  const std::u16string report = UnmatchedCategoriesText(remaining);
  FUZZ_CHECK(remaining.empty() || report.starts_with(u"Не удалось отметить рубрики:"));
  return 0;
}
