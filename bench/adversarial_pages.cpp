// Pages built to slow the readers down, each at doubling sizes, read as the run reads them: with
// the run's visited list (case-insensitive), its queue and its category lines. Time must grow
// linearly with the page: doubling a page may at most double the time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "analysis/category_by_url.h"
#include "analysis/page_analysis.h"
#include "engine/visited_list.h"
#include "tests/support/site_pages.h"

namespace {

using mirava::analysis::CategoryByUrl;
namespace pages = mirava::testing;

const std::string kListingUrl = "https://mirava.ru/moskva/kafe/";

// What the coordinator does with a page's effects, without the window.
class RunSink : public mirava::analysis::IPageSink {
 public:
  bool EnqueuePage(const std::string& url) override {
    if (!visited_.Add(url)) {
      return false;
    }
    queue_.push_back(url);
    return true;
  }
  void AppendRow(const std::string& row) override { benchmark::DoNotOptimize(row.data()); }
  void Log(const std::string& text) override { benchmark::DoNotOptimize(text.data()); }

 private:
  mirava::engine::VisitedList visited_;
  std::deque<std::string> queue_;
};

// Each iteration reads the page as a new run would: fresh visited list and category lines.
void Read(benchmark::State& state, const std::string& page, const std::string& url) {
  for (auto _ : state) {
    auto sink = std::make_unique<RunSink>();
    auto categories = std::make_unique<CategoryByUrl>();
    mirava::analysis::AnalyzePage(page, url, *categories, *sink);
    state.PauseTiming();  // freeing the run's lists is not part of reading the page
    sink.reset();
    categories.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
  state.SetComplexityN(static_cast<std::int64_t>(page.size()));
  state.counters["page_KB"] = static_cast<double>(page.size()) / 1024;
}

std::string ListingHead() {
  return "<h1 class=\"t\">Кафе</h1><div class=\"ranges\" "
         "data-p='{\"count\":5000,\"p\":1}'></div>\n";
}

// A structured-data breadcrumb whose first name is an array nested `range` levels deep.
void BM_NestedBreadcrumbName(benchmark::State& state) {
  const auto levels = static_cast<std::size_t>(state.range(0));
  const std::string page =
      ListingHead() +
      "<script type=\"application/ld+json\">{\"@type\":\"BreadcrumbList\",\"itemListElement\":"
      "[{\"item\":{\"name\":" +
      std::string(levels, '[') + std::string(levels, ']') + "}}]}</script>";
  Read(state, page, kListingUrl);
}

// Many cards without a link of their own, then one long link they all share; cards and link
// grow together (6,000 cards and a 200 KB link at the 800 KB size).
void BM_CardsSharingALongLink(benchmark::State& state) {
  const auto scale = static_cast<std::size_t>(state.range(0));
  std::string page = ListingHead() + "<li class=\"rel current\"><a>Кафе</a></li>\n";
  for (std::size_t i = 0; i < scale * 30; ++i) {
    page += "<div class=\"minicard-item__info\"><span>без ссылки</span><p>описание</p></div>\n";
  }
  page += "<a href=\"https://mirava.ru/moskva/firm/" + std::string(scale * 1000, 'A') + "/\">x</a>";
  Read(state, page, kListingUrl);
}

// A long category name from the breadcrumb and many cards with links of their own: every
// organization is reported under that name.
void BM_LongCategoryManyCards(benchmark::State& state) {
  const auto scale = static_cast<std::size_t>(state.range(0));
  pages::ListingPageData data;
  data.CountText = "5000";
  std::string name;
  for (std::size_t i = 0; i < scale * 200; ++i) {
    name += "Кафе ";
  }
  data.Breadcrumb = name + "конец";
  for (std::size_t i = 0; i < scale * 30; ++i) {
    data.CardLinks.push_back("https://mirava.ru/moskva/firm/" + std::to_string(i) + "/");
  }
  Read(state, pages::ListingPage(data), kListingUrl);
}

// A breadcrumb and an organization page whose values are full of TABs and line breaks.
void BM_LineBreaksInValues(benchmark::State& state) {
  const auto scale = static_cast<std::size_t>(state.range(0));
  std::string broken;
  for (std::size_t i = 0; i < scale * 1000; ++i) {
    broken += "Салон\t&quot;Лора&quot;\r\n";
  }
  const std::string page = "<script>window.Global.organizationId=1;</script>name: '" + broken +
                           "' <div itemtype=\"PostalAddress\">" + broken +
                           "</address><meta itemprop=\"addressLocality\" content=\"" + broken +
                           "\">";
  Read(state, page, "https://mirava.ru/moskva/firm/1/");
}

// The adversarial pages of bench_page_analysis, now with the run's visited list.
void BM_CardsWithoutLinks(benchmark::State& state) {
  const auto cards = static_cast<std::size_t>(state.range(0));
  std::string page = ListingHead();
  for (std::size_t i = 0; i < cards; ++i) {
    page +=
        "<div class=\"minicard-item\"><div class=\"minicard-item__info\"><span>Кафе без "
        "ссылки</span><p>описание карточки, адрес и телефоны</p></div></div>\n";
  }
  page += "<a href=\"https://mirava.ru/moskva/org/1/\">последняя</a>\n";
  Read(state, page, kListingUrl);
}

void BM_HubLinks(benchmark::State& state) {
  pages::HubPageData data;
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    data.Links.push_back("https://mirava.ru/moskva/metro/station-" + std::to_string(i) + "/kafe/");
  }
  Read(state, pages::HubPage(data), kListingUrl);
}

void BM_TagBrackets(benchmark::State& state) {
  std::string brackets;
  while (brackets.size() < static_cast<std::size_t>(state.range(0))) {
    brackets += "<><>";
  }
  const std::string page = "<script>window.Global.organizationId=1;</script>name: '" + brackets +
                           "' <address itemtype=\"PostalAddress\">" + brackets +
                           " </address>\"org-social-list\">" + brackets +
                           "data-type=\"vk_group\"</div>";
  Read(state, page, "https://mirava.ru/moskva/org/1/");
}

// Four sizes, each twice the one before.
#define MIRAVA_DOUBLING(bench, first) \
  BENCHMARK(bench)                    \
      ->Arg(first)                    \
      ->Arg(2 * (first))              \
      ->Arg(4 * (first))              \
      ->Arg(8 * (first))              \
      ->Unit(benchmark::kMillisecond) \
      ->Complexity(benchmark::oN)

MIRAVA_DOUBLING(BM_NestedBreadcrumbName, 1 << 17);
MIRAVA_DOUBLING(BM_CardsSharingALongLink, 50);
MIRAVA_DOUBLING(BM_LongCategoryManyCards, 25);
MIRAVA_DOUBLING(BM_LineBreaksInValues, 12);
MIRAVA_DOUBLING(BM_CardsWithoutLinks, 2500);
MIRAVA_DOUBLING(BM_HubLinks, 2500);
MIRAVA_DOUBLING(BM_TagBrackets, 1 << 18);

}  // namespace

BENCHMARK_MAIN();
