#include "analysis/organization_row.h"

#include <gtest/gtest.h>

#include <string>

#include "analysis/page_analysis.h"
#include "tests/analysis/recording_sink.h"
#include "tests/support/site_pages.h"

namespace mirava::analysis {
namespace {

const std::string kUrl = "https://mirava.ru/moskva/org/1/";

OrganizationRow Read(const std::string& body) {
  return ExtractOrganizationRow("<script>window.Global.organizationId = 1;</script>\n" + body, kUrl,
                                "Кафе");
}

struct ColumnCase {
  const char* name;
  std::size_t column;  // 0-based
  std::string page;
  std::string expected;
};

void CheckColumns(const ColumnCase* begin, const ColumnCase* end) {
  for (const ColumnCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->name);
    EXPECT_EQ(Read(c->page).at(c->column), c->expected);
  }
}

TEST(OrganizationRow, TextColumnsAreCleanedAndLoseTheirDoubleQuotes) {
  const ColumnCase cases[] = {
      {"name with references", 2, "name: 'ООО &quot;Ромашка&quot; &amp; Ко'", "ООО 'Ромашка' & Ко"},
      {"name with a raw double quote", 2, "name: 'Кафе \"Уют\"'", "Кафе 'Уют'"},
      {"name with guillemets", 2, "name: 'Кафе &laquo;Уют&raquo;'", "Кафе «Уют»"},
      {"name keeps inner runs of spaces and TABs", 2, "name: '  Кафе   <b>Уют</b>\tплюс\n '",
       "Кафе   Уют\tплюс"},
      {"name: first occurrence only", 2, "name: 'Первый' name: 'Второй'", "Первый"},
      {"no name", 2, "title: 'Кафе'", ""},
      {"address on one line", 3,
       "<address itemtype=\"http://schema.org/PostalAddress\">\n   <span>Москва</span>,<br>\n"
       "   <span>ул.    Ленина,  5</span>\r\n</address>",
       "Москва, ул. Ленина, 5"},
      {"address with a quote", 3, "PostalAddress\">ТЦ &quot;Атриум&quot;</address>", "ТЦ 'Атриум'"},
      {"address without its end", 3, "PostalAddress\">Москва", ""},
      {"city", 4, "<meta itemprop=\"addressLocality\" content=\" Нижний &quot;Н&quot; \">",
       "Нижний 'Н'"},
      {"first phone of the block", 5,
       "<b data-number=\"000\"></b><div class=\"service-block-controls\">\n"
       "<button data-number=\" +7 (495) 123-45-67 \">1</button>"
       "<button data-number=\"+7 900\">2</button></div>",
       "+7 (495) 123-45-67"},
      {"phone block ends before the number", 5,
       "<div class=\"service-block-controls\"><div></div><b data-number=\"1\"></b></div>", ""},
  };
  CheckColumns(std::begin(cases), std::end(cases));
}

TEST(OrganizationRow, MessengerLinksAreRebuiltFromTheirPrefix) {
  const std::string block = "<div id=\"social-messengers\">";
  const ColumnCase cases[] = {
      {"WhatsApp without its query", 6,
       block + "<a href=\"https://wa.me/79001234567?text=%D0%97\">W</a></div>",
       "https://wa.me/79001234567"},
      {"WhatsApp without any later question mark", 6,
       block + "<a href=\"https://wa.me/79001234567\">W</a></div>", ""},
      {"WhatsApp question mark beyond the link", 6,
       block + "<a href=\"https://wa.me/7900\" class=\"wa\">W</a>"
               "<a href=\"https://t.me/bot?start=1\">T</a></div>",
       "https://wa.me/7900' class='wa'>W</a><a href='https://t.me/bot"},
      {"WhatsApp outside the block", 6, block + "</div><a href=\"https://wa.me/7900?x=1\">W</a>",
       ""},
      {"Telegram", 7, block + "<a href=\"https://t.me/org_1?start=mirava\">T</a></div>",
       "https://t.me/org_1"},
      {"Max without its prefix", 8, block + "<a href=\"https://max.ru/u/f9LHodD0cOI\">M</a></div>",
       "f9LHodD0cOI"},
  };
  CheckColumns(std::begin(cases), std::end(cases));
}

TEST(OrganizationRow, WebSiteAndSocialLinksFollowTheDirectoryRedirect) {
  const auto site = [](const std::string& link) {
    return "<div class=\"org-service-website\"><a href=\"" + link + "\">сайт</a></div>";
  };
  const auto social = [](const std::string& links) {
    return "<div class=\"org-social-list\">" + links + "</div>";
  };
  const ColumnCase cases[] = {
      {"direct site without its query", 9, site("https://site.ru/path?utm=1&amp;b=2"),
       "https://site.ru/path"},
      {"redirect with an encoded target and its own query", 9,
       site("https://mirava.ru/redirect/?to=https%3A%2F%2Fsite.ru%2Fa%3Fb%3D1&amp;sign=2"),
       "https://site.ru/a"},
      {"redirect without a target", 9, site("https://mirava.ru/redirect/?sign=2"), ""},
      {"redirect to a Cyrillic host", 9,
       site("https://mirava.ru/redirect/?to=https%3A%2F%2F%D0%BF%D1%80%D0%B8%D0%BC%D0%B5%D1%80."
            "%D1%80%D1%84%2F"),
       "https://пример.рф/"},
      {"redirect target with an encoded ampersand", 9,
       site("https://mirava.ru/redirect/?to=https%3A%2F%2Fsite.ru%2Fa%26b"), "https://site.ru/a"},
      {"no site block", 9, "<a href=\"https://site.ru/\">x</a>", ""},
      {"VK redirect with the target last", 10,
       social("<a href=\"https://mirava.ru/redirect/?to=https%3A%2F%2Fvk.com%2Fclub1\" "
              "data-type=\"vk_group\">VK</a>"),
       "https://vk.com/club1"},
      {"VK direct link", 10, social("<a href=\"https://vk.com/club1\" data-type=\"vk_group\">"),
       ""},
      {"VK takes the last href before its type marker", 10,
       social("<a href=\"https://mirava.ru/redirect/?to=https%3A%2F%2Ft.me%2Fx\" "
              "data-type=\"telegram\"></a><a data-type=\"vk_group\" "
              "href=\"https://mirava.ru/redirect/?to=https%3A%2F%2Fvk.com%2Fclub1\"></a>"),
       "https://t.me/x"},
      {"TG redirect without the target's query", 11,
       social("<a href=\"https://mirava.ru/redirect/?to=https%3A%2F%2Ft.me%2Fchannel%3Fx%3D1"
              "&amp;s=1\" data-type=\"telegram\">TG</a>"),
       "https://t.me/channel"},
      {"no social block", 10,
       "<a href=\"https://mirava.ru/redirect/?to=x\" data-type=\"vk_group\">", ""},
      {"no social block", 11, "", ""},
  };
  CheckColumns(std::begin(cases), std::end(cases));
}

TEST(OrganizationRow, MarkerOnlyPageGivesAddressCategoryAndEmptyColumns) {
  testing::RecordingSink sink;
  CategoryByUrl categories;
  categories.Add("https://MIRAVA.ru/moskva/org/1/", "Кафе \"Уют\"");
  AnalyzePage("window.Global.organizationId", kUrl, categories, sink);
  ASSERT_EQ(sink.Rows.size(), 1u);
  EXPECT_EQ(sink.Rows[0], "\"" + kUrl +
                              "\"\t\"Кафе \"Уют\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t"
                              "\"\"\t\"\"\t\"\"");

  // An organization reached other than through a listing has no category.
  testing::RecordingSink other;
  AnalyzePage("window.Global.organizationId", "https://mirava.ru/moskva/org/2/", categories, other);
  EXPECT_EQ(other.Rows.at(0).rfind("\"https://mirava.ru/moskva/org/2/\"\t\"\"\t", 0), 0u);
}

TEST(OrganizationRow, RowAndHeaderLayout) {
  EXPECT_EQ(HeaderLine(),
            "\"Ссылка\"\t\"Имя рубрики\"\t\"Организация\"\t\"Адрес\"\t\"Город\"\t\"Телефон\"\t"
            "\"WhatsApp\"\t\"Telegram\"\t\"Max\"\t\"Сайт\"\t\"VK\"\t\"TG\"");
  OrganizationRow row;
  for (std::size_t i = 0; i < row.size(); ++i) {
    row[i] = std::to_string(i + 1);
  }
  row[2] = "a\tb";
  EXPECT_EQ(
      FormatRow(row),
      "\"1\"\t\"2\"\t\"a b\"\t\"4\"\t\"5\"\t\"6\"\t\"7\"\t\"8\"\t\"9\"\t\"10\"\t\"11\"\t\"12\"");
}

TEST(OrganizationRow, GeneratedPagesGiveTheirExpectedRows) {
  for (std::uint32_t index = 0; index < 42; ++index) {
    SCOPED_TRACE(index);
    const testing::OrganizationPageData data = testing::SampleOrganization(index);
    const testing::PageShape shape{index % 3 == 0 ? 150000 + index * 5000 : 0, index + 1};
    const std::string url = "https://mirava.ru/org/" + std::to_string(index) + "/";
    EXPECT_EQ(ExtractOrganizationRow(testing::OrganizationPage(data, shape), url, "Кафе"),
              testing::ExpectedRow(data, url, "Кафе"));
  }
}

}  // namespace
}  // namespace mirava::analysis
