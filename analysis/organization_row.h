#pragma once
// The twelve values of an organization page and the row they make.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace mirava::analysis {

// The directory's and the messengers' link prefixes, kept in one place.
inline constexpr std::string_view kWhatsAppPrefix = "https://wa.me/";
inline constexpr std::string_view kTelegramPrefix = "https://t.me/";
inline constexpr std::string_view kMaxProfilePrefix = "https://max.ru/u/";
inline constexpr std::string_view kRedirectPrefix = "https://mirava.ru/redirect/";
inline constexpr std::string_view kRedirectTargetPrefix = "https://mirava.ru/redirect/?to=";

inline constexpr std::string_view kOrganizationMarker = "window.Global.organizationId";

// The twelve values in row order: the index of each in an OrganizationRow and its column in the
// results file and the workbook.
enum Column : std::size_t {
  kLinkColumn,
  kCategoryColumn,
  kOrganizationColumn,
  kAddressColumn,
  kCityColumn,
  kPhoneColumn,
  kWhatsAppColumn,
  kTelegramColumn,
  kMaxProfileColumn,
  kWebSiteColumn,
  kVkGroupColumn,
  kTelegramSocialColumn,
  kColumnCount
};

// Column titles in row order.
inline constexpr std::array<std::string_view, kColumnCount> kColumnTitles = {
    "Ссылка",   "Имя рубрики", "Организация", "Адрес", "Город", "Телефон",
    "WhatsApp", "Telegram",    "Max",         "Сайт",  "VK",    "TG"};

using OrganizationRow = std::array<std::string, kColumnCount>;  // UTF-8 values in column order

// The values of one organization page: `page` is its UTF-8 bytes, `category` the looked-up name.
OrganizationRow ExtractOrganizationRow(std::string_view page, const std::string& url,
                                       const std::string& category);

// "\"v1\"\t\"v2\"...\"v12\"" without a line break; values are written as given, except that each
// TAB, CR and LF becomes one space, so a row is always twelve fields on one line.
std::string FormatRow(const OrganizationRow& row);
// The header line: the column titles in the same layout.
std::string HeaderLine();

}  // namespace mirava::analysis
