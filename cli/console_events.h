#pragma once
// The run's events as mirava-cli shows them. The run's threads only queue an event here; the
// main thread takes them off and writes: log lines to standard output, progress to standard
// error (one live line on a terminal, else a plain line every few seconds).
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine/run_events.h"

namespace mirava::cli {

class ConsoleEvents final : public engine::IRunEvents {
 public:
  void BusyChanged(bool busy) override;
  void LogLine(const std::string& line) override;
  void ProgressChanged(const engine::RunProgress& progress) override;
  void PagesUnrecognised(const std::string& message) override;
  void RunEnded(engine::RunOutcome outcome, const std::string& message) override;

  struct Event {
    enum class Kind { Log, Progress, PagesUnrecognised, Ended } Type = Kind::Log;
    std::string Text;
    engine::RunProgress Progress;
    engine::RunOutcome Outcome = engine::RunOutcome::Failed;
  };
  // Waits up to `timeout` for an event; on the main thread.
  std::optional<Event> Next(std::chrono::milliseconds timeout);

 private:
  void Push(Event event);

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Event> events_;
};

// "страниц 12 из 40, строк 10, прошло 0:01:23, осталось ~0:03:10"
std::string ProgressText(const engine::RunProgress& progress, std::chrono::seconds elapsed);

// Writes progress to `out`: on a terminal one line redrawn in place, elsewhere one plain line
// every `plain_every`. `account`, when given, adds a short text to the line when it has one (the
// proxies' standing).
class ProgressPrinter {
 public:
  ProgressPrinter(std::FILE* out, bool terminal, std::chrono::seconds plain_every,
                  std::function<std::string()> account = {});
  void Update(const engine::RunProgress& progress, std::chrono::steady_clock::time_point now);
  // Before a log line goes to a terminal that also shows the live line.
  void ClearLine();
  void Redraw(std::chrono::steady_clock::time_point now);
  void Finish(std::chrono::steady_clock::time_point now);

 private:
  void Print(std::chrono::steady_clock::time_point now);
  std::string Text(std::chrono::steady_clock::time_point now) const;
  std::chrono::seconds Elapsed(std::chrono::steady_clock::time_point now) const;

  std::FILE* out_;
  bool terminal_;
  std::chrono::seconds plain_every_;
  std::function<std::string()> account_;
  std::chrono::steady_clock::time_point started_;
  std::optional<std::chrono::steady_clock::time_point> printed_;
  std::optional<engine::RunProgress> last_;
  std::string printed_text_;
  bool shown_ = false;
};

}  // namespace mirava::cli
