#pragma once
// TScraper: the coordinator of one crawl run, on a thread of its own. It turns the selection into
// job addresses, keeps a bounded pool of fetch workers busy, hands every fetched page to
// AnalyzePage, and at the end closes the results file, exports the workbook and gives the front
// end back. It is told what to do by a RunRequest and the setters below, and announces what
// happened through run_events.h; it never waits for its front end.
//
// Lifetime. Start hands the thread a strong reference to the run; the front end keeps only a weak
// one. When the run has given the front end back (busy off announced and HasEnded true), the
// thread destroys the workers it still owns — stopped workers end quickly, since they
// look at their stop flag often and every request is bounded by its time-outs — then lets go of
// its reference, so the run frees itself on its own thread. Until then everything those workers
// share (the worker lists and their lock, the request mutex, the proxy list, the event channel) is
// held by them through WorkerServices and WorkerLists, so nothing they touch goes away early.
// A run shares nothing with the run before it except the process-wide PacingState and
// ProxyRotation.
//
// Pause. A flag and a condition variable; the coordinator waits on it only where it holds no
// lock: before every iteration of the pool loop, after each harvest's progress, and right after
// a reported error has paused the run. A stop ends any pause.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "analysis/category_by_url.h"
#include "analysis/page_analysis.h"
#include "engine/proxy_list.h"
#include "engine/recognition_watch.h"
#include "engine/request_pacing.h"
#include "engine/run_base.h"
#include "engine/run_event_channel.h"
#include "engine/run_events.h"
#include "engine/run_recorder.h"
#include "engine/run_timings.h"
#include "engine/scraping_thread.h"
#include "engine/site_check.h"
#include "engine/visited_list.h"
#include "engine/worker_lists.h"
#include "output/results_file.h"
#include "platform/clock.h"
#include "platform/named_lock.h"

namespace mirava::engine {

// Reads one fetched page; analysis::AnalyzePage unless a test puts its own reader here.
using PageAnalyzer =
    std::function<void(std::string_view page, const std::string& url,
                       analysis::CategoryByUrl& category_by_url, analysis::IPageSink& sink)>;

// Everything a run takes from the program; main() wires the real ones, tests their own.
struct RunEnvironment {
  std::shared_ptr<platform::IClock> Clock;
  std::shared_ptr<IRunEvents> Events;
  // Empty: the C library's local time (platform::LocalLogTimestamp).
  LogTimestampSource LogTimestamp;
  std::shared_ptr<PacingState> Pacing;      // process-wide
  std::shared_ptr<ProxyRotation> Rotation;  // process-wide
  std::string RequestMutexName = kRequestMutexName;
  FetchSettings Fetch;
  std::chrono::milliseconds LoopSleep = timings::kLoopSleep;
  std::chrono::milliseconds AutoPause = timings::kAutoPause;
  // When organizations are first and last seen; empty: the system's time.
  WallClock Now;
  // Opens the finished workbook for the operator; xdg-open when empty.
  std::function<void(const std::string& path)> OpenWorkbook;
  // Empty: analysis::AnalyzePage. A reader put here is taken to recognise every page.
  PageAnalyzer AnalyzePage;
  // Runs just before a worker's thread starts; what it throws counts as a refused start. Tests
  // use it to make a start fail.
  std::function<void()> BeforeWorkerStart;
};

class TScraper : public std::enable_shared_from_this<TScraper>, private analysis::IPageSink {
 public:
  // Created suspended; Start starts it. Once started, the run keeps itself alive and frees itself
  // when its thread ends; callers keep a weak reference.
  static std::shared_ptr<TScraper> Create(RunEnvironment environment, RunRequest request);
  ~TScraper() override;
  TScraper(const TScraper&) = delete;
  TScraper& operator=(const TScraper&) = delete;

  // Starts the thread; a second call does nothing. Throws std::system_error when the system
  // refuses a thread.
  void Start();

  // The operator's changes during the run, from any thread. The thread limit and the interval
  // take effect where the run reads its limits (before the pool loop and after each worker
  // start); the proxy switch for every worker created after it.
  void SetThreadsLimit(int threads);
  void SetInterval(int seconds);
  void SetUseProxy(bool use_proxy);

  // The operator's actions, from any thread; each announces its log line first. A stop lifts a
  // pause first. Resume does nothing (and says nothing) unless the run is paused.
  void Stop();
  void Pause();
  void Resume();
  bool IsPaused() const;
  // True once the run has given the front end back (busy off); from then on Pause, Resume and
  // Stop have no effect on it.
  bool HasEnded() const;
  // True while the coordinator is held by a pause; for tests that must know it stands still.
  bool IsHeld() const;

 private:
  TScraper(RunEnvironment environment, RunRequest request);

