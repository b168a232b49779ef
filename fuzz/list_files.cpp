// cities.txt, categories.txt and the two selection files: every line becomes one item whose name
// and value join back into the line; a selection written and read back gives the same names;
// applying a selection selects only what it names.
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

  const std::vector<ListItem> cities = ParseCityLines(lines);
  FUZZ_CHECK(cities.size() == lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    FUZZ_CHECK(cities[i].Name.find(u'=') == std::u16string::npos);
    const bool has_equals = lines[i].find(u'=') != std::u16string::npos;
    FUZZ_CHECK((has_equals ? cities[i].Name + u"=" + cities[i].Value : cities[i].Value) ==
               lines[i]);
  }
  const std::vector<ListItem> categories = ParseCategoryLines(lines);
  FUZZ_CHECK(categories.size() == (lines.size() < 2 ? 0 : lines.size()));
  for (std::size_t i = 0; i < categories.size(); ++i) {
    FUZZ_CHECK(categories[i].Name.find(u'\t') == std::u16string::npos);
    FUZZ_CHECK(categories[i].Value == cities[i].Value);
  }

  std::vector<std::u16string> names;
  for (const ListItem& item : cities) {
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
