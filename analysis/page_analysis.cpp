#include "analysis/page_analysis.h"

#include "analysis/hub_page.h"
#include "analysis/listing_page.h"
#include "analysis/organization_row.h"
#include "analysis/text_toolkit.h"

namespace mirava::analysis {

PageReading AnalyzePage(std::string_view page, const std::string& url,
                        CategoryByUrl& category_by_url, IPageSink& sink) {
  PageReading reading;
  if (Pos(kOrganizationMarker, page) != 0) {
    reading.Kind = PageKind::Organization;
    // The row is written only once all twelve values exist.
    const OrganizationRow row = ExtractOrganizationRow(page, url, category_by_url.Lookup(url));
    for (std::size_t column = 0; column < kColumnCount; ++column) {
      reading.Found[column] = !row[column].empty();
    }
    // The page address and the category come from the run, not from the page.
    reading.Recognised = reading.Found[kOrganizationColumn] || reading.Found[kAddressColumn];
    sink.AppendRow(FormatRow(row));
    return reading;
  }
  // The heading element must carry attributes; its text includes the rest of the opening tag.
  const std::string_view heading = ExtractBetween(page, "<h1 ", "", "</h1>");
  if (heading.find(kMetroHubHeading) != std::string_view::npos) {
    reading.Kind = PageKind::Hub;
    reading.Recognised = AnalyzeHubPage(page, kMetroHubRegion, sink) > 0;
  } else if (heading.find(kDistrictHubHeading) != std::string_view::npos) {
    reading.Kind = PageKind::Hub;
    reading.Recognised = AnalyzeHubPage(page, kDistrictHubRegion, sink) > 0;
  } else {
    reading.Kind = PageKind::Listing;
    reading.Recognised = AnalyzeListingPage(page, url, category_by_url, sink);
  }
  return reading;
}

}  // namespace mirava::analysis
