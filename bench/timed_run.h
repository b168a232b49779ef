#pragma once
// What the benchmarks of whole runs share: the run's events, which count the fetched pages and
// rows and note when the outcome line arrives, and a run started and waited for until it has
// freed itself.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include "engine/run_events.h"
#include "engine/scraper.h"
#include "platform/clock.h"

namespace mirava::bench {

// Called one event at a time; read once the run is gone.
class OutcomeClock final : public engine::IRunEvents {
 public:
  void BusyChanged(bool) override {}
  void LogLine(const std::string& line) override {
    if (line.find(": успешно") != std::string::npos) {
      ++fetched_;
    }
    if (line.find("Сбор данных завершен") != std::string::npos) {
      outcome_at_ = std::chrono::steady_clock::now();
    }
  }
  void ProgressChanged(const engine::RunProgress& progress) override { rows_ = progress.Rows; }
  void RunEnded(engine::RunOutcome, const std::string&) override {}
  std::chrono::steady_clock::time_point OutcomeAt() const { return outcome_at_; }
  int Fetched() const { return fetched_; }
  long long Rows() const { return rows_; }

 private:
  std::chrono::steady_clock::time_point outcome_at_{};
  int fetched_ = 0;
  long long rows_ = 0;
};

// A run's environment on the system clock, with a request lock of this process's own and no
// workbook opened; the caller adds its time-outs.
inline engine::RunEnvironment BenchEnvironment() {
  engine::RunEnvironment environment;
  environment.Clock = platform::MakeSystemClock();
  environment.Pacing = std::make_shared<engine::PacingState>();
  environment.Rotation = std::make_shared<engine::ProxyRotation>();
  environment.RequestMutexName = "MiravaParserMutex-bench-" + std::to_string(getpid());
  environment.OpenWorkbook = [](const std::string&) {};
  return environment;
}

struct TimedRun {
  std::shared_ptr<OutcomeClock> Events;
  // From the start to the outcome line: the export after it is not timed.
  double Seconds = 0;
};

// Runs `request` to its end with fresh events in `environment`.
inline TimedRun RunToEnd(engine::RunEnvironment environment, const engine::RunRequest& request) {
  TimedRun timed{std::make_shared<OutcomeClock>()};
  environment.Events = timed.Events;
  std::weak_ptr<engine::TScraper> run;
  const auto started = std::chrono::steady_clock::now();
  {
    std::shared_ptr<engine::TScraper> scraper = engine::TScraper::Create(environment, request);
    scraper->Start();
    run = scraper;
  }
  while (!run.expired()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  timed.Seconds = std::chrono::duration<double>(timed.Events->OutcomeAt() - started).count();
  return timed;
}

}  // namespace mirava::bench
