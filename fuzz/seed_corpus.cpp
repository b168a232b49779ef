// Writes the seed corpora of the fuzz targets from the tests' page generator:
//   fuzz_seed_corpus FOLDER   (fuzz/corpus is FOLDER in the repository)
// Seeds are kept small; the fuzzer grows its own corpus from them.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/organization_row.h"
#include "tests/support/site_pages.h"

namespace {

namespace fs = std::filesystem;
namespace pages = mirava::testing;

fs::path g_root;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(g_root / target);
  std::ofstream(g_root / target / name, std::ios::binary) << bytes;
}

const std::string kSeparator = "\n--next-page--\n";

void PageReaderSeeds() {
  // A listing, then the organization pages its cards queue: categories flow into rows.
  pages::ListingPageData listing;
  listing.Heading = "Кафе в Москве";
  listing.CountText = "3";
  listing.Breadcrumb = "Кафе";
  listing.HasStructuredData = true;
  listing.StructuredNames = {"Москва", "Еда", "Кафе \"У дома\""};
  std::string crawl;
  for (std::uint32_t i = 0; i < 2; ++i) {
    listing.CardLinks.push_back("https://mirava.ru/moskva/org/" + std::to_string(i) + "/?from=r");
  }
  crawl = pages::ListingPage(listing);
  for (std::uint32_t i = 0; i < 2; ++i) {
    crawl += kSeparator + pages::OrganizationPage(pages::SampleOrganization(i));
  }
  Write("page_reader", "listing-then-organizations", crawl);

  listing.CountText = "1234";
  listing.HasStructuredData = false;
  Write("page_reader", "listing-large-count", pages::ListingPage(listing, {6000, 3}));

  pages::HubPageData hub;
  hub.Links = {"https://mirava.ru/moskva/metro/a/kafe/", "https://mirava.ru/moskva/metro/b/kafe/"};
  Write("page_reader", "metro-hub", pages::HubPage(hub));
  hub.Kind = pages::HubKind::District;
  Write("page_reader", "district-hub", pages::HubPage(hub));
  Write("page_reader", "organization",
        pages::OrganizationPage(pages::SampleOrganization(7), {8000, 5}));

  // The hostile shapes, small: deep nesting, a shared link, line breaks in values.
  listing.CardLinks = {};
  listing.CountText = "0";
  std::string nested = pages::ListingPage(listing);
  nested +=
      "<script type=\"application/ld+json\">{\"@type\":\"BreadcrumbList\",\"itemListElement\":"
      "[{\"item\":{\"name\":" +
      std::string(300, '[') + std::string(300, ']') + "}}]}</script>";
  Write("page_reader", "nested-name", nested);
  std::string shared = "<h1 class=\"t\">Кафе</h1>";
  for (int i = 0; i < 40; ++i) {
    shared += "<div class=\"minicard-item__info\"><span>без ссылки</span></div>\n";
  }
  shared += "<a href=\"https://mirava.ru/org/" + std::string(500, 'a') + "/\">x</a>";
  Write("page_reader", "shared-link", shared);
  Write("page_reader", "line-breaks",
        "<h1 class=\"t\">Кафе</h1><li class=\"rel current\"><a>Салон &quot;Лора&quot;\n\tв "
        "центре</a></li><div class=\"minicard-item__info\"><a href=\"https://mirava.ru/org/\n1/\">"
        "</a></div>" +
            kSeparator +
            "window.Global.organizationId name: 'ООО\tРога' <div itemtype=\"PostalAddress\">ул.\r\n"
            "Ленина</address>");
}

