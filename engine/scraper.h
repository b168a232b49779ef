#pragma once
// TScraper: the coordinator of one crawl run, on a thread of its own. It turns the selection into
// job addresses, keeps a bounded pool of fetch workers busy, hands every fetched page to
// AnalyzePage, and at the end closes the results file, exports the workbook and gives the window
// back. It reaches the window only through the callbacks of window_link.h.
//
// Lifetime. Start hands the thread a strong reference to the run; the window keeps only a weak
// one. When the run has given the window back (the busy-off callback has run and HasEnded is
// true), the thread destroys the workers it still owns — stopped workers end quickly, since they
// look at their stop flag often and every request is bounded by its time-outs — then lets go of
// its reference, so the run frees itself on its own thread. Until then everything those workers
// share (the worker lists and their lock, the request mutex, the proxy list, the dispatcher) is
// held by them through WorkerServices and WorkerLists, so nothing they touch goes away early.
// A run shares nothing with the run before it except the process-wide PacingState and
// ProxyRotation.
//
// Pause. A flag and a condition variable; the coordinator waits on it only where it holds no
// lock: before every iteration of the pool loop, after UpdateProgress has let the window run its
// handlers, and right after ReportRunResult has returned. A stop ends any pause.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "analysis/category_by_url.h"
#include "analysis/page_analysis.h"
#include "engine/platform/clock.h"
#include "engine/platform/named_lock.h"
#include "engine/proxy_list.h"
#include "engine/request_pacing.h"
#include "engine/scraping_thread.h"
#include "engine/visited_list.h"
#include "engine/window_link.h"
#include "engine/worker_lists.h"
#include "output/results_file.h"

namespace mirava::engine {

// Reads one fetched page; analysis::AnalyzePage unless a test puts its own reader here.
using PageAnalyzer =
    std::function<void(std::string_view page, const std::string& url,
                       analysis::CategoryByUrl& category_by_url, analysis::IPageSink& sink)>;

// Everything a run takes from the program; main() wires the real ones, tests their own.
struct RunEnvironment {
  std::string ExeFolder;  // with a trailing "/"; every file of the run lies there
  std::shared_ptr<platform::IClock> Clock;
  std::shared_ptr<IWindowDispatcher> Dispatcher;
  std::shared_ptr<PacingState> Pacing;      // process-wide
  std::shared_ptr<ProxyRotation> Rotation;  // process-wide
  std::string RequestMutexName = kRequestMutexName;
  FetchSettings Fetch;
  std::uint32_t LoopSleepMs = 50;
  int AutoPauseMs = 30000;
  // Opens the finished workbook for the operator; xdg-open when empty.
  std::function<void(const std::string& path)> OpenWorkbook;
  // Empty: analysis::AnalyzePage.
  PageAnalyzer AnalyzePage;
};

class TScraper : public std::enable_shared_from_this<TScraper>, private analysis::IPageSink {
 public:
  // Created suspended; the window sets Controls, then calls Start. Once started, the run keeps
  // itself alive and frees itself when its thread ends; callers keep a weak reference.
  static std::shared_ptr<TScraper> Create(RunEnvironment environment);
  ~TScraper() override;
  TScraper(const TScraper&) = delete;
  TScraper& operator=(const TScraper&) = delete;

  WindowControls Controls;

  // Starts the thread; a second call does nothing. Throws std::system_error when the system
  // refuses a thread.
  void Start();

  // Window-thread actions. A stop lifts a pause first.
  void Stop();
  void Pause();
  void Resume();
  bool IsPaused() const;
  // True once the run has given the window back (its last callback has run); from then on
  // Pause, Resume and Stop have no effect on it.
  bool HasEnded() const;
  // True while the coordinator is held by a pause; for tests that must know it stands still.
  bool IsHeld() const;

 private:
  explicit TScraper(RunEnvironment environment);

  void Execute();
  // False when the run cannot go on; a failure after the busy state is on has been reported.
  bool SetUp();
  void OpenResultsFile();
  void BuildJobList();
  bool RunIteration();  // true when the run is complete
  void StartStep();
  void HarvestStep();
  bool RunComplete();
  void StopRunningWorkers();
  void ReportError(const std::string& message);
  void Finish();
  void CloseResultsFile();
  void ExportWorkbook();
  void ReleaseWorkers();
  void WaitWhilePaused();
  void SetPaused(bool paused);

  // analysis::IPageSink, on the coordinator thread.
  bool EnqueuePage(const std::string& url) override;
  void AppendRow(const std::string& row) override;
  void Log(const std::string& text) override;

  // The window callbacks: each runs on the window thread while the coordinator waits, reading
  // the fields set just before the call.
  void AddLogLine();
  void ShowBusyState();
  void UpdateProgress();
  void ReadLimits();
  void ArmResumeTimer();
  void ReportRunResult();
  void AppendLogLine(std::string_view message);  // on the window thread
  void RunCallback(void (TScraper::*callback)());
  void RunOnWindowThread(const std::function<void()>& callback);

  RunEnvironment environment_;

  // Written by the coordinator before a callback, or by ReadLimits for the coordinator.
  int ThreadsLimit = 0;
  int RequestIntervalSec = 0;
  int ProgressBarPosition = 0;
  int ProgressBarMax = 0;
  bool CursorHourGlass = false;
  std::string LogMessageText;
  std::string result;

  // Shared with the workers of this run, and kept alive by them after it.
  std::shared_ptr<const platform::NamedLock> RequestMutex;
  std::shared_ptr<WorkerLists> Lists;
  std::shared_ptr<const ProxyList> Proxies;
  std::shared_ptr<const WorkerServices> Services;

  // The coordinator thread's alone.
  std::deque<std::string> WorkQueue;
  engine::VisitedList VisitedList;
  analysis::CategoryByUrl CategoryByUrl;
  output::RunFileNames FileNames;
  bool NoProxyReported = false;                // the "box ticked, no proxy" line is in the log
  std::vector<std::size_t> SkippedProxyLines;  // of proxy.txt, until the log has them
  std::unique_ptr<output::ResultsWriter> ResultsWriter;
  // Every worker not yet destroyed, from creation on; RunningList and FinishedList only point.
  std::unordered_map<TScrapingThread*, std::unique_ptr<TScrapingThread>> Workers;

  std::atomic<bool> started_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  mutable std::mutex pause_mutex_;
  std::condition_variable pause_changed_;
  bool paused_ = false;
  bool held_ = false;
};

}  // namespace mirava::engine
