#pragma once
// The organization base of an output folder: every organization its runs have written, with its
// values as last seen, when and by which run it was first and last written, the addresses its
// page was reached from, and the runs themselves, so a repeat run can tell new organizations from
// known ones. An SQLite file (organizations.db) that two copies of the program may use at once.
// One object is used by one thread at a time; every failure is a BaseError.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "analysis/organization_row.h"

namespace mirava::base {

inline constexpr std::string_view kBaseFileName = "organizations.db";
// How long a write waits for another copy's write before it fails.
inline constexpr std::chrono::milliseconds kBusyTimeout{5000};

// Seconds since the epoch, from the caller's clock: the base reads none.
using EpochSeconds = std::int64_t;

struct BaseOptions {
  std::chrono::milliseconds BusyTimeout = kBusyTimeout;
};

struct Sighting {
  EpochSeconds FirstSeen = 0;
  EpochSeconds LastSeen = 0;
};

// A row with the address its page was queued under, which the site's redirect or the fetch may
// have changed into the row's link. Empty: not known.
struct RecordedRow {
  std::string QueuedAddress;
  analysis::OrganizationRow Row;
};

enum class RowOutcome : std::uint8_t {
  New,      // not in the base before
  Known,    // in the base with the same values
  Changed,  // in the base with other values, which the row's replaced
};

struct StoredOrganization {
  analysis::OrganizationRow Row;  // the values as last seen
  EpochSeconds FirstSeen = 0;
  EpochSeconds LastSeen = 0;
  std::string FirstRun;  // results file names
  std::string LastRun;
};

// Runs are known by their results file's name ("data3.tab"); a continued run keeps it.
struct RunStart {
  std::string ResultsFile;
  std::string LogFile;
  std::string WorkbookFile;
  std::string Selection;  // the selected cities and categories, as the caller words them
  EpochSeconds Started = 0;
};

struct RunEnd {
  std::string ResultsFile;
  EpochSeconds Ended = 0;
  std::int64_t Rows = 0;
  std::int64_t New = 0;
  std::int64_t Known = 0;
  std::int64_t Refreshed = 0;
  std::string FieldCoverage;
};

// A run as recorded; the counts and the coverage mean something once it has ended.
struct StoredRun {
  std::string ResultsFile;
  std::string LogFile;
  std::string WorkbookFile;
  std::string Selection;
  std::optional<EpochSeconds> Started;  // none: only its end was recorded
  std::optional<EpochSeconds> Ended;    // none: running, or broken off
  std::int64_t Rows = 0;
  std::int64_t New = 0;
  std::int64_t Known = 0;
  std::int64_t Refreshed = 0;
  std::string FieldCoverage;
};

class OrganizationBase {
 public:
  // Opens the base at `path` (UTF-8), creating it when missing or empty, and brings an older
  // one up to date. A file that is not a sound database is refused (Damaged) before anything
  // is written into it; so are a newer base (TooNew) and another program's database (Foreign).
  explicit OrganizationBase(const std::string& path, const BaseOptions& options = {});
  ~OrganizationBase();
  OrganizationBase(const OrganizationBase&) = delete;
  OrganizationBase& operator=(const OrganizationBase&) = delete;

  // Records a batch of one run's rows, all or none. A row belongs to the organization known
  // under its link (as its own address or as one it was queued under); otherwise it is a new
  // organization whose identity is its link. A new organization gets `seen_at` and
  // `results_file` as its first and last sighting; a known one gets the row's values and
  // `seen_at` and `results_file` as its last, its first kept. A queued address other than the
  // organization's own is kept as one it is known under, pointing at the organization that
  // address led to last. One outcome per row, in order (a second row of one organization in a
  // batch finds it known).
  std::vector<RowOutcome> RecordRows(std::string_view results_file,
                                     std::span<const RecordedRow> rows, EpochSeconds seen_at);
  // The same for rows whose pages were queued under their own links, such as the rows of a
  // results file read back.
  std::vector<RowOutcome> RecordRows(std::string_view results_file,
                                     std::span<const analysis::OrganizationRow> rows,
                                     EpochSeconds seen_at);

  // When the organization at `url` (letter case ignored) was first and last written; none if
  // never. An organization's own address goes before an address another was queued under.
  std::optional<Sighting> Find(std::string_view url);

  // The identities (case-folded links) of the organizations `results_file` was the first run to
  // write.
  std::unordered_set<std::string> FirstWrittenBy(std::string_view results_file);

  // How many organizations the base holds.
  std::int64_t OrganizationCount();

  // A run recorded again (continued) keeps its first start and takes the new names.
  void RecordRunStart(const RunStart& start);
  // A run whose start was never recorded (begun before the base was) gets its end all the same.
  void RecordRunEnd(const RunEnd& end);
  // In the order they were first recorded.
  std::vector<StoredRun> Runs();

  // Every organization, or those first seen at or after `since`: earliest first seen first,
  // organizations of one time in the order they entered the base. `visit` must not use the base.
  void ListOrganizations(std::optional<EpochSeconds> since,
                         const std::function<void(const StoredOrganization&)>& visit);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace mirava::base
