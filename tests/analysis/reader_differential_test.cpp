// The page readers search a page's UTF-8 bytes and decode only what they cut out. Here they are
// compared with a plain reading of the decoded text that follows the rules word for word: the
// whole page turned into UTF-16 first, regions shortened by deleting their start, values cleaned
// by the toolkit. Pages come from the site generator with nasty values, stray markers and
// malformed UTF-8 mixed in.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "analysis/organization_row.h"
#include "analysis/page_analysis.h"
#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"
#include "tests/analysis/recording_sink.h"
#include "tests/support/site_pages.h"

namespace mirava::analysis {
namespace {

using Text = std::u16string;

Text U(std::string_view utf8) {
  return Utf8ToUtf16(utf8);
}
std::string U8(const Text& text) {
  return Utf16ToUtf8(text);
}
bool Has(const Text& text, const Text& needle) {
  return Pos(needle, text) != 0;
}
Text Clean(const Text& text) {
  return Trim(HtmlToText(text));
}
Text CutAt(const Text& text, char16_t stop) {
  return text.substr(0, text.find(stop));
}

// The run's category lines, read the plain way: the first line whose part before its first "="
// equals the address, letter case ignored.
struct ReferenceLines {
  std::vector<Text> Lines;
  Text Lookup(const Text& url) const {
    for (const Text& line : Lines) {
      const std::size_t equals = line.find(u'=');
      if (EqualsIgnoreCase(line.substr(0, equals), url)) {
        return line.substr(equals + 1);
      }
    }
    return Text();
  }
};

int ReferenceCount(const Text& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i++] == u'-';
  }
  int base = 10;
  if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) {
    return 0;
  }
  long long value = 0;
  for (; i < text.size(); ++i) {
    const Text digits = u"0123456789abcdef";
    const std::size_t digit = digits.find(FoldCase(text[i]));
    if (digit == Text::npos || static_cast<int>(digit) >= base) {
      return 0;
    }
    value = value * base + static_cast<long long>(digit);
    if (value > (negative ? 2147483648LL : 2147483647LL)) {
      return 0;
    }
  }
  return static_cast<int>(negative ? -value : value);
}

