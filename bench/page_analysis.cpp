// Page analysis throughput on realistic generated pages, next to the cost of merely finding the
// first occurrence of each marker a page kind needs (memmem over the same bytes), and the growth
// of analysis time on adversarial pages.
#include <benchmark/benchmark.h>
#include <string.h>  // memmem

#include <string>
#include <string_view>
#include <vector>

#include "analysis/page_analysis.h"
#include "tests/support/site_pages.h"

namespace {

using mirava::analysis::AnalyzePage;
using mirava::analysis::CategoryByUrl;
namespace pages = mirava::testing;

const std::string kListingUrl = "https://mirava.ru/moskva/kafe/";

// Collects what analysis hands over, as the coordinator would, without a queue behind it.
class CollectingSink : public mirava::analysis::IPageSink {
 public:
  bool EnqueuePage(const std::string& url) override {
    queued_.push_back(url);
    return true;
  }
  void AppendRow(const std::string& row) override { rows_.push_back(row); }
  void Log(const std::string& text) override { logs_.push_back(text); }
  void Clear() {
    queued_.clear();
    rows_.clear();
    logs_.clear();
  }

 private:
  std::vector<std::string> queued_;
  std::vector<std::string> rows_;
  std::vector<std::string> logs_;
};

const std::vector<std::string>& OrganizationCorpus() {
  static const std::vector<std::string> corpus = [] {
    std::vector<std::string> pages;
    constexpr std::uint32_t kCount = 24;
    for (std::uint32_t i = 0; i < kCount; ++i) {
      const std::size_t size = 150000 + i * (250000 / (kCount - 1));
      pages.push_back(pages::OrganizationPage(pages::SampleOrganization(i), {size, i + 11}));
    }
    return pages;
  }();
  return corpus;
}

const std::vector<std::string>& ListingCorpus() {
  static const std::vector<std::string> corpus = [] {
    std::vector<std::string> pages;
    constexpr std::uint32_t kCount = 16;
    for (std::uint32_t i = 0; i < kCount; ++i) {
      pages::ListingPageData data;
      data.Heading = "Кафе в Москве";
      data.CountText = std::to_string(40 + i * 97);
      data.Breadcrumb = "Кафе";
      data.HasStructuredData = i % 2 == 0;
      data.StructuredNames = {"Москва", "Еда и напитки", "Кафе"};
      for (int card = 0; card < 30; ++card) {
        data.CardLinks.push_back("https://mirava.ru/moskva/org/" + std::to_string(i * 100 + card) +
                                 "/?from=rubric");
      }
      const std::size_t size = 200000 + i * (400000 / (kCount - 1));
      pages.push_back(pages::ListingPage(data, {size, i + 101}));
    }
    return pages;
  }();
  return corpus;
}

std::size_t TotalBytes(const std::vector<std::string>& corpus) {
  std::size_t total = 0;
  for (const std::string& page : corpus) {
    total += page.size();
  }
  return total;
}

void Analyze(benchmark::State& state, const std::vector<std::string>& corpus,
             const std::string& url) {
  CollectingSink sink;
  for (auto _ : state) {
    CategoryByUrl categories;
    for (const std::string& page : corpus) {
      AnalyzePage(page, url, categories, sink);
    }
    sink.Clear();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(corpus.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TotalBytes(corpus)));
}

void FindMarkers(benchmark::State& state, const std::vector<std::string>& corpus,
                 const std::vector<std::string_view>& markers) {
  for (auto _ : state) {
    for (const std::string& page : corpus) {
      for (const std::string_view marker : markers) {
        benchmark::DoNotOptimize(memmem(page.data(), page.size(), marker.data(), marker.size()));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(corpus.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TotalBytes(corpus)));
}

void BM_OrganizationAnalysis(benchmark::State& state) {
  Analyze(state, OrganizationCorpus(), "https://mirava.ru/moskva/org/1/");
}

void BM_OrganizationMarkersMemmem(benchmark::State& state) {
  FindMarkers(state, OrganizationCorpus(),
              {"window.Global.organizationId", "name: '", "PostalAddress\">",
               "\"addressLocality\" content=\"", "<div class=\"service-block-controls\">",
               "id=\"social-messengers\">", "\"org-service-website\"", "\"org-social-list\">"});
}

void BM_ListingAnalysis(benchmark::State& state) {
  Analyze(state, ListingCorpus(), kListingUrl);
}

void BM_ListingMarkersMemmem(benchmark::State& state) {
  FindMarkers(
      state, ListingCorpus(),
      {"window.Global.organizationId", "<h1 ", "class=\"ranges\"", "<li class=\"rel current\">",
       "\"@type\":\"BreadcrumbList\"", "<div class=\"minicard-item__info\">"});
}

// A listing of many cards, none with a link of its own but the last: every card looks for its
// link far ahead.
void BM_AdversarialListingCards(benchmark::State& state) {
  const std::size_t cards = static_cast<std::size_t>(state.range(0));
  std::string page =
      "<h1 class=\"t\">Кафе</h1><div class=\"ranges\" data-p='{\"count\":" + std::to_string(cards) +
      ",\"p\":1}'></div>\n";
  for (std::size_t i = 0; i < cards; ++i) {
    page +=
        "<div class=\"minicard-item\"><div class=\"minicard-item__info\"><span>Кафе без "
        "ссылки</span><p>описание карточки, адрес и телефоны</p></div></div>\n";
  }
  page += "<a href=\"https://mirava.ru/moskva/org/1/\">последняя</a>\n";
  Analyze(state, {page}, kListingUrl);
  state.SetComplexityN(static_cast<std::int64_t>(page.size()));
}

// A hub page of many links.
void BM_AdversarialHubLinks(benchmark::State& state) {
  const std::size_t links = static_cast<std::size_t>(state.range(0));
  pages::HubPageData data;
  for (std::size_t i = 0; i < links; ++i) {
    data.Links.push_back("https://mirava.ru/moskva/metro/station-" + std::to_string(i) + "/kafe/");
  }
  const std::string page = pages::HubPage(data);
  Analyze(state, {page}, kListingUrl);
  state.SetComplexityN(static_cast<std::int64_t>(page.size()));
}

// Organization values made of nothing but tag brackets.
void BM_AdversarialTagBrackets(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0));
  std::string brackets;
  while (brackets.size() < bytes) {
    brackets += "<><>";
  }
  const std::string page = "<script>window.Global.organizationId=1;</script>name: '" + brackets +
                           "' <address itemtype=\"PostalAddress\">" + brackets +
                           " </address>\"org-social-list\">" + brackets +
                           "data-type=\"vk_group\"</div>";
  Analyze(state, {page}, "https://mirava.ru/moskva/org/1/");
  state.SetComplexityN(static_cast<std::int64_t>(page.size()));
}

BENCHMARK(BM_OrganizationAnalysis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrganizationMarkersMemmem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListingAnalysis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListingMarkersMemmem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdversarialListingCards)
    ->RangeMultiplier(2)
    ->Range(2500, 20000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_AdversarialHubLinks)
    ->RangeMultiplier(2)
    ->Range(2500, 20000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_AdversarialTagBrackets)
    ->RangeMultiplier(2)
    ->Range(1 << 19, 1 << 22)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
