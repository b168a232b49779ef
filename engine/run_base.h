#pragma once
// The run's side of its folder's organization base: rows recorded in the journal's batches, the
// organizations a run that takes only new ones leaves alone, and the run's counts. A base that
// cannot be used never costs the run: its first failure is kept for the log, and from then on
// the run goes on without it. Coordinator thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "analysis/organization_row.h"
#include "base/organization_base.h"

namespace mirava::engine {

// Seconds since the epoch, for when organizations are first and last seen.
using WallClock = std::function<base::EpochSeconds()>;

class RunBase {
 public:
  struct Counts {
    long long New = 0;        // rows of organizations the base did not know
    long long Known = 0;      // rows of organizations it knew
    long long Skipped = 0;    // known organizations whose pages were not fetched
    long long Refreshed = 0;  // known organizations fetched again to bring their values up to date
  };

  // Opens `folder`'s base for the run whose results file is `results_file`. `refresh_days`: a
  // known organization last seen more than this many days ago is fetched again; 0 never.
  RunBase(const std::string& folder, std::string results_file, WallClock now, int refresh_days);
  ~RunBase();
  RunBase(const RunBase&) = delete;
  RunBase& operator=(const RunBase&) = delete;

  // The failure to tell the operator, once: the base could not be opened or stopped working.
  std::optional<std::string> TakeFailure();
  bool Available() const { return base_ != nullptr; }

  enum class Decision {
    Fetch,    // not known: a new organization
    Skip,     // known and seen recently enough
    Refresh,  // known, but last seen more than refresh_days ago
  };
  // For a run that takes only new organizations: what to do with the organization page queued
  // as `address`. Fetch when the base is unavailable.
  Decision Decide(std::string_view address);
  void CountSkipped() { ++counts_.Skipped; }

  // A row written to the results file (`formatted` as written), of the page queued as `address`.
  void RowWritten(std::string_view address, const std::string& formatted);
  // The values of a known organization fetched again, kept in the base only.
  void RowRefreshed(std::string_view address, const std::string& formatted);
  // The rows of an interrupted run's results file, so that none the file kept is missing from
  // the base after a crash; recorded at once.
  void RecordEarlierRows(const std::vector<analysis::OrganizationRow>& rows);
  // Records the rows collected since the last call in one transaction.
  void Flush();

  // The run's own results file and the time are filled in here.
  void RecordStart(base::RunStart start);
  void RecordEnd(base::RunEnd end);

  // The identities (folded links) of the organizations this run wrote first; none when the base
  // is unavailable.
  std::optional<std::unordered_set<std::string>> FirstWrittenByThisRun();

  const Counts& counts() const { return counts_; }

 private:
  struct Pending {
    std::string Address;
    analysis::OrganizationRow Row;
    bool Refreshed = false;
  };

  // Runs `step` against the base; a failure gives the base up for the rest of the run.
  template <typename Step>
  void Use(Step&& step);

  std::string results_file_;
  WallClock now_;
  int refresh_days_;
  std::unique_ptr<base::OrganizationBase> base_;
  std::optional<std::string> failure_;
  std::vector<Pending> pending_;
  Counts counts_;
};

// "База организаций: новых 3, известных 44, пропущено известных 0, обновлено 0".
std::string RunBaseSummaryText(const RunBase::Counts& counts);
inline constexpr std::string_view kBaseSummaryPrefix = "База организаций: ";

}  // namespace mirava::engine
