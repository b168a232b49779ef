#pragma once
// The one way out of a run: the coordinator and the workers announce through it, and it hands
// each event to the front end's IRunEvents under one lock, so events leave in the order they
// happened. It stamps log lines with the local time and keeps every line of the run, as the
// window's pane shows them, for the run's log file.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_events.h"

namespace mirava::engine {

// The local date and time for a log line: the short date, one space and the long time; the time
// is left out at exactly 00:00:00.
using LogTimestampSource = std::function<std::string()>;

class RunEventChannel {
 public:
  RunEventChannel(std::shared_ptr<IRunEvents> events, LogTimestampSource timestamp);

  // Busy on also starts the run's kept log afresh, as the pane is cleared.
  void Busy(bool busy);
  void Line(std::string_view message);
  // A worker's line: its proxy's host is shown before the colon.
  void WorkerLine(std::string_view proxy, std::string_view message);
  void Progress(const RunProgress& progress);
  void AutoPauseArmed(std::chrono::milliseconds delay);
  void PagesUnrecognised(const std::string& message);
  void Ended(RunOutcome outcome, const std::string& message);

  // The kept lines as the pane's text: lines separated by "\n".
  std::string LogText() const;

 private:
  void Emit(std::string line);

  std::shared_ptr<IRunEvents> events_;
  LogTimestampSource timestamp_;
  mutable std::mutex mutex_;  // held while an event is handed over, never while waiting
  std::vector<std::string> lines_;
};

}  // namespace mirava::engine
