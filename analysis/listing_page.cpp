#include "analysis/listing_page.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "analysis/page_pieces.h"
#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"

namespace mirava::analysis {

namespace {

constexpr std::string_view kRangesMarker = "class=\"ranges\"";
constexpr std::string_view kCountMarker = "\"count\":";
constexpr std::string_view kCardOpener = "<div class=\"minicard-item__info\">";
constexpr std::string_view kHref = "href=\"";
constexpr std::string_view kBreadcrumbListMarker = "\"@type\":\"BreadcrumbList\"";
// The structured breadcrumb's names that make the category name.
constexpr std::size_t kCategoryNameParts = 3;

bool Contains(std::string_view text, std::string_view needle) {
  return text.find(needle) != std::string_view::npos;
}

// Deeper structured names are not written back as text: writing JSON recurses once per level,
// and the page decides the depth.
constexpr std::size_t kMaxNameDepth = 64;

// Whether `value` nests arrays and objects no deeper than `limit` levels; walked with a stack of
// its own, so the page's depth never reaches the thread's stack.
bool NestsAtMost(const nlohmann::json& value, std::size_t limit) {
  std::vector<std::pair<const nlohmann::json*, std::size_t>> pending{{&value, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) {
      continue;
    }
    if (depth >= limit) {
      return false;
    }
    for (const nlohmann::json& child : *node) {
      pending.emplace_back(&child, depth + 1);
    }
  }
  return true;
}

// A member's value as text: strings as they are, null as nothing, anything else as JSON, and
// nothing for a structure nested too deep to write back.
std::string MemberText(const nlohmann::json& value) {
  if (value.is_string()) {
    return value.get<std::string>();
  }
  if (value.is_null() || !NestsAtMost(value, kMaxNameDepth)) {
    return std::string();
  }
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The JSON text that holds the breadcrumb marker: from the last ">" before the marker to the
// next "<"; empty when either is missing.
std::string_view StructuredDataText(std::string_view page, std::size_t marker_position) {
  const std::size_t open = LastPosBefore(">", page, static_cast<long long>(marker_position));
  const std::size_t close = Pos("<", page, open);
  if (open == 0 || close == 0) {
    return std::string_view();
  }
  return page.substr(open, close - open - 1);
}

void AddLaterPages(const std::string& url, int count, IPageSink& sink) {
  // Pages beyond the last one ever queued are skipped without a turn each.
  const std::int64_t pages_after_first = (static_cast<std::int64_t>(count) - 1) / kCompaniesPerPage;
  for (std::int64_t k = std::min<std::int64_t>(pages_after_first, kMaxListingPage - 1); k >= 1;
       --k) {
    sink.EnqueuePage(url + "page-" + std::to_string(k + 1) + "/");
  }
}

// The number of cards on the page.
std::size_t AddOrganizations(std::string_view page, const std::shared_ptr<const std::string>& name,
                             CategoryByUrl& category_by_url, IPageSink& sink) {
  ForwardSearch openers(page, kCardOpener);
  ForwardSearch hrefs(page, kHref);
  ForwardSearch quotes(page, "\"");
  // The start moves past each card opener taken (an opener cannot begin inside another); a card
  // without a link of its own takes the next link that follows it, even one in a later card.
  std::size_t start = 0;
  std::size_t previous_href = std::string_view::npos;
  std::size_t cards = 0;
  for (;;) {
    const std::size_t opener = openers.From(start);
    if (opener == std::string_view::npos) {
      return cards;
    }
    start = opener + kCardOpener.size();
    ++cards;
    std::string_view link;
    const std::size_t href = hrefs.From(opener + kCardOpener.size());
    // Cards without a link of their own share the next one: that link was offered to the queue
    // already and is refused now, so it is neither copied nor offered again.
    if (href != std::string_view::npos && href == previous_href) {
      continue;
    }
    previous_href = href;
    if (href != std::string_view::npos) {
      const std::size_t value = href + kHref.size();
      const std::size_t quote = quotes.From(value);
      if (quote != std::string_view::npos) {
        link = page.substr(value, quote - value);
      }
    }
    const std::string address = NormalizedUtf8(CutBefore(link, '?'));
    if (sink.EnqueuePage(address)) {
      category_by_url.Add(address, name);
    }
  }
}

}  // namespace

int ReadCompanyCount(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) {
    return 0;
  }
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(static_cast<unsigned char>(text[i]));
    if (digit < 0 || digit >= base) {
      return 0;
    }
    value = value * base + digit;
    if (value > limit) {
      return 0;
    }
  }
  return static_cast<int>(negative ? -value : value);
}

std::string ReadCategoryName(std::string_view page) {
  const std::u16string breadcrumb =
      CleanPiece(ExtractBetween(page, "<li class=\"rel current\">", "", "</a>"));
  const std::size_t marker = Pos(kBreadcrumbListMarker, page);
  if (marker == 0) {
    return Utf16ToUtf8(breadcrumb);
  }
  const nlohmann::json tree =
      nlohmann::json::parse(NormalizedUtf8(StructuredDataText(page, marker)), nullptr, false);
  if (tree.is_discarded() || !tree.is_object() || !tree.contains("itemListElement")) {
    return Utf16ToUtf8(breadcrumb);
  }

  // Only the first names count; a malformed element ends the walk quietly.
  std::u16string name;
  const nlohmann::json& elements = tree["itemListElement"];
  if (elements.is_array()) {
    for (std::size_t i = 0; i < std::min(elements.size(), kCategoryNameParts); ++i) {
      const nlohmann::json& element = elements[i];
      if (!element.is_object() || !element.contains("item")) {
        break;
      }
      const nlohmann::json& item = element["item"];
      std::string text;
      if (item.is_object() && item.contains("name")) {
        text = MemberText(item["name"]);
      }
      name += u">";
      name += Trim(RemoveSurrogatePairs(Utf8ToUtf16(text)));
    }
  }
  if (!name.empty() && name.front() == u'>') {
    name.erase(0, 1);
  }
  return Utf16ToUtf8(name);
}

bool AnalyzeListingPage(std::string_view page, const std::string& url,
                        CategoryByUrl& category_by_url, IPageSink& sink) {
  const std::size_t ranges = Pos(kRangesMarker, page);
  const bool count_found =
      ranges != 0 && Pos(kCountMarker, page, ranges + kRangesMarker.size()) != 0;
  const int count = ReadCompanyCount(ExtractBetween(page, kRangesMarker, kCountMarker, ","));
  const bool later_page = Contains(url, "/page-");

  // Station and district listings and later pages are never subdivided again.
  if (count > kMetroSplitThreshold && !later_page && !Contains(url, "/metro/") &&
      !Contains(url, "/rayon/")) {
    sink.EnqueuePage(url + "metro/");
  }
  if (!later_page) {
    AddLaterPages(url, count, sink);
  }

  const auto name = std::make_shared<const std::string>(ReadCategoryName(page));
  const std::size_t cards = AddOrganizations(page, name, category_by_url, sink);

  if (!later_page) {
    sink.Log("В категории " + *name + " компаний: " + std::to_string(count));
  }
  return count_found || cards > 0;
}

}  // namespace mirava::analysis
