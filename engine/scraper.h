#pragma once
// TScraper: the coordinator of one crawl run, on a thread of its own. It turns the selection into
// job addresses, keeps a bounded pool of fetch workers busy, hands every fetched page to
// AnalyzePage, and at the end closes the results file, exports the workbook and gives the window
// back. It reaches the window only through the callbacks of window_link.h.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/platform/clock.h"
#include "engine/proxy_list.h"
#include "engine/request_pacing.h"
#include "engine/scraping_thread.h"
#include "engine/window_link.h"

namespace mirava::engine {

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
};

class TScraper : public std::enable_shared_from_this<TScraper> {
 public:
  // Created suspended; the window sets Controls, then calls Start. Once started, the run keeps
  // itself alive and frees itself when its thread ends; callers keep a weak reference.
  static std::shared_ptr<TScraper> Create(RunEnvironment environment);
  ~TScraper();

  WindowControls Controls;

  void Start();

  // Window-thread actions. A stop lifts a pause first.
  void Stop();
  void Pause();
  void Resume();
  bool IsPaused() const;
  // True once the run has given the window back (its last callback has run); from then on
  // Pause, Resume and Stop have no effect on it.
  bool HasEnded() const;

 private:
  explicit TScraper(RunEnvironment environment);
  struct Run;
  RunEnvironment environment_;
  // The run itself lives in the .cpp.
  std::unique_ptr<Run> run_;
};

}  // namespace mirava::engine
