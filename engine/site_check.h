#pragma once
// The report of a site check: before a long run, the first job's listing page and a few of its
// organization pages are read as a run reads them, and each is told as the readers saw it.
// Coordinator thread only.
#include <array>
#include <string>

#include "analysis/organization_row.h"
#include "analysis/page_analysis.h"
#include "engine/run_events.h"

namespace mirava::engine {

class SiteCheck {
 public:
  // The log line for one page read: what it was read as, whether it was recognised and, for an
  // organization page, which values were found and which not.
  std::string PageRead(const std::string& url, const analysis::PageReading& reading);

  // The one-line verdict at the end.
  std::string Verdict() const;
  // Complete when every page read was recognised, PagesUnrecognised when one was not, Failed
  // when no page could be read at all.
  RunOutcome Outcome() const;

 private:
  int read_ = 0;
  int unrecognised_ = 0;
  int organizations_ = 0;
  // Values found on no organization page read so far.
  std::array<bool, analysis::kColumnCount> found_anywhere_{};
};

}  // namespace mirava::engine
