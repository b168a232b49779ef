#include "analysis/page_analysis.h"

#include "analysis/hub_page.h"
#include "analysis/listing_page.h"
#include "analysis/organization_row.h"
#include "analysis/text_toolkit.h"

namespace mirava::analysis {

void AnalyzePage(std::string_view page, const std::string& url, CategoryByUrl& category_by_url,
                 IPageSink& sink) {
  if (Pos(kOrganizationMarker, page) != 0) {
    // The row is written only once all twelve values exist.
    sink.AppendRow(FormatRow(ExtractOrganizationRow(page, url, category_by_url.Lookup(url))));
    return;
  }
  // The heading element must carry attributes; its text includes the rest of the opening tag.
  const std::string_view heading = ExtractBetween(page, "<h1 ", "", "</h1>");
  if (heading.find(kMetroHubHeading) != std::string_view::npos) {
    AnalyzeHubPage(page, kMetroHubRegion, sink);
  } else if (heading.find(kDistrictHubHeading) != std::string_view::npos) {
    AnalyzeHubPage(page, kDistrictHubRegion, sink);
  } else {
    AnalyzeListingPage(page, url, category_by_url, sink);
  }
}

}  // namespace mirava::analysis
