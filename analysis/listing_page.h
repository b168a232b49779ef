#pragma once
// Category listing pages: the company count, the metro subdivision, the later pages, the
// category name and the organization cards.
#include <string>
#include <string_view>

#include "analysis/category_by_url.h"
#include "analysis/page_analysis.h"

namespace mirava::analysis {

// The company count as written between its markers, read as a signed 32-bit integer: leading
// spaces, one sign and a "$", "x", "X", "0x" or "0X" hexadecimal prefix are accepted; any other
// character, no digit or a value out of range gives 0.
int ReadCompanyCount(std::string_view text);

// The category name: the structured-data breadcrumb's first three names joined by ">" when the
// page has a readable one with "itemListElement", else the current breadcrumb's text.
std::string ReadCategoryName(std::string_view page);

// Queues the metro hub, the later pages high to low and the organization cards in page order;
// adds a category line for each organization address the queue accepts; logs the count unless
// the address is a later page. True when the page has the company count's marker (whatever count
// it gives) or at least one card.
bool AnalyzeListingPage(std::string_view page, const std::string& url,
                        CategoryByUrl& category_by_url, IPageSink& sink);

}  // namespace mirava::analysis
