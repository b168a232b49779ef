#include "config/selection.h"

#include <algorithm>

#include "analysis/text_encoding.h"

namespace mirava::config {

std::string EncodeCitySelection(const std::vector<std::u16string>& names) {
  std::string bytes;
  for (const std::u16string& name : names) {
    bytes += analysis::EncodeSystemCodePage(name);
    bytes += "\r\n";
  }
  return bytes;
}

std::string EncodeCategorySelection(const std::vector<std::u16string>& names) {
  std::string bytes(analysis::kUtf8ByteOrderMark);
  for (const std::u16string& name : names) {
    bytes += analysis::Utf16ToUtf8(name);
    bytes += "\r\n";
  }
  return bytes;
}

std::vector<bool> MatchCategories(const std::vector<std::u16string>& item_names,
                                  std::vector<std::u16string>& saved) {
  for (std::u16string& entry : saved) {
    entry = analysis::Trim(entry);
  }
  std::vector<bool> selected(item_names.size(), false);
  for (std::size_t i = 0; i < item_names.size(); ++i) {
    const std::u16string name = analysis::Trim(item_names[i]);
    const auto found = std::find_if(saved.begin(), saved.end(), [&](const std::u16string& entry) {
      return analysis::EqualsIgnoreCase(entry, name);
    });
    if (found != saved.end()) {
      selected[i] = true;
      saved.erase(found);
    }
  }
  return selected;
}

std::vector<bool> MatchCities(const std::vector<std::u16string>& item_names,
                              const std::vector<std::u16string>& saved) {
  std::vector<bool> selected(item_names.size(), false);
  for (std::size_t i = 0; i < item_names.size(); ++i) {
    selected[i] = std::any_of(saved.begin(), saved.end(), [&](const std::u16string& entry) {
      return analysis::EqualsIgnoreCase(entry, item_names[i]);
    });
  }
  return selected;
}

std::u16string UnmatchedCategoriesText(const std::vector<std::u16string>& remaining) {
  std::u16string text = u"Не удалось отметить рубрики:\r\n";
  for (const std::u16string& name : remaining) {
    text += name;
    text += u"\r\n";
  }
  return text;
}

}  // namespace mirava::config