void TextSeeds() {
  Write("text_toolkit", "entities",
        std::string("\x00", 1) +
            "a &amp;&lt;b&gt; &#1055;&#x440;&nbsp;&laquo;к&raquo; &#;&&amp; "
            "<br>x</b>|&|;|<");
  Write("text_toolkit", "extract",
        std::string("\x02", 1) +
            "name: 'Кафе' PostalAddress\">ул. "
            "Ленина</address>|name: '||'");
  Write("text_toolkit", "percent",
        std::string("\x04", 1) +
            "https://mirava.ru/redirect/?to=https%3A%2F%2F%D0%BF.%D1%80%D1%84"
            "%2F+x&y|https://|redirect|&");
  Write("text_toolkit", "utf16-surrogates",
        std::string("\x01"
                    "\x3D\xD8\x00\xDE"
                    "a\x00"
                    "\x3D\xD8"
                    "|\x00"
                    "a\x00",
                    13));
  Write("text_encoding", "cyrillic", "Москва=https://mirava.ru/moskva/\r\nЁлки\nёлки\rŸ");
  Write("text_encoding", "windows-1251", "\xCC\xEE\xF1\xEA\xE2\xE0\r\n\xA8\x98");
  Write("text_encoding", "malformed",
        "\xE0\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80\xC3\x28\xF0\x9F\x98");
  Write("text_encoding", "utf16-bom", std::string("\xFF\xFE\x1C\x04\x0D\x00\x0A\x00", 8));
}

void ResultsSeeds() {
  std::string results = "\xEF\xBB\xBF" + mirava::analysis::HeaderLine() + "\r\n";
  std::string workbook;
  for (std::uint32_t i = 0; i < 3; ++i) {
    const mirava::analysis::OrganizationRow row = pages::ExpectedRow(
        pages::SampleOrganization(i), "https://mirava.ru/moskva/org/" + std::to_string(i) + "/",
        i == 1 ? "Кафе \"У дома\"" : "Кафе");
    results += mirava::analysis::FormatRow(row) + "\r\n";
    for (std::size_t k = 0; k < row.size(); ++k) {
      workbook += row[k] + (k + 1 < row.size() ? "\x1F" : "");
    }
    workbook += i < 2 ? "\x1E" : "";
  }
  Write("tab_import", "results-file", "\x07" + results);
  Write("tab_import", "hand-edited", std::string("\x01") + "\"a\tb\"\t\"x\"\"\r\n\"\"\r\rend");
  Write("workbook_export", "rows", workbook);
  Write("workbook_export", "odd-values",
        std::string("=СУММ(A1)\x1F_x0041_\x1F\xFF\xFE\x1F\x01\x1F\xEF\xBF\xBF\x1F") +
            std::string("\x00", 1) + "\x1E\x1F\x1Fтретий");
}

std::string ReadData(const char* name) {
  std::ifstream file(fs::path(MIRAVA_SOURCE_DIR) / "data" / name, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // A few lines are enough.
  std::size_t end = 0;
  for (int line = 0; line < 6 && end != std::string::npos; ++line) {
    end = bytes.find('\n', end + 1);
  }
  return bytes.substr(0, end == std::string::npos ? bytes.size() : end + 1);
}

void ConfigSeeds() {
  Write("settings_ini", "settings", "\x01[Settings]\r\nUseProxy=1\r\nThreads=4\r\nInterval=0\r\n");
  Write("settings_ini", "other-sections",
        "\x65\xEF\xBB\xBF; comment\n[Window]\nThreads=9\n\n[ settings ]\r\n threads = +12 \r\n"
        "Interval=-5\r\n\r\n[Other]\r\nx=1");
  Write("settings_ini", "unterminated", "\x02[Settings]\nUseProxy=0");
  Write("list_files", "cities", ReadData("cities.txt"));
  Write("list_files", "categories", ReadData("categories.txt"));
  Write("list_files", "tabs-and-case", "Авто\tсервис=a/\r\nчип=b/\r\nЧИП=c/\r\n  Чип  \r\n=\r\n");
  Write("list_files", "windows-1251", "\xCC\xEE\xF1\xEA\xE2\xE0=x\r\n\xCA\xE0\xE7\xE0\xED\xFC=y");
  Write("proxy_list", "proxies",
        "\xEF\xBB\xBFuser:pass@10.0.0.1:8080\r\nhttp://u:p@host:3128\n10.0.0.2:80;user;pw\r\n"
        "\"h\" \"81\" \"u\" \"p\"\r\n\r\nhost:99999999999\rbare:80\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  g_root = argv[1];
  PageReaderSeeds();
  TextSeeds();
  ResultsSeeds();
  ConfigSeeds();
  return 0;
}
