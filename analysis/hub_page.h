#pragma once
// Metro and district hub pages: every link of the hub's region is queued as written.
#include <cstddef>
#include <string_view>

#include "analysis/page_analysis.h"

namespace mirava::analysis {

inline constexpr std::string_view kMetroHubHeading = "по станциям метро";
inline constexpr std::string_view kDistrictHubHeading = "по районам";
inline constexpr std::string_view kMetroHubRegion = "<div class=\"hub-select";
inline constexpr std::string_view kDistrictHubRegion = "<div class=\"hub-page";

// Queues, in page order, each non-empty link of the region that starts at `region_marker` and
// ends at the footer. Nothing else: no category lines, no log. Returns how many links the region
// holds, queued or not.
std::size_t AnalyzeHubPage(std::string_view page, std::string_view region_marker, IPageSink& sink);

}  // namespace mirava::analysis
