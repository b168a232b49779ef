#include "engine/run_recorder.h"

#include <algorithm>
#include <utility>

#include "output/results_file_check.h"

namespace mirava::engine {

RunRecorder::RunRecorder(std::unique_ptr<platform::IByteSink> journal,
                         std::shared_ptr<platform::IClock> clock)
    : journal_(std::move(journal)), clock_(std::move(clock)), last_sync_(clock_->TickCount()) {}

void RunRecorder::Begin(const RunRequest& request, const std::deque<std::string>& jobs) {
  journal_.Header();
  journal_.Selection(request.Cities, request.Categories);
  RecordSettings(request);
  for (const std::string& job : jobs) {
    journal_.Queued(job, {});
  }
  journal_.Commit();
  dirty_ = true;
}

RunRecorder::Restored RunRecorder::Restore(RunToContinue run, const RunRequest& request,
                                           std::deque<std::string>& queue, VisitedList& visited,
                                           analysis::CategoryByUrl& category_by_url) {
  Restored restored;
  RecordSettings(request);
  restored.Rows = run.Results.Rows;
  std::string key;
  const bool rows_written = !run.Results.RowKeys.empty();
  visited.Reserve(run.Journal.Pages.size());
  category_by_url.Reserve(static_cast<std::size_t>(
      std::count_if(run.Journal.Pages.begin(), run.Journal.Pages.end(),
                    [](const QueuedPage& page) { return page.State != PageState::Done; })));
  for (QueuedPage& page : run.Journal.Pages) {
    visited.Add(page.Address);
    bool finished = page.State == PageState::Done;
    if (!finished && rows_written) {
      key.assign("\"").append(page.Address).append("\"");
      finished = run.Results.RowKeys.contains(key);
    }
    if (finished) {
      if (page.State != PageState::Done) {
        // Its row made it to the file before the interruption, its record did not.
        journal_.Finished(page.Address, true);
      }
      ++restored.Finished;
      continue;
    }
    // Only a page still to fetch looks its category line up; a finished page's address is in
    // the visited list, so it is never queued (or looked up) again.
    if (page.Category) {
      category_by_url.Add(page.Address, page.Category);
    }
    queue.push_back(std::move(page.Address));
  }
  journal_.Commit();
  earlier_rows_ = std::move(run.Results.RowKeys);
  return restored;
}

void RunRecorder::WorkerStarted(const void* worker, const std::string& address) {
  worker_addresses_[worker] = address;
}

void RunRecorder::Queued(const std::string& address) {
  queued_by_page_.push_back(address);
}

void RunRecorder::PageFinished(const void* worker, bool fetched,
                               const analysis::CategoryByUrl& category_by_url) {
  // The readers add an address's category line right after queueing it, so it is known now.
  for (const std::string& address : queued_by_page_) {
    journal_.Queued(address, category_by_url.Lookup(address));
  }
  queued_by_page_.clear();
  const auto found = worker_addresses_.find(worker);
  if (found != worker_addresses_.end()) {
    journal_.Finished(found->second, fetched);
    worker_addresses_.erase(found);
  }
  journal_.Commit();
  dirty_ = true;
}

std::string RunRecorder::QueuedAddressOf(const void* worker) const {
  const auto found = worker_addresses_.find(worker);
  return found == worker_addresses_.end() ? std::string() : found->second;
}

void RunRecorder::RecordSettings(const RunRequest& request) {
  journal_.Settings(RecordedSettings{request.ThreadsLimit, request.IntervalSec, request.UseProxy,
                                     request.OnlyNew, request.RefreshDays});
}

void RunRecorder::RunComplete() {
  journal_.Complete();
  journal_.Commit();
  dirty_ = true;
}

bool RunRecorder::RowWrittenBefore(std::string_view row) const {
  return !earlier_rows_.empty() && earlier_rows_.contains(std::string(output::RowKey(row)));
}

void RunRecorder::SyncIfDue(output::ResultsWriter* results, bool now) {
  if (!dirty_ || closed_) {
    return;
  }
  const std::uint32_t tick = clock_->TickCount();
  if (!now && platform::TickDiff(tick, last_sync_) < kJournalSyncMs) {
    return;
  }
  if (results) {
    results->Sync();
  }
  for (const std::function<void()>& sync : also_sync_) {
    sync();
  }
  journal_.Sync();
  last_sync_ = tick;
  dirty_ = false;
}

void RunRecorder::Close(output::ResultsWriter* results) {
  if (closed_) {
    return;
  }
  journal_.Commit();
  dirty_ = true;
  SyncIfDue(results, true);
  closed_ = true;
  journal_.Close();
}

}  // namespace mirava::engine