Text ReferenceCategoryName(const Text& page) {
  Text name = Clean(ExtractBetween(page, u"<li class=\"rel current\">", u"", u"</a>"));
  std::size_t p = Pos(u"\"@type\":\"BreadcrumbList\"", page);
  if (p == 0) {
    return name;
  }
  p = LastPosBefore(u">", page, static_cast<long long>(p));
  const std::size_t q = Pos(u"<", page, p);
  const Text json = p != 0 && q != 0 ? page.substr(p, q - p - 1) : Text();
  const nlohmann::json tree = nlohmann::json::parse(U8(json), nullptr, false);
  if (tree.is_discarded() || !tree.is_object() || !tree.contains("itemListElement")) {
    return name;
  }
  name.clear();
  const nlohmann::json& list = tree["itemListElement"];
  for (std::size_t i = 0; list.is_array() && i < list.size() && i < 3; ++i) {
    if (!list[i].is_object() || !list[i].contains("item")) {
      break;
    }
    const nlohmann::json& item = list[i]["item"];
    std::string text;
    if (item.is_object() && item.contains("name")) {
      const nlohmann::json& value = item["name"];
      text = value.is_string() ? value.get<std::string>()
             : value.is_null()
                 ? std::string()
                 : value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    name += u">" + Trim(RemoveSurrogatePairs(U(text)));
  }
  if (!name.empty() && name[0] == u'>') {
    name.erase(0, 1);
  }
  return name;
}

void ReferenceHub(const Text& page, const Text& marker, IPageSink& sink) {
  Text region = ExtractBetween(page, marker, u"", u"\"footer-container\"");
  while (Has(region, u"<a href=\"")) {
    const std::size_t p = Pos(u"<a href=\"", region);
    const Text link = ExtractBetween(region, u"<a href=\"", u"", u"\"");
    region.erase(0, p + 5);
    if (!link.empty()) {
      sink.EnqueuePage(U8(link));
    }
  }
}

void ReferenceListing(const Text& page, const Text& url, ReferenceLines& lines, IPageSink& sink) {
  const int count = ReferenceCount(ExtractBetween(page, u"class=\"ranges\"", u"\"count\":", u","));
  if (count > 1000 && !Has(url, u"/metro/") && !Has(url, u"/rayon/") && !Has(url, u"/page-")) {
    sink.EnqueuePage(U8(url + u"metro/"));
  }
  if (!Has(url, u"/page-")) {
    const long long n = (static_cast<long long>(count) - 1) / 30;
    for (long long k = n; k >= 1; --k) {
      if (k + 1 <= 34) {
        sink.EnqueuePage(U8(url) + "page-" + std::to_string(k + 1) + "/");
      }
    }
  }
  const Text name = ReferenceCategoryName(page);
  const Text opener = u"<div class=\"minicard-item__info\">";
  Text region = page;
  while (Has(region, opener)) {
    const std::size_t p = Pos(opener, region);
    Text link = ExtractBetween(region, opener, u"href=\"", u"\"");
    region.erase(0, p + 5);
    link = CutAt(link, u'?');
    if (sink.EnqueuePage(U8(link))) {
      lines.Lines.push_back(link + u"=" + name);
    }
  }
  if (!Has(url, u"/page-")) {
    sink.Log(U8(u"В категории " + name + u" компаний: " + U(std::to_string(count))));
  }
}

Text ReferenceRedirectTarget(const Text& link) {
  Text v = PercentDecode(link);
  v = ExtractBetween(v, U(kRedirectTargetPrefix), u"", u"");
  return CutAt(CutAt(v, u'?'), u'&');
}

Text ReferenceSocial(const Text& social, const Text& marker) {
  Text v;
  if (Has(social, marker)) {
    std::size_t p = Pos(marker, social);
    p = LastPosBefore(u"href=\"", social, static_cast<long long>(p));
    const std::size_t q = Pos(u"\"", social, p + 6);
    v = q != 0 ? social.substr(p + 5, q - (p + 6)) : Text();
    v = ReferenceRedirectTarget(v);
  }
  return SanitizeQuotes(CutAt(v, u'?'));
}

std::string ReferenceRow(const Text& page, const Text& url, const ReferenceLines& lines) {
  Text v[12];
  v[0] = url;
  v[1] = lines.Lookup(url);
  v[2] = SanitizeQuotes(Clean(ExtractBetween(page, u"name: '", u"", u"'")));
  v[3] = Clean(ExtractBetween(page, u"PostalAddress\">", u"", u"</address>"));
  while (Has(v[3], u"  ")) {
    v[3] = ReplaceAll(v[3], u"  ", u" ");
  }
  v[3] = SanitizeQuotes(v[3]);
  v[4] = SanitizeQuotes(Clean(ExtractBetween(page, u"\"addressLocality\" content=\"", u"", u"\"")));
  const Text phones =
      ExtractBetween(page, u"<div class=\"service-block-controls\">", u"", u"</div");
  v[5] = SanitizeQuotes(Clean(ExtractBetween(phones, u"data-number=\"", u"", u"\"")));
  const Text messengers = ExtractBetween(page, u"id=\"social-messengers\">", u"", u"</div>");
  for (const auto& [column, prefix] : {std::pair{6, kWhatsAppPrefix}, {7, kTelegramPrefix}}) {
    Text link = ExtractBetween(messengers, U(prefix), u"", u"?");
    if (!link.empty()) {
      link = U(prefix) + link;
    }
    v[column] = SanitizeQuotes(link);
  }
  v[8] = SanitizeQuotes(ExtractBetween(messengers, U(kMaxProfilePrefix), u"", u"\""));
  const Text site_block = ExtractBetween(page, u"\"org-service-website\"", u"", u"</div");
  Text site = ExtractBetween(site_block, u"<a href=\"", u"", u"\"");
  if (Has(site, U(kRedirectPrefix))) {
    site = ReferenceRedirectTarget(site);
  }
  v[9] = SanitizeQuotes(CutAt(site, u'?'));
  const Text social = ExtractBetween(page, u"\"org-social-list\">", u"", u"</div");
  v[10] = ReferenceSocial(social, u"data-type=\"vk_group\"");
  v[11] = ReferenceSocial(social, u"data-type=\"telegram\"");

  OrganizationRow row;
  for (std::size_t i = 0; i < row.size(); ++i) {
    row[i] = U8(v[i]);
  }
  return FormatRow(row);
}

void ReferenceAnalyzePage(const Text& page, const Text& url, ReferenceLines& lines,
                          IPageSink& sink) {
  if (Has(page, u"window.Global.organizationId")) {
    sink.AppendRow(ReferenceRow(page, url, lines));
    return;
  }
  const Text heading = ExtractBetween(page, u"<h1 ", u"", u"</h1>");
  if (Has(heading, u"по станциям метро")) {
    ReferenceHub(page, u"<div class=\"hub-select", sink);
  } else if (Has(heading, u"по районам")) {
    ReferenceHub(page, u"<div class=\"hub-page", sink);
  } else {
    ReferenceListing(page, url, lines, sink);
  }
}

// Both readings of one page must have the same effects, in the same order.
void ExpectSameReading(const std::string& page, const std::string& url) {
  const std::string known_org = "https://mirava.ru/moskva/org/7/";
  const std::string known_category = "Кафе \"Уют\"";

  testing::RecordingSink bytes_sink;
  CategoryByUrl categories;
  categories.Add(known_org, known_category);
  AnalyzePage(page, url, categories, bytes_sink);

  testing::RecordingSink text_sink;
  ReferenceLines lines;
  lines.Lines.push_back(U(known_org) + u"=" + U(known_category));
  ReferenceAnalyzePage(U(page), U(url), lines, text_sink);

  ASSERT_EQ(bytes_sink.Events, text_sink.Events);
  ASSERT_EQ(categories.Count(), lines.Lines.size());
  for (const std::string& queued : bytes_sink.Queued) {
    ASSERT_EQ(categories.Lookup(queued), U8(lines.Lookup(U(queued)))) << queued;
  }
}

// Values and stray pieces that make the readers' rules matter.
const std::vector<std::string> kNasty = {
    "&quot;", "\"",  "'",  "<b>",  "<",     ">",    "&#x41;",  "&#55357;",     "&amp;quot;",
    "  ",     "   ", "\t", "\r\n", "🍕",     "?",    "&",       "%D0%9F",       "%",
    "%2",     "+",   "=",  "</a>", "</div", "<br>", "&laquo;", "\xE2\x80\x94", "Ё",
    "",
};

const std::vector<std::string> kStrayMarkers = {
    "<div class=\"minicard-item__info\">",
    "<div class=\"minicard-item__info\"><div class=\"minicard-item__info\">",
    "href=\"",
    "<a href=\"",
    "<a href=\"<a href=\"",
    "\"",
    "name: '",
    "PostalAddress\">",
    "</address>",
    "\"addressLocality\" content=\"",
    "<div class=\"service-block-controls\">",
    "data-number=\"",
    "id=\"social-messengers\">",
    "https://wa.me/",
    "https://t.me/",
    "https://max.ru/u/",
    "\"org-service-website\"",
    "https://mirava.ru/redirect/",
    "https://mirava.ru/redirect/?to=",
    "\"org-social-list\">",
    "data-type=\"vk_group\"",
    "data-type=\"telegram\"",
    "\"@type\":\"BreadcrumbList\"",
    "<li class=\"rel current\">",
    "class=\"ranges\"",
    "\"count\":",
    "\"footer-container\"",
    "<h1 ",
    "</h1>",
    std::string("\0", 1),
};

const std::vector<std::string> kMalformed = {
    "\x80",         "\xBF",
    "\xFF",         "\xFE",
    "\xC0\xAF",     "\xC1\x81",
    "\xE0\x80\xAF", "\xED\xA0\x80",
    "\xED\xBF\xBF", "\xF4\x90\x80\x80",
    "\xD0",         "\xE2\x80",
    "\xF0\x9F\x8D", "\xF8\x88\x80\x80\x80",
};

class PageMaker {
 public:
  explicit PageMaker(std::uint32_t seed) : random_(seed) {}

  std::size_t Below(std::size_t n) { return n == 0 ? 0 : random_() % n; }
  const std::string& Pick(const std::vector<std::string>& list) { return list[Below(list.size())]; }

  std::string Value(const std::string& plain) {
    std::string value = plain;
    for (std::size_t i = Below(4); i > 0; --i) {
      value.insert(Below(value.size() + 1), Below(3) == 0 ? Pick(kMalformed) : Pick(kNasty));
    }
    return value;
  }

  std::string Organization() {
    testing::OrganizationPageData data =
        testing::SampleOrganization(static_cast<std::uint32_t>(Below(1000)));
    data.Name = Value(data.Name);
    for (std::string& part : data.AddressParts) {
      part = Value(part);
    }
    data.Locality = Value(data.Locality);
    for (std::string& phone : data.Phones) {
      phone = Value(phone);
    }
    data.WhatsApp = Value(data.WhatsApp);
    data.Max = Value(data.Max);
    data.WebSite = Value(data.WebSite);
    data.Vk = Value(data.Vk);
    return testing::OrganizationPage(data, Shape());
  }

  std::string Listing() {
    testing::ListingPageData data;
    data.Heading = Value("Кафе в Москве");
    const char* counts[] = {"0",    "1",  "30",  "31",  "61",  "999", "1000", "1001",
                            "5000", "-3", " 45", "$40", "12 ", "",    "abc",  "2147483647"};
    data.CountText = counts[Below(std::size(counts))];
    data.Breadcrumb = Value("Кафе");
    data.HasStructuredData = Below(2) == 0;
    for (std::size_t i = Below(5); i > 0; --i) {
      data.StructuredNames.push_back(Value("Раздел " + std::to_string(i)));
    }
    for (std::size_t i = Below(12); i > 0; --i) {
      data.CardLinks.push_back(Below(4) == 0 ? std::string()
                                             : Value("https://mirava.ru/org/" +
                                                     std::to_string(Below(20)) + "/?from=list"));
    }
    return testing::ListingPage(data, Shape());
  }

  std::string Hub() {
    testing::HubPageData data;
    data.Kind = Below(2) == 0 ? testing::HubKind::Metro : testing::HubKind::District;
    data.Category = Value("Кафе");
    for (std::size_t i = Below(10); i > 0; --i) {
      data.Links.push_back(Value("https://mirava.ru/metro/" + std::to_string(Below(6)) + "/"));
    }
    return testing::HubPage(data, Shape());
  }

  // Stray markers and malformed bytes, half of them right next to a marker the readers use.
  void Mutate(std::string& page) {
    for (std::size_t i = Below(10); i > 0; --i) {
      std::size_t at = Below(page.size() + 1);
      if (Below(2) == 0) {
        const std::string& marker = Pick(kStrayMarkers);
        const std::size_t found = marker.empty() ? std::string::npos : page.find(marker);
        if (found != std::string::npos) {
          at = found + (Below(2) == 0 ? 0 : marker.size()) + Below(3);
          at = std::min(at, page.size());
        }
      }
      switch (Below(4)) {
        case 0:
          page.insert(at, Pick(kMalformed));
          break;
        case 1:
          page.insert(at, Pick(kStrayMarkers));
          break;
        case 2:
          page.erase(at, Below(4));  // may split a character
          break;
        default:
          page.insert(at, Pick(kNasty));
      }
    }
  }

 private:
  testing::PageShape Shape() {
    return {Below(3) == 0 ? 0 : 2000 + Below(30000), static_cast<std::uint32_t>(random_())};
  }

  std::mt19937 random_;
};

TEST(ReaderDifferential, GeneratedPagesWithMalformedBytes) {
  const std::string urls[] = {
      "https://mirava.ru/moskva/kafe/",
      "https://mirava.ru/moskva/kafe/page-3/",
      "https://mirava.ru/moskva/metro/arbat/kafe/",
      "https://mirava.ru/moskva/org/7/",
      "https://mirava.ru/moskva/ORG/7/",
  };
  PageMaker maker(20240601);
  for (int round = 0; round < 900; ++round) {
    std::string page;
    switch (round % 3) {
      case 0:
        page = maker.Organization();
        break;
      case 1:
        page = maker.Listing();
        break;
      default:
        page = maker.Hub();
    }
    if (round % 5 != 0) {
      maker.Mutate(page);
    }
    const std::string& url = urls[maker.Below(std::size(urls))];
    SCOPED_TRACE("round " + std::to_string(round));
    ExpectSameReading(page, url);
    if (::testing::Test::HasFatalFailure()) {
      return;
    }
  }
}

TEST(ReaderDifferential, HandWrittenCornerCases) {
  const std::string card = "<div class=\"minicard-item__info\">";
  const std::string cases[] = {
      // Cards without a link of their own take the next one, even from a much later card.
      "<h1 x>К</h1>" + card + card + card + "<a href=\"/a/\">" + card + "<a href=\"/b/?q\">",
      // Openers glued together and links that run into the next opener.
      "<h1 x>К</h1>" + card + card + "href=\"" + card + "\"" + card + "href=\"/z/\"",
      "<h1 x>по районам</h1><div class=\"hub-page\"><a href=\"<a href=\"<a href=\"/x/\">"
      "\"footer-container\"",
      "<h1 x>по районам</h1><div class=\"hub-page\"><a href=\"\xD0\">\xE2\x80<a href=\"/x/\"",
      // A code 0 before the structured data ends the search for its ">".
      std::string("<p>") + '\0' + "{\"@type\":\"BreadcrumbList\",\"itemListElement\":[]}<",
      std::string("<p>{\"@type\":\"BreadcrumbList\",\"itemListElement\":[]}<") + '\0' + "<",
      // Malformed bytes right at value borders.
      "window.Global.organizationId name: '\xD0'\xD0\x80 PostalAddress\">\xF0\x9F</address>",
      // Without an href before its type marker a social value is cut from the block's sixth
      // character on, which lies deeper than the sixth byte when the block starts with
      // Cyrillic or malformed bytes.
      "window.Global.organizationId \"org-social-list\">\xD0\xB0\xD0\xB1\xD0\xB2\xD0\xB3\xD0\xB4"
      "\xD0\xB5https://mirava.ru/redirect/?to=https%3A%2F%2Fvk.com%2Fq\" data-type=\"vk_group\"",
      "window.Global.organizationId \"org-social-list\">\xFF\xFF\xFF\xFF\xFF\xFFhttps://mirava.ru/"
      "redirect/?to=y\" data-type=\"telegram\"</div",
  };
  for (const std::string& page : cases) {
    SCOPED_TRACE(page);
    ExpectSameReading(page, "https://mirava.ru/moskva/kafe/");
  }
}

}  // namespace
}  // namespace mirava::analysis
