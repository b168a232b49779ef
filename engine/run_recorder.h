#pragma once
// The coordinator's side of the run journal: what it records while it runs, how a continued run
// gets its queue back, and how often the journal and the results file are made durable.
// Coordinator thread only.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/category_by_url.h"
#include "engine/run_continuation.h"
#include "engine/run_events.h"
#include "engine/run_journal.h"
#include "engine/visited_list.h"
#include "output/results_file.h"
#include "platform/clock.h"

namespace mirava::engine {

// At most this long between a record and the moment it is durable.
inline constexpr std::uint32_t kJournalSyncMs = 1000;

class RunRecorder {
 public:
  RunRecorder(std::unique_ptr<platform::IByteSink> journal,
              std::shared_ptr<platform::IClock> clock);

  // A new run: the header, the selection and the job list, written at once.
  void Begin(const RunRequest& request, const std::deque<std::string>& jobs);

  // A continued run: its queue in the original order without the finished pages (a page that
  // has a row in the results file counts as finished), every queued address in the visited list
  // and the category lines. Keeps the results file's rows, so none is written twice.
  struct Restored {
    int Finished = 0;
    long long Rows = 0;
  };
  // `request` gives the settings the continued run goes on with, recorded again.
  Restored Restore(RunToContinue run, const RunRequest& request, std::deque<std::string>& queue,
                   VisitedList& visited, analysis::CategoryByUrl& category_by_url);

  void WorkerStarted(const void* worker, const std::string& address);
  // An address the readers queued; written with its category line when its page is finished.
  void Queued(const std::string& address);
  // Writes the addresses the page queued, then the page itself, in one write.
  void PageFinished(const void* worker, bool fetched,
                    const analysis::CategoryByUrl& category_by_url);
  // The address `worker`'s page was queued as, which its fetch may have changed since; empty
  // once its page is finished.
  std::string QueuedAddressOf(const void* worker) const;
  void RunComplete();

  // True for a row of an organization the continued run's results file already has.
  bool RowWrittenBefore(std::string_view row) const;

  // Made durable together with the results file and the journal, after the results file, in the
  // order added: the run log, the organization base.
  void SyncAlso(std::function<void()> sync) { also_sync_.push_back(std::move(sync)); }

  // Makes the files durable when the last sync is kJournalSyncMs old, or at once with `now`.
  // The results file goes first, so the journal never claims a page whose row is not durable.
  void SyncIfDue(output::ResultsWriter* results, bool now = false);
  // Durable and closed; later calls do nothing.
  void Close(output::ResultsWriter* results);

 private:
  void RecordSettings(const RunRequest& request);

  JournalWriter journal_;
  std::shared_ptr<platform::IClock> clock_;
  std::unordered_map<const void*, std::string> worker_addresses_;
  std::vector<std::string> queued_by_page_;
  std::unordered_set<std::string> earlier_rows_;
  std::vector<std::function<void()>> also_sync_;
  std::uint32_t last_sync_ = 0;
  bool dirty_ = false;
  bool closed_ = false;
};

}  // namespace mirava::engine
