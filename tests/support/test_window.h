#pragma once
// The window as the run's tests see it: the selection and limits a run starts from, and a
// recorder of every event the run announces, kept as the window would show it. Safe to read from
// the test thread while a run goes on.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/run_events.h"
#include "tests/support/fake_directory.h"

namespace mirava::testing {

class EventRecorder final : public engine::IRunEvents {
 public:
  // Asked with a short description of each event ("busy on", "log <line>", "progress 1/4",
  // "ended"); a message makes the event throw it instead of being recorded.
  using FailureRule = std::function<std::optional<std::string>(const std::string& event)>;

  void BusyChanged(bool busy) override;
  void LogLine(const std::string& line) override;
  void ProgressChanged(const engine::RunProgress& progress) override;
  void PagesUnrecognised(const std::string& message) override;
  void BaseUnavailable(const std::string& message) override;
  void RunEnded(engine::RunOutcome outcome, const std::string& message) override;

  void FailEvents(FailureRule rule);
  void ClearLog();

  std::vector<std::string> Log() const;
  // "clear log", "disable Start", "disable Cities", "disable Cats" and back, as the window does.
  std::vector<std::string> Events() const;
  std::vector<std::string> Alarms() const;        // every unrecognised-pages message, in order
  std::vector<std::string> BaseFailures() const;  // every base-unavailable message, in order
  std::vector<std::string> Hints() const;         // every hint the bar was given
  std::string ProgressHint() const;
  int ProgressPosition() const;
  int ProgressMax() const;
  long long Rows() const;
  bool StartEnabled() const;
  std::optional<engine::RunOutcome> Outcome() const;
  std::string EndMessage() const;

 private:
  void Check(const std::string& event) const;

  mutable std::mutex mutex_;
  FailureRule rule_;
  std::vector<std::string> log_;
  std::vector<std::string> events_;
  std::vector<std::string> alarms_;
  std::vector<std::string> base_failures_;
  std::vector<std::string> hints_;
  int position_ = 0;
  int maximum_ = 100;
  long long rows_ = 0;
  bool start_enabled_ = true;
  std::optional<engine::RunOutcome> outcome_;
  std::string end_message_;
};

class TestWindow {
 public:
  std::shared_ptr<EventRecorder> events = std::make_shared<EventRecorder>();

  void AddCity(std::string name, std::optional<std::string> value, bool selected);
  void AddCategory(std::string name, std::optional<std::string> value, bool selected);
  void ClearCities() { cities_.clear(); }
  // Selects every city and category of an invented directory served at `origin`.
  void SelectAllOf(const FakeDirectory& directory, const std::string& origin);
  void SetUseProxy(bool on) { use_proxy_ = on; }
  void SetLimit(int threads) { limit_ = threads; }
  void SetInterval(int seconds) { interval_ = seconds; }
  // What the start button would hand a run.
  engine::RunRequest Request(const std::string& folder) const;

  std::vector<std::string> Log() const { return events->Log(); }
  std::vector<std::string> Events() const { return events->Events(); }
  int ProgressPosition() const { return events->ProgressPosition(); }
  int ProgressMax() const { return events->ProgressMax(); }
  std::string ProgressHint() const { return events->ProgressHint(); }
  bool StartEnabled() const { return events->StartEnabled(); }

 private:
  struct Item {
    std::string name;
    std::optional<std::string> value;
    bool selected = false;
  };
  std::vector<Item> cities_;
  std::vector<Item> categories_;
  bool use_proxy_ = false;
  int limit_ = 1;
  int interval_ = 0;
};

}  // namespace mirava::testing
