// The page reader as a crawl meets it: the input is one or more pages separated by a line
// "--next-page--"; the first is read under the start address, every later one under the next
// address the run queued, so category names flow from listings into rows.
//
// Checked: every row is twelve quoted fields on one line, reads back through the results-file
// reader as the values the row was made of (TAB, CR and LF as spaces), and carries the category
// its address was queued with; every address, row and log line is valid UTF-8; the work of
// queueing stays proportional to the input.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "analysis/organization_row.h"
#include "analysis/page_analysis.h"
#include "analysis/text_encoding.h"
#include "fuzz/fuzz_check.h"
#include "output/tab_import.h"

namespace {

using namespace mirava;

const std::string kStartUrl = "https://mirava.ru/moskva/kafe/";
constexpr std::string_view kPageSeparator = "\n--next-page--\n";

// The run's queue and visited list, with the work they are handed counted.
class CrawlSink : public analysis::IPageSink {
 public:
  bool EnqueuePage(const std::string& url) override {
    FUZZ_CHECK(analysis::IsWellFormedUtf8(url));
    OfferedBytes += url.size();
    if (!visited_.insert(analysis::FoldCaseUtf8(url)).second) {
      return false;
    }
    Queue.push_back(url);
    return true;
  }
  void AppendRow(const std::string& row) override { Rows.push_back(row); }
  void Log(const std::string& text) override { FUZZ_CHECK(analysis::IsWellFormedUtf8(text)); }

  std::deque<std::string> Queue;
  std::vector<std::string> Rows;
  std::size_t OfferedBytes = 0;

 private:
  std::unordered_set<std::string> visited_;
};

std::string Spaced(std::string value) {
  for (char& c : value) {
    if (c == '\t' || c == '\r' || c == '\n') {
      c = ' ';
    }
  }
  return value;
}

void CheckRow(const std::string& row, std::string_view page, const std::string& url,
              const analysis::CategoryByUrl& categories) {
  fuzz::CheckRowShape(row);
  FUZZ_CHECK(analysis::IsWellFormedUtf8(row));
  const std::vector<output::TabRecord> records = output::ReadTabRecords(row + "\r\n");
  FUZZ_CHECK(records.size() == 1);
  const analysis::OrganizationRow values =
      analysis::ExtractOrganizationRow(page, url, categories.Lookup(url));
  FUZZ_CHECK(records[0].size() == values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    FUZZ_CHECK(records[0][i] == Spaced(values[i]));
  }
  FUZZ_CHECK(records[0][0] == Spaced(url));
  FUZZ_CHECK(records[0][1] == Spaced(categories.Lookup(url)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> pages = fuzz::SplitAt(input, kPageSeparator);

  CrawlSink sink;
  analysis::CategoryByUrl categories;
  std::size_t budget = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    std::string url = kStartUrl;
    if (i > 0) {
      if (sink.Queue.empty()) {
        break;
      }
      url = sink.Queue.front();
      sink.Queue.pop_front();
    }
    // Queueing may offer each address of the page once, plus the start address and up to 34
    // addresses formed from it.
    budget += pages[i].size() + 40 * (url.size() + 16);
    const std::size_t rows_before = sink.Rows.size();
    analysis::AnalyzePage(pages[i], url, categories, sink);
    FUZZ_CHECK(sink.OfferedBytes <= budget);
    FUZZ_CHECK(sink.Rows.size() - rows_before <= 1);
    if (sink.Rows.size() > rows_before) {
      CheckRow(sink.Rows.back(), pages[i], url, categories);
    }
  }
  return 0;
}
