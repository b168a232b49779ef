#pragma once
// The one way out of a run: the coordinator and the workers announce through it, and it hands
// each event to the front end's IRunEvents under one lock, so events leave in the order they
// happened. It stamps log lines with the local time and writes each, as the window's pane shows
// it, to the run's log file once the run has opened one (the lines before that are kept until
// then). It is the one place that catches what a front end throws: the run's steps never see a
// front end's failure, and the coordinator asks for it at its own time (TakeRefusal).
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_events.h"
#include "output/run_log.h"

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
  void PagesUnrecognised(const std::string& message);
  void BaseUnavailable(const std::string& message);
  void Ended(RunOutcome outcome, const std::string& message);

  // The message of the first event the front end refused since the last call; a refused line is
  // neither shown nor written to the log file.
  std::optional<std::string> TakeRefusal();

  // From now on every line goes to `log`, the lines of the run so far first. A line the file
  // refuses is not an error of the step that announced it: the log stops there, and SyncLog
  // reports the failure once.
  void AttachLog(std::unique_ptr<output::RunLogWriter> log);
  // Makes the log's lines durable; throws std::runtime_error with the failure of a write or sync.
  void SyncLog();
  // The log file ends here: later lines reach the front end only. Throws as SyncLog.
  void CloseLog();

 private:
  void Emit(std::string line);
  // Hands one event over; true when the front end took it.
  template <typename Event>
  bool Deliver(Event&& event);
  void ThrowLogFailure();

  std::shared_ptr<IRunEvents> events_;
  LogTimestampSource timestamp_;
  mutable std::mutex
      mutex_;  // held while an event is handed over or a line written, never while waiting
  std::vector<std::string> pending_;  // lines before the log file is open, as the pane shows them
  std::unique_ptr<output::RunLogWriter> log_;
  bool log_closed_ = false;
  std::string log_failure_;
  std::optional<std::string> refusal_;
};

}  // namespace mirava::engine