  void Execute();
  // False when the run cannot go on, with `failure` saying why; a failure after the busy state is
  // on has been logged as well.
  bool SetUp(std::string& failure);
  void OpenResultsFile();
  void OpenContinuedRun();
  // log<m>.txt, written as the run goes and made durable with the journal.
  void OpenRunLog();
  // The folder's organization base, for a run that writes files; a continued run records the rows
  // its results file kept first.
  void OpenBase();
  void RecordEarlierRows();
  // Logs and announces the base's failure, once.
  void ReportBaseFailure();
  // True when the organization page at `address` is left alone: the run takes only new
  // organizations and the base knows it.
  bool SkipKnownOrganization(const std::string& address);
  void ReportBaseCounts();
  void BuildJobList();
  bool RunIteration();  // true when the run is complete
  void StartStep();
  void HarvestStep();
  void ReadPage(const TScrapingThread& worker);
  // The run holds until the operator resumes or stops it; nothing is sent meanwhile.
  void HoldForUnrecognisedPages(const std::string& text);
  // A check's organization pages: the first ones its listing page queued.
  void QueueCheckedOrganizations();
  bool RunComplete();
  void StopRunningWorkers();
  // The failure is logged and the run pauses; the pause lifts itself after
  // environment_.AutoPause unless the operator acts first.
  void ReportError(const std::string& message);
  void Finish();
  void CloseResultsFile();
  void ExportWorkbook();
  void ReleaseWorkers();
  // Returns at once unless paused; a pause after a reported error resumes itself once
  // environment_.AutoPause has passed on the run's clock.
  void WaitWhilePaused();
  void SetPaused(bool paused);

  // analysis::IPageSink, on the coordinator thread.
  bool EnqueuePage(const std::string& url) override;
  void AppendRow(const std::string& row) override;
  void Log(const std::string& text) override;

  void ShowBusyState(bool busy);
  void UpdateProgress();
  void ReadLimits();
  void ReportRunComplete();
  // The share of the results file's rows with each value, and what fell since the folder's last
  // completed run.
  void ReportFieldCoverage();

  RunEnvironment environment_;
  const RunRequest request_;
  const std::shared_ptr<RunEventChannel> channel_;

  // What the front end last passed on; ReadLimits copies the first two for the coordinator.
  std::atomic<int> threads_limit_setting_;
  std::atomic<int> interval_setting_;
  std::atomic<bool> use_proxy_setting_;

  // The coordinator thread's alone.
  int ThreadsLimit = 0;
  int RequestIntervalSec = 0;
  int ProgressBarPosition = 0;
  int ProgressBarMax = 0;
  long long rows_written_ = 0;
  bool failed_ = false;  // an error was reported: the run ends as failed

  // Shared with the workers of this run, and kept alive by them after it.
  std::shared_ptr<const platform::NamedLock> RequestMutex;
  std::shared_ptr<WorkerLists> lists_;
  std::shared_ptr<const ProxyList> proxies_;
  std::map<std::string, ProxyRecord> proxy_records_at_start_;  // for the run's proxy summary
  std::shared_ptr<const WorkerServices> services_;
  // Held while the run waits for the operator after its pages stopped being recognised.
  const std::shared_ptr<RunHold> hold_ = std::make_shared<RunHold>();

  std::deque<std::string> WorkQueue;
  engine::VisitedList VisitedList;
  analysis::CategoryByUrl CategoryByUrl;
  output::RunFileNames file_names_;
  bool no_proxy_reported_ = false;                // the "box ticked, no proxy" line is in the log
  std::vector<std::size_t> skipped_proxy_lines_;  // of proxy.txt, until the log has them
  std::unique_ptr<output::ResultsWriter> ResultsWriter;
  // The run journal; a continued run has its queue rebuilt from it by OpenContinuedRun.
  std::unique_ptr<RunRecorder> recorder_;
  // The folder's organization base; none for a check.
  std::unique_ptr<RunBase> base_;
  // Known organizations fetched again (OnlyNew, RefreshDays): their rows go to the base only.
  std::unordered_set<std::string> refreshing_;
  // The address the page being read was queued as.
  std::string reading_address_;
  // The run's coverage line, for the base's record of the run.
  std::string coverage_text_;
  RecognitionWatch recognition_;
  // A check's report and the addresses its listing page offered, until its pages are chosen.
  SiteCheck check_;
  std::vector<std::string> check_candidates_;
  int check_queued_ = 0;
  // Every worker not yet destroyed, from creation on; RunningList and FinishedList only point.
  std::unordered_map<TScrapingThread*, std::unique_ptr<TScrapingThread>> workers_;

  std::atomic<bool> started_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  mutable std::mutex pause_mutex_;
  std::condition_variable pause_changed_;
  bool paused_ = false;
  bool held_ = false;
  // While the pause after a reported error is to lift itself: the run's tick it began at. Any
  // pause or resume of the operator, and a hold for unrecognised pages, cancels it.
  std::optional<std::uint32_t> auto_resume_from_;
};

// Waits in real time until the run `run` points to has freed itself (its last worker ended) or
// `limit` has passed; true when it is gone. A front end calls it before it ends the process, so
// the process ends normally with no thread of the run left.
bool WaitUntilRunFreed(const std::weak_ptr<TScraper>& run, std::chrono::milliseconds limit);

}  // namespace mirava::engine
