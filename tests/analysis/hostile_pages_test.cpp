// Pages built to hurt the run: nesting deep enough to exhaust a thread's stack, a link shared by
// thousands of cards, and values that carry TABs and line breaks into the results file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "analysis/organization_row.h"
#include "analysis/page_analysis.h"
#include "tests/analysis/recording_sink.h"

namespace mirava::analysis {
namespace {

using ::testing::ElementsAre;
using testing::RecordingSink;

const std::string kCategoryUrl = "https://mirava.ru/moskva/kafe/";

std::string Listing(const std::string& rest) {
  return "<h1 class=\"title\">Кафе</h1>\n<div class=\"ranges\" data-props='{\"count\":0,\"p\":1}'>"
         "</div>\n" +
         rest;
}

std::string StructuredBreadcrumb(const std::string& first_name) {
  return "<script type=\"application/ld+json\">{\"@type\":\"BreadcrumbList\",\"itemListElement\":"
         "[{\"item\":{\"name\":" +
         first_name + "}},{\"item\":{\"name\":\"Кафе\"}}]}</script>\n";
}

std::string Nested(char open, char close, std::size_t levels, const std::string& inner) {
  return std::string(levels, open) + inner + std::string(levels, close);
}

TEST(HostilePages, DeeplyNestedBreadcrumbNameIsIgnoredWithoutRecursion) {
  struct Case {
    const char* name;
    std::string first_name;
    std::string expected_log;
  };
  std::string objects;
  for (int i = 0; i < 100000; ++i) {
    objects += "{\"a\":";
  }
  objects += "1" + std::string(100000, '}');
  const Case cases[] = {
      // Shallow structures are written back as JSON text, as before.
      {"shallow array", "[[1,\"x\"]]", "В категории [[1,\"x\"]]>Кафе компаний: 0"},
      {"number", "42", "В категории 42>Кафе компаний: 0"},
      {"a million arrays", Nested('[', ']', 1000000, ""), "В категории >Кафе компаний: 0"},
      {"a hundred thousand objects", objects, "В категории >Кафе компаний: 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    CategoryByUrl categories;
    AnalyzePage(Listing(StructuredBreadcrumb(c.first_name)), kCategoryUrl, categories, sink);
    EXPECT_THAT(sink.Logs, ElementsAre(c.expected_log));
  }
}

// Counts the bytes of every address offered to the queue, the work a shared link costs.
class CountingSink : public RecordingSink {
 public:
  bool EnqueuePage(const std::string& url) override {
    OfferedBytes += url.size();
    ++Offers;
    return RecordingSink::EnqueuePage(url);
  }
  std::size_t OfferedBytes = 0;
  std::size_t Offers = 0;
};

TEST(HostilePages, LinkSharedByManyCardsIsOfferedOnce) {
  const std::string link = "https://mirava.ru/org/" + std::string(20000, 'a') + "/";
  std::string cards;
  for (int i = 0; i < 2000; ++i) {
    cards += "<div class=\"minicard-item__info\"><span>без ссылки</span></div>\n";
  }
  const std::string page = Listing(
      "<li class=\"rel current\"><a>Кафе</a></li>\n" + cards + "<a href=\"" + link +
      "?from=rubric\">x</a>\n" +
      "<div class=\"minicard-item__info\"><a href=\"https://mirava.ru/org/2/\">y</a></div>");

  for (const bool seen_before : {false, true}) {
    SCOPED_TRACE(seen_before ? "link queued earlier in the run" : "new link");
    CountingSink sink;
    if (seen_before) {
      sink.Visit(link);
    }
    CategoryByUrl categories;
    AnalyzePage(page, kCategoryUrl, categories, sink);

    // Old readers offered the 20 KB link once per card: 40 MB for a 100 KB page.
    EXPECT_LE(sink.OfferedBytes, page.size());
    EXPECT_EQ(sink.Offers, 2u);
    if (seen_before) {
      EXPECT_THAT(sink.Queued, ElementsAre("https://mirava.ru/org/2/"));
      EXPECT_EQ(categories.Lookup(link), "");
    } else {
      EXPECT_THAT(sink.Queued, ElementsAre(link, "https://mirava.ru/org/2/"));
      EXPECT_EQ(categories.Lookup(link), "Кафе");
    }
    EXPECT_EQ(categories.Lookup("https://mirava.ru/org/2/"), "Кафе");
  }
}

std::vector<std::string> Fields(const std::string& row) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = row.find('\t', start);
    fields.push_back(row.substr(start, tab - start));
    if (tab == std::string::npos) {
      return fields;
    }
    start = tab + 1;
  }
}

TEST(HostilePages, TabsAndLineBreaksInValuesBecomeSpacesInTheRow) {
  // A crawl in small: the listing gives the category, the organization page its row.
  const std::string listing = Listing(
      "<ul><li class=\"rel current\"><a href=\"/k/\">Салон &quot;Лора&quot;\n\tв центре"
      "</a></li></ul>\n"
      "<div class=\"minicard-item__info\"><a href=\"https://mirava.ru/org/\n1/\">a</a>"
      "</div>\n");
  RecordingSink sink;
  CategoryByUrl categories;
  AnalyzePage(listing, kCategoryUrl, categories, sink);
  ASSERT_THAT(sink.Queued, ElementsAre("https://mirava.ru/org/\n1/"));

  const std::string organization =
      "<script>window.Global.organizationId = 1;</script>\nname: 'ООО\tРога\tи копыта'\n"
      "<div itemtype=\"PostalAddress\">ул. Ленина,\t5</address>\n"
      "<meta itemprop=\"addressLocality\" content=\"Москва\r\n\">";
  AnalyzePage(organization, sink.Queued[0], categories, sink);

  ASSERT_EQ(sink.Rows.size(), 1u);
  const std::string& row = sink.Rows[0];
  EXPECT_EQ(row.find_first_of("\r\n"), std::string::npos);
  const std::vector<std::string> fields = Fields(row);
  ASSERT_EQ(fields.size(), kColumnCount);
  EXPECT_EQ(fields[kLinkColumn], "\"https://mirava.ru/org/ 1/\"");
  EXPECT_EQ(fields[kCategoryColumn], "\"Салон \"Лора\" в центре\"");
  EXPECT_EQ(fields[kOrganizationColumn], "\"ООО Рога и копыта\"");
  EXPECT_EQ(fields[kAddressColumn], "\"ул. Ленина, 5\"");
  EXPECT_EQ(fields[kCityColumn], "\"Москва\"");
}

TEST(HostilePages, RowFormatReplacesEachTabAndLineBreakAndKeepsEverythingElse) {
  OrganizationRow row;
  row[0] = "a\tb\r\nc";
  row[1] = "Кафе \"У дома\"";
  row[2] = " \xFF\x01 ";
  EXPECT_EQ(
      FormatRow(row),
      "\"a b  c\"\t\"Кафе \"У дома\"\"\t\" \xFF\x01 \"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\""
      "\t\"\"\t\"\"");
}

}  // namespace
}  // namespace mirava::analysis
