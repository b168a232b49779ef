#pragma once
// AnalyzePage: reads one fetched page of the directory site and turns it into work (further
// addresses, category lines, log lines) or, for an organization page, into one result row.
//
// The page is the UTF-8 bytes the worker received; its text is their decoding with U+FFFD for
// malformed input. Readers search the bytes and decode only the pieces they cut out, which gives
// exactly what the UTF-16 toolkit gives on the decoded text.
#include <array>
#include <string>
#include <string_view>

#include "analysis/category_by_url.h"
#include "analysis/organization_row.h"

namespace mirava::analysis {

// What analysis may do to the run; the coordinator implements it, tests record it.
// Texts are UTF-8.
class IPageSink {
 public:
  virtual ~IPageSink() = default;
  // Queues `url` unless the run has queued it before (case ignored); true when queued.
  virtual bool EnqueuePage(const std::string& url) = 0;
  // Writes one result row (without its line break). Throws when the write fails.
  virtual void AppendRow(const std::string& row) = 0;
  virtual void Log(const std::string& text) = 0;
};

inline constexpr int kMetroSplitThreshold = 1000;  // MetroSplitThreshold
inline constexpr int kCompaniesPerPage = 30;       // CompaniesPerPage
inline constexpr int kMaxListingPage = 34;         // MaxListingPage

// What a page was read as.
enum class PageKind { Organization, Hub, Listing };

// What the readers made of one page.
struct PageReading {
  PageKind Kind = PageKind::Listing;
  // The page looked like the directory's page of its kind: an organization page gave its name or
  // its postal address, a hub a link in its region, a listing its company count (0 included) or a
  // card. A check page or a redesigned page is read without error but not recognised.
  bool Recognised = false;
  // For an organization page, which of the twelve values were found; all false otherwise.
  std::array<bool, kColumnCount> Found{};
};

// An organization page (it holds "window.Global.organizationId") gives one row through
// AppendRow; a hub page queues its links; any other page is read as a category listing.
// `url` is the page address as queued, UTF-8 text; new addresses are formed by appending to it.
// Errors of the sink propagate; addresses queued before them stay queued.
PageReading AnalyzePage(std::string_view page, const std::string& url,
                        CategoryByUrl& category_by_url, IPageSink& sink);

}  // namespace mirava::analysis
