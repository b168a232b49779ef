#pragma once
// selection1.txt (selected city names) and selection2.txt (selected category names): the
// selection carried from one program start to the next, and the rules that apply it again.
#include <optional>
#include <string>
#include <vector>

namespace mirava::config {

inline constexpr const char* kCitySelectionFileName = "selection1.txt";
inline constexpr const char* kCategorySelectionFileName = "selection2.txt";
inline constexpr const char16_t* kDefaultCity = u"Барнаул";
inline constexpr const char16_t* kDefaultCategory = u"Чип-тюнинг";

// Every name followed by CR LF; cities in the system code page without a byte-order mark,
// categories in UTF-8 with one (so an empty selection is the mark alone).
std::string EncodeCitySelection(const std::vector<std::u16string>& names);
std::string EncodeCategorySelection(const std::vector<std::u16string>& names);

// Which category items to select: every saved entry and every item name is trimmed, letter
// case is ignored, and each saved entry selects only the first item not yet matched by it.
// `saved` is left holding the entries that matched nothing.
std::vector<bool> MatchCategories(const std::vector<std::u16string>& item_names,
                                  std::vector<std::u16string>& saved);

// Which city items to select: untrimmed names, letter case ignored; an entry selects every
// equal item.
std::vector<bool> MatchCities(const std::vector<std::u16string>& item_names,
                              const std::vector<std::u16string>& saved);

// "Не удалось отметить рубрики:" and the names, every line ended by CR LF.
std::u16string UnmatchedCategoriesText(const std::vector<std::u16string>& remaining);

}  // namespace mirava::config
