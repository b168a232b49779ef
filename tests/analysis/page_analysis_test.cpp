#include "analysis/page_analysis.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/listing_page.h"
#include "tests/analysis/recording_sink.h"
#include "tests/support/site_pages.h"

namespace mirava::analysis {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using testing::RecordingSink;

const std::string kCategoryUrl = "https://mirava.ru/moskva/kafe/";

std::string CountBlock(const std::string& count) {
  return "<div class=\"ranges\" data-props='{\"count\":" + count + ",\"page\":1}'></div>\n";
}

std::string ListingFixture(const std::string& count, const std::string& rest = "") {
  return "<h1 class=\"title\">Кафе</h1>\n" + CountBlock(count) + rest;
}

std::string Card(const std::string& inner) {
  return "<div class=\"minicard-item__info\">" + inner + "</div>\n";
}

std::vector<std::string> PagesDown(const std::string& url, int from, int to) {
  std::vector<std::string> pages;
  for (int k = from; k >= to; --k) {
    pages.push_back(url + "page-" + std::to_string(k) + "/");
  }
  return pages;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ReadCompanyCount, ReadsLenientlyButRejectsAnyStrayCharacter) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"30", 30},
      {"   42", 42},
      {"+7", 7},
      {"-5", -5},
      {"$1F", 31},
      {"x10", 16},
      {"X10", 16},
      {"0x10", 16},
      {"0X1f", 31},
      {"-0x10", -16},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", 0},
      {"99999999999999999999", 0},
      {"42 ", 0},
      {"4 2", 0},
      {"\t5", 0},
      {"1e3", 0},
      {"12abc", 0},
      {"$", 0},
      {"0x", 0},
      {"-", 0},
      {"", 0},
      {"١٢", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadCompanyCount(c.text), c.expected) << "\"" << c.text << "\"";
  }
}

