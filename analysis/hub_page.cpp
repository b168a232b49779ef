#include "analysis/hub_page.h"

#include "analysis/page_pieces.h"
#include "analysis/text_toolkit.h"

namespace mirava::analysis {

std::size_t AnalyzeHubPage(std::string_view page, std::string_view region_marker, IPageSink& sink) {
  constexpr std::string_view kLinkOpener = "<a href=\"";
  const std::string_view region = ExtractBetween(page, region_marker, "", "\"footer-container\"");

  ForwardSearch openers(region, kLinkOpener);
  ForwardSearch quotes(region, "\"");
  // The region's start moves past each opener taken, so the next turn finds the next one; an
  // opener cannot begin inside another, so none is passed over.
  std::size_t start = 0;
  std::size_t links = 0;
  for (;;) {
    const std::size_t opener = openers.From(start);
    if (opener == std::string_view::npos) {
      return links;
    }
    const std::size_t value = opener + kLinkOpener.size();
    const std::size_t quote = quotes.From(value);
    start = opener + kLinkOpener.size();
    if (quote == std::string_view::npos || quote == value) {
      continue;
    }
    ++links;
    sink.EnqueuePage(NormalizedUtf8(region.substr(value, quote - value)));
  }
}

}  // namespace mirava::analysis