TEST(AnalyzePage, ListingQueuesMetroHubThenLaterPagesHighestFirst) {
  struct Case {
    const char* name;
    std::string url;
    std::string count;
    std::vector<std::string> expected;
  };
  const std::string metro = "https://mirava.ru/moskva/metro/arbatskaya/kafe/";
  const std::string rayon = "https://mirava.ru/moskva/rayon/arbat/kafe/";
  const std::string later = kCategoryUrl + "page-2/";
  const Case cases[] = {
      {"30 fits one page", kCategoryUrl, "30", {}},
      {"31 needs page 2", kCategoryUrl, "31", PagesDown(kCategoryUrl, 2, 2)},
      {"60 still page 2", kCategoryUrl, "60", PagesDown(kCategoryUrl, 2, 2)},
      {"61 pages 3 and 2", kCategoryUrl, "61", PagesDown(kCategoryUrl, 3, 2)},
      {"991 reaches the last page", kCategoryUrl, "991", PagesDown(kCategoryUrl, 34, 2)},
      {"1000 is not split", kCategoryUrl, "1000", PagesDown(kCategoryUrl, 34, 2)},
      {"1001 is split by metro first", kCategoryUrl, "1001",
       Join({kCategoryUrl + "metro/"}, PagesDown(kCategoryUrl, 34, 2))},
      {"5000", kCategoryUrl, "5000",
       Join({kCategoryUrl + "metro/"}, PagesDown(kCategoryUrl, 34, 2))},
      {"station listing is not split again", metro, "1001", PagesDown(metro, 34, 2)},
      {"district listing is not split again", rayon, "1001", PagesDown(rayon, 34, 2)},
      {"later page queues nothing", later, "1001", {}},
      {"no count", kCategoryUrl, "", {}},
      {"negative count", kCategoryUrl, "-40", {}},
      {"lowest count", kCategoryUrl, "-2147483648", {}},
      {"highest count", kCategoryUrl, "2147483647",
       Join({kCategoryUrl + "metro/"}, PagesDown(kCategoryUrl, 34, 2))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    CategoryByUrl categories;
    AnalyzePage(ListingFixture(c.count), c.url, categories, sink);
    EXPECT_THAT(sink.Queued, ElementsAreArray(c.expected));
    EXPECT_EQ(categories.Count(), 0u);
  }
}

TEST(AnalyzePage, ListingLogsItsCountUnlessItIsALaterPage) {
  const std::string page =
      ListingFixture("61", "<li class=\"rel current\"><a href=\"/moskva/kafe/\">Кафе</a></li>");
  RecordingSink first;
  CategoryByUrl categories;
  AnalyzePage(page, kCategoryUrl, categories, first);
  EXPECT_THAT(first.Logs, ElementsAre("В категории Кафе компаний: 61"));

  RecordingSink later;
  AnalyzePage(page, kCategoryUrl + "page-3/", categories, later);
  EXPECT_THAT(later.Logs, IsEmpty());
}

TEST(AnalyzePage, PageWithoutMarkersIsAnEmptyListing) {
  const std::string error_page = "<html><body><p>Сервис временно недоступен</p></body></html>";
  RecordingSink sink;
  CategoryByUrl categories;
  AnalyzePage(error_page, kCategoryUrl, categories, sink);
  EXPECT_THAT(sink.Events, ElementsAre("log В категории  компаний: 0"));
}

TEST(AnalyzePage, CategoryNameFromBreadcrumbOrStructuredData) {
  struct Case {
    const char* name;
    std::string markup;
    std::string expected;
  };
  const std::string crumb =
      "<li class=\"rel current\"><a href=\"/moskva/kafe/\">\n  Кафе &amp; <b>бары</b> </a></li>\n";
  const auto data = [](const std::string& json) {
    return "<script type=\"application/ld+json\">" + json + "</script>\n";
  };
  const auto list = [](const std::string& elements) {
    return "{\"@type\":\"BreadcrumbList\",\"itemListElement\":[" + elements + "]}";
  };
  const auto element = [](const std::string& name) {
    return "{\"@type\":\"ListItem\",\"item\":{\"@id\":\"/x/\",\"name\":\"" + name + "\"}}";
  };
  const Case cases[] = {
      {"breadcrumb alone", crumb, "Кафе & бары"},
      {"two structured names", crumb + data(list(element("Москва") + "," + element("Кафе"))),
       "Москва>Кафе"},
      {"three structured names",
       data(list(element("Москва") + "," + element("Еда") + "," + element("Кафе"))) + crumb,
       "Москва>Еда>Кафе"},
      {"only the first three names",
       crumb +
           data(list(element("A") + "," + element("B") + "," + element("C") + "," + element("D"))),
       "A>B>C"},
      {"empty structured names still replace the breadcrumb",
       crumb + data(list(element("") + "," + element(""))), ">"},
      {"empty list", crumb + data(list("")), ""},
      {"names are trimmed and lose characters beyond the basic plane",
       crumb + data(list(element(" 🍕Пицца ") + "," + element("\\ud83c\\udf54 Бургеры"))),
       "Пицца>Бургеры"},
      {"no itemListElement", crumb + data("{\"@type\":\"BreadcrumbList\",\"name\":\"x\"}"),
       "Кафе & бары"},
      {"unreadable json", crumb + data("{\"@type\":\"BreadcrumbList\",\"itemListElement\":[,]}"),
       "Кафе & бары"},
      {"a tag character inside cuts the json short", crumb + data(list(element("a<b"))),
       "Кафе & бары"},
      {"itemListElement that is not an array",
       crumb + data("{\"@type\":\"BreadcrumbList\",\"itemListElement\":{\"item\":{}}}"), ""},
      {"an element that is not an object ends the walk",
       crumb + data(list(element("A") + ",5," + element("C"))), "A"},
      {"an element without item ends the walk",
       crumb + data(list(element("A") + ",{\"name\":\"B\"}," + element("C"))), "A"},
      {"an item without name gives an empty name",
       crumb + data(list(element("A") + ",{\"item\":{}}," + element("C"))), "A>>C"},
      {"a name that is not a string",
       crumb + data(list(element("A") + ",{\"item\":{\"name\":42}}")), "A>42"},
      {"neither", "<p>Кафе</p>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadCategoryName(c.markup), c.expected);

    RecordingSink sink;
    CategoryByUrl categories;
    AnalyzePage(ListingFixture("5", c.markup + Card("<a href=\"/org/1/\">1</a>")), kCategoryUrl,
                categories, sink);
    EXPECT_EQ(categories.Lookup("/org/1/"), c.expected);
    EXPECT_THAT(sink.Logs, ElementsAre("В категории " + c.expected + " компаний: 5"));
  }

  // The structured data starts after the last ">" before its marker: at the page's start
  // there is none, and the json is not read.
  EXPECT_EQ(ReadCategoryName(list(element("Москва")) + "<p>" + crumb), "Кафе & бары");
  EXPECT_EQ(ReadCategoryName("<p>" + list(element("Москва")) + "<p>" + crumb), "Москва");
}

TEST(AnalyzePage, CardsQueueTheirLinksAfterThePagesWithTheirCategory) {
  const std::string page = ListingFixture(
      "45",
      "<li class=\"rel current\"><a href=\"/\">Кафе</a></li>\n" +
          Card("<a class=\"t\" href=\"https://mirava.ru/org/1/?from=list&amp;p=2\">Один</a>") +
          Card("<span>без ссылки</span>") + Card("<a href=\"https://mirava.ru/org/2/\">Два</a>") +
          Card("<a href=\"https://mirava.ru/ORG/3/\">Три</a>") +
          Card("<a href=\"https://mirava.ru/org/4/\">Четыре</a>"));
  RecordingSink sink;
  sink.Visit("https://mirava.ru/org/3/");  // queued earlier from another category
  CategoryByUrl categories;
  categories.Add("https://mirava.ru/org/3/", "Рестораны");

  AnalyzePage(page, kCategoryUrl, categories, sink);

  // The card without a link takes the next card's link, which that card then finds visited.
  EXPECT_THAT(sink.Events,
              ElementsAre("queue " + kCategoryUrl + "page-2/", "queue https://mirava.ru/org/1/",
                          "queue https://mirava.ru/org/2/", "queue https://mirava.ru/org/4/",
                          "log В категории Кафе компаний: 45"));
  EXPECT_EQ(categories.Lookup("https://mirava.ru/org/1/"), "Кафе");
  EXPECT_EQ(categories.Lookup("https://mirava.ru/org/2/"), "Кафе");
  EXPECT_EQ(categories.Lookup("https://mirava.ru/org/3/"), "Рестораны");
  EXPECT_EQ(categories.Lookup("https://mirava.ru/org/4/"), "Кафе");
  EXPECT_EQ(categories.Count(), 4u);
}

TEST(AnalyzePage, CardWithoutAnyLaterLinkQueuesTheEmptyAddressOnce) {
  const std::string page =
      ListingFixture("2", Card("<span>один</span>") + Card("<span>два</span>"));
  RecordingSink sink;
  CategoryByUrl categories;
  AnalyzePage(page, kCategoryUrl, categories, sink);
  EXPECT_THAT(sink.Queued, ElementsAre(""));
  EXPECT_EQ(categories.Count(), 1u);
}

TEST(AnalyzePage, LaterPageQueuesItsCardsButNothingElse) {
  const std::string page = ListingFixture("5000", Card("<a href=\"/org/7/\">7</a>"));
  RecordingSink sink;
  CategoryByUrl categories;
  AnalyzePage(page, kCategoryUrl + "page-5/", categories, sink);
  EXPECT_THAT(sink.Events, ElementsAre("queue /org/7/"));
}

std::string HubFixture(const std::string& heading, const std::string& region_class,
                       const std::string& links) {
  return "<nav><a href=\"/nav/\">Меню</a></nav>\n<h1 class=\"hub\">" + heading + "</h1>\n" +
         "<div class=\"" + region_class + "\">\n" + links +
         "</div>\n<div class=\"footer-container\"><a href=\"/after/\">x</a></div>";
}

TEST(AnalyzePage, HubPagesQueueTheirLinksAsWrittenInPageOrder) {
  const std::string links =
      "<a href=\"/kafe/metro/b/\">Б</a>\n<a href=\"/kafe/metro/a/?sort=1\">А</a>\n"
      "<a href=\"\">пусто</a>\n<a href=\"/KAFE/metro/B/\">Б ещё раз</a>\n"
      "<a class=\"x\" href=\"/not-an-opener/\">x</a>\n";
  struct Case {
    const char* name;
    std::string page;
    std::vector<std::string> expected;
  };
  const std::vector<std::string> hub_links = {"/kafe/metro/b/", "/kafe/metro/a/?sort=1"};
  const Case cases[] = {
      {"metro hub", HubFixture("Кафе по станциям метро", "hub-select hub-select--metro", links),
       hub_links},
      {"district hub", HubFixture("Кафе по районам", "hub-page", links), hub_links},
      {"both wordings make a metro hub",
       HubFixture("Кафе по районам и по станциям метро", "hub-page", links) +
           "<div class=\"hub-select\"><a href=\"/m/\">м</a></div>\"footer-container\"",
       {"/m/"}},
      {"hub without its region", HubFixture("Кафе по районам", "hub-list", links), {}},
      {"an opener inside a link's value",
       HubFixture("Кафе по районам", "hub-page", "<a href=\"<a href=\"/x/\">"),
       {"<a href=", "/x/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    CategoryByUrl categories;
    AnalyzePage(c.page, kCategoryUrl, categories, sink);
    EXPECT_THAT(sink.Queued, ElementsAreArray(c.expected));
    EXPECT_THAT(sink.Logs, IsEmpty());
    EXPECT_EQ(categories.Count(), 0u);
  }
}

TEST(AnalyzePage, HeadingWithoutAttributesIsNotAHub) {
  RecordingSink sink;
  CategoryByUrl categories;
  AnalyzePage("<h1>Кафе по районам</h1><div class=\"hub-page\"><a href=\"/a/\">а</a></div>",
              kCategoryUrl, categories, sink);
  EXPECT_THAT(sink.Events, ElementsAre("log В категории  компаний: 0"));
}

TEST(AnalyzePage, OrganizationMarkerAnywhereMakesARowAndNothingElse) {
  const std::string page = ListingFixture("5000", Card("<a href=\"/org/1/\">1</a>")) +
                           "<script>window.Global.organizationId = 5;</script>";
  RecordingSink sink;
  CategoryByUrl categories;
  categories.Add("https://mirava.ru/org/5/", "Кафе \"Уют\"");
  AnalyzePage(page, "https://mirava.ru/ORG/5/", categories, sink);
  ASSERT_EQ(sink.Events.size(), 1u);
  EXPECT_EQ(sink.Rows.at(0),
            "\"https://mirava.ru/ORG/5/\"\t\"Кафе \"Уют\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t"
            "\"\"\t\"\"\t\"\"\t\"\"");
}

TEST(AnalyzePage, RefusedRowReachesTheCaller) {
  RecordingSink sink;
  sink.RefuseRows = true;
  CategoryByUrl categories;
  EXPECT_THROW(AnalyzePage("window.Global.organizationId", "u", categories, sink),
               std::runtime_error);
}

TEST(AnalyzePage, GeneratedListingPages) {
  testing::ListingPageData data;
  data.Heading = "Кафе в Москве";
  data.CountText = "95";
  data.Breadcrumb = "Кафе";
  data.HasStructuredData = true;
  data.StructuredNames = {"Москва", "Еда и напитки", "Кафе", "Кафе с верандой"};
  for (int i = 0; i < 30; ++i) {
    data.CardLinks.push_back("https://mirava.ru/moskva/org/" + std::to_string(100 + i) + "/");
  }
  const std::vector<std::string> expected = Join(PagesDown(kCategoryUrl, 4, 2), data.CardLinks);

  for (const std::size_t size : {std::size_t{0}, std::size_t{300000}}) {
    SCOPED_TRACE(size);
    RecordingSink sink;
    CategoryByUrl categories;
    AnalyzePage(testing::ListingPage(data, {size, 7}), kCategoryUrl, categories, sink);
    EXPECT_THAT(sink.Queued, ElementsAreArray(expected));
    EXPECT_EQ(categories.Lookup(data.CardLinks.back()), testing::ExpectedCategoryName(data));
    EXPECT_THAT(sink.Logs, ElementsAre("В категории Москва>Еда и напитки>Кафе компаний: 95"));
  }

  testing::HubPageData hub;
  hub.Kind = testing::HubKind::District;
  hub.Links = {"https://mirava.ru/moskva/rayon/arbat/kafe/",
               "https://mirava.ru/moskva/rayon/tverskoy/kafe/"};
  RecordingSink sink;
  CategoryByUrl categories;
  AnalyzePage(testing::HubPage(hub, {200000, 3}), kCategoryUrl, categories, sink);
  EXPECT_THAT(sink.Queued, ElementsAreArray(hub.Links));
}

// A run holds when pages stop being recognised, so a page the site still serves as usual must never
// read as unrecognised, and a check page or a redesign must never read as recognised.
TEST(AnalyzePage, TellsWhetherThePageLookedLikeTheDirectory) {
  testing::OrganizationPageData organization = testing::SampleOrganization(3);
  testing::OrganizationPageData nameless = organization;
  nameless.Name.clear();
  testing::OrganizationPageData bare = nameless;
  bare.AddressParts.clear();
  testing::HubPageData hub;
  hub.Kind = testing::HubKind::Metro;
  hub.Links = {"https://mirava.ru/moskva/metro/arbatskaya/kafe/"};
  testing::HubPageData empty_hub = hub;
  empty_hub.Links.clear();

  struct Case {
    const char* name;
    std::string page;
    PageKind kind;
    bool recognised;
  };
  const Case cases[] = {
      {"organization page", testing::OrganizationPage(organization), PageKind::Organization, true},
      {"organization without a name", testing::OrganizationPage(nameless), PageKind::Organization,
       true},
      {"organization without name and address", testing::OrganizationPage(bare),
       PageKind::Organization, false},
      {"redesigned organization page", testing::RedesignedOrganizationPage(organization),
       PageKind::Organization, false},
      {"listing with cards", ListingFixture("61", Card("<a href=\"/org/1/\">1</a>")),
       PageKind::Listing, true},
      {"empty rubric: a count of 0", ListingFixture("0"), PageKind::Listing, true},
      {"cards without the count", Card("<a href=\"/org/1/\">1</a>"), PageKind::Listing, true},
      {"count marker without its value", "<div class=\"ranges\">\"count\":</div>",
       PageKind::Listing, true},
      {"robot check", testing::RobotCheckPage(), PageKind::Listing, false},
      {"error page", "<html><body><p>Сервис временно недоступен</p></body></html>",
       PageKind::Listing, false},
      {"ranges block without a count", "<div class=\"ranges\"></div>", PageKind::Listing, false},
      {"hub with a link", testing::HubPage(hub), PageKind::Hub, true},
      {"hub without links", testing::HubPage(empty_hub), PageKind::Hub, false},
      {"empty page", "", PageKind::Listing, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    CategoryByUrl categories;
    const PageReading reading = AnalyzePage(c.page, kCategoryUrl, categories, sink);
    EXPECT_EQ(reading.Kind, c.kind);
    EXPECT_EQ(reading.Recognised, c.recognised);
  }
}

TEST(AnalyzePage, OrganizationReadingTellsWhichValuesWereFound) {
  testing::OrganizationPageData data = testing::SampleOrganization(5);
  data.Phones.clear();
  RecordingSink sink;
  CategoryByUrl categories;
  categories.Add("https://mirava.ru/org/5/", "Кафе");
  const PageReading reading =
      AnalyzePage(testing::OrganizationPage(data), "https://mirava.ru/org/5/", categories, sink);
  const OrganizationRow expected = testing::ExpectedRow(data, "https://mirava.ru/org/5/", "Кафе");
  for (std::size_t column = 0; column < kColumnCount; ++column) {
    EXPECT_EQ(reading.Found[column], !expected[column].empty()) << kColumnTitles[column];
  }
  EXPECT_FALSE(reading.Found[kPhoneColumn]);
  EXPECT_TRUE(reading.Found[kOrganizationColumn]);
}

}  // namespace
}  // namespace mirava::analysis
